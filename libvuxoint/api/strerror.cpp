// Result codes in words.
#include <climits>
#include <cstring>

#include "vuxoint.h"

extern "C" {

VUXO_API const char* vuxo_strerror(int code) {
    switch (code) {
    case VUXO_OK:
        return "success";
    case VUXO_EINSTRUMENT:
        return "the instrument reported a failure";
    case VUXO_ETIMEOUT:
        return "no answer from the instrument in time";
    case VUXO_EREFUSED:
        return "refused by the library: a bad argument, nothing was sent";
    case VUXO_ECLOSED:
        return "the connection is closed: it ended before or while the command waited";
    default:
        break;
    }
    if (code < 0 && code != INT_MIN) {
        // glibc's own table: static texts, unlike strerror's buffer for unknown numbers.
        const char* text = strerrordesc_np(-code);
        if (text != nullptr) {
            return text;
        }
        return "unknown transport error";
    }
    return "unknown result code";
}

} // extern "C"
