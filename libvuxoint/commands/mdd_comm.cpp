// Generation detection: the first character of any frame's payload tells the
// generation, whatever the frame's id.
#include "mdd_comm.h"

#include "command.h"
#include "m17_comm.h"

namespace {

constexpr int kTypeUnknown = 0;

int type_of(const unsigned char* frame) {
    switch (vuxo::first_payload_byte(frame)) {
    case vuxo::kSerialFirstGeneration:
        return vuxo::kTypeFirstGeneration;
    case vuxo::kSerialSecondGeneration:
        return vuxo::kTypeSecondGeneration;
    default:
        return kTypeUnknown;
    }
}

} // namespace

extern "C" {

VUXO_API int MDD_probe(int conn_id, int, unsigned char*, int) {
    return M17_get_serial(conn_id, nullptr, 0);
}

VUXO_API int MDD_test_probe(int, const unsigned char* frame, int* device_type, int) {
    const int type = type_of(frame);
    if (device_type != nullptr) {
        *device_type = type;
    }
    return type != kTypeUnknown ? 1 : 0;
}

} // extern "C"
