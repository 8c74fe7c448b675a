// Placeholder transport: every call refuses until the real one lands.
#include "comm.h"

extern "C" {
int comm_init(comm_idle_wait_fn, int, int) { return -1; }
int comm_usb_register(int, int) { return -1; }
int comm_usb_deregister(void) { return -1; }
int comm_shut(void) { return -1; }
int comm_connect(int*, const char*, comm_event_proc, int, int, void*) { return -1; }
int comm_disconnect(int) { return -1; }
int comm_get_state(int) { return 0; }
int comm_signal_connected(int) { return -1; }
int comm_wait_connected(int, int) { return -1; }
int comm_write(int, const unsigned char*, int, int, int) { return -1; }
int comm_hook_response(int, int, unsigned char*, int, int, unsigned char*, int, int,
                       unsigned char*, int) {
    return -1;
}
int comm_unhook_response(int) { return -1; }
int comm_fill_rsp_buff(int, int, const unsigned char*, int) { return -1; }
int comm_wait_response(int, int* a, int* b, int* c, int) {
    *a = *b = *c = 0;
    return -1;
}
int comm_data_cntr_init(uint32_t* cursor) {
    *cursor = 0;
    return 0;
}
int comm_get_data(uint32_t*, int*, void**) { return 0; }
int comm_list_devices_usb(int, char*, int, int* count, const char*, const char*, int, int, int,
                          int) {
    *count = 0;
    return -1;
}
int comm_make_conn_string_usb(char*, const char*, int, int, int) { return -1; }
int comm_make_conn_string_serial(char*, uint16_t, int, int, int, int, int) { return -1; }
int comm_make_conn_string_serial_path(char*, const char*, int, int, int, int, int) { return -1; }
int comm_make_conn_string_bt(char*, const char*, const char*, int, int, const char*, int) {
    return -1;
}
int comm_make_conn_string_net(char*, const char*, uint16_t, int) { return -1; }
int comm_bt_is_available(void) { return -1; }
int comm_bt_discover(comm_bt_found_fn, int, void*) { return -1; }
int comm_bt_discover_cancel(void) { return -1; }
int comm_bt_discover_wait(int) { return -1; }
}
