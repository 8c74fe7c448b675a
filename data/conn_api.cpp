// The connection forms for every front: the tool and the Python package read a
// CONN through this one function.
#include <algorithm>
#include <cstring>
#include <exception>

#include "c_text.h"
#include "conn_target.h"
#include "vuxodata.h"
#include "vuxoint.h"

namespace {

int conn_strings(const char* conn, char* out, int capacity, int* count, char* why,
                 size_t why_size) {
    std::string reason;
    const std::optional<vuxocli::ConnTarget> target = vuxocli::parse_conn(conn, &reason);
    if (!target) {
        vuxocli::copy_text(why, why_size, std::string("CONN \"") + conn + "\": " + reason);
        return VUXOD_E_CONN_FORM;
    }
    int code = VUXOD_OK;
    const std::vector<std::string> strings = vuxocli::conn_strings(*target, &code, &reason);
    if (strings.empty()) {
        vuxocli::copy_text(why, why_size, reason);
        return code;
    }
    *count = 0;
    for (const std::string& s : strings) {
        if (*count == capacity) {
            break;
        }
        vuxocli::copy_text(out + static_cast<size_t>(*count) * VUXO_CONN_STRING_SIZE,
                           VUXO_CONN_STRING_SIZE, s);
        ++*count;
    }
    return VUXOD_OK;
}

} // namespace

extern "C" int vuxod_conn_strings(const char* conn, char* out, int capacity, int* count, char* why,
                                  size_t why_size) {
    if (conn == nullptr || out == nullptr || count == nullptr || capacity < 1) {
        return VUXOD_E_ARGUMENT;
    }
    try {
        return conn_strings(conn, out, capacity, count, why, why_size);
    } catch (const std::exception&) {
        return VUXOD_E_NO_MEMORY;
    }
}

extern "C" const char* vuxod_conn_forms_help(void) {
    return vuxocli::conn_forms_help();
}
