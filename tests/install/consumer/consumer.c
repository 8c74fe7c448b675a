/* A program of a library user: built against the installed headers and libraries. */
#include <stdio.h>
#include <string.h>
#include <vuxoint.h>

int main(void) {
    int conn_id = 7;
    char out[VUXO_CONN_STRING_SIZE];
    if (vuxo_library_init() != 0) {
        fprintf(stderr, "init failed\n");
        return 1;
    }
    if (vuxo_connect("", &conn_id, 100, NULL, NULL, NULL, NULL, NULL) != 255 || conn_id != -1) {
        fprintf(stderr, "empty connection string was accepted\n");
        return 1;
    }
    if (vuxo_strerror(VUXO_ETIMEOUT) == NULL || vuxo_strerror(-12345) == NULL) {
        fprintf(stderr, "a result code without words\n");
        return 1;
    }
    if (vuxo_get_type(12345) != -1) {
        fprintf(stderr, "unknown connection has a type\n");
        return 1;
    }
    if (vuxo_make_net_conn_string(out, "127.0.0.1", 4000) != 0 || strlen(out) == 0) {
        fprintf(stderr, "no network connection string\n");
        return 1;
    }
    vuxo_library_shut();
    printf("consumer: %s\n", out);
    return 0;
}
