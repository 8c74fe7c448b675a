// Commands both generations understand, and the probe pair that accepts any
// instrument answering the serial-number request.
#include "m17_comm.h"

#include <array>
#include <cstring>

#include "command.h"
#include "frame.h"

using vuxo::Command;

namespace {

// clang-format off
//                                     number  time-out ms  answer capacity
constexpr Command kGetFwVersion      {8001,    1000,        8};
constexpr Command kGetTime           {8002,    1000,        24};
constexpr Command kSetTime           {8003,    1000,        0};
constexpr Command kGetSerial         = vuxo::kSerialCommand; // 8007, 100 ms, 8
constexpr Command kGetModelRev       {8008,    1000,        4};
constexpr Command kRestart           {8021,    1000,        0};
constexpr Command kEraseExtFlash     {8100,    60000,       4};
constexpr Command kReadExtFlash      {8101,    1000,        64};
constexpr Command kWriteExtFlash     {8102,    1000,        0};
constexpr Command kFlashFw           {8103,    30000,       0};
constexpr Command kSetSerial         {8104,    1000,        0};
constexpr Command kSetModelRev       {8105,    1000,        0};
// clang-format on

constexpr int kNoWait = 0;
constexpr int kInvalid = -1;
constexpr int kTimeRecordSize = 24;
constexpr int kSerialSize = 8;
constexpr int kTypeAnswered = 3;
constexpr int kLocationSize = 2;
// The location and the data together must fit the largest request payload.
constexpr uint32_t kMaxFlashData = vuxo::kMaxRequestPayload - kLocationSize;
// Writes up to this much data keep to the transaction's small buffers.
constexpr uint32_t kShortFlashData = 4096;

Command without_answer(Command cmd) {
    cmd.answer_cap = 0;
    return cmd;
}

// The request is built on the stack in a buffer sized for the data at hand,
// so a short write does not need the room of the longest.
template <std::size_t Room>
[[gnu::noinline]] int write_flash(int conn_id, uint16_t location, const void* data, uint32_t length,
                                  int wait) {
    unsigned char request[Room];
    vuxo::store_le<uint16_t>(request, location);
    if (length > 0) {
        std::memcpy(request + kLocationSize, data, length);
    }
    return vuxo::send(conn_id, kWriteExtFlash, request, kLocationSize + static_cast<int>(length),
                      nullptr, wait);
}

} // namespace

extern "C" {

VUXO_API int M17_get_fw_version(int conn_id, char* version, int wait) {
    if (version != nullptr) {
        std::memset(version, 0, static_cast<std::size_t>(kGetFwVersion.answer_cap));
    }
    return vuxo::send(conn_id, kGetFwVersion, nullptr, 0, version, wait);
}

VUXO_API int M17_get_time(int conn_id, void* record, int wait) {
    return vuxo::send(conn_id, kGetTime, nullptr, 0, record, wait);
}

VUXO_API int M17_set_time(int conn_id, const void* record, int wait) {
    return vuxo::send(conn_id, kSetTime, record, kTimeRecordSize, nullptr, wait);
}

VUXO_API int M17_get_serial(int conn_id, char* serial, int wait) {
    if (serial == nullptr) {
        return vuxo::send(conn_id, without_answer(kGetSerial), nullptr, 0, nullptr, wait);
    }
    // One byte more than the answer may fill, so the text is always terminated.
    std::memset(serial, 0, kSerialSize + 1);
    return vuxo::send(conn_id, kGetSerial, nullptr, 0, serial, wait);
}

VUXO_API int M17_get_model_rev(int conn_id, void* value, int wait) {
    return vuxo::send(conn_id, kGetModelRev, nullptr, 0, value, wait);
}

VUXO_API int M17_restart(int conn_id) {
    return vuxo::send(conn_id, kRestart, nullptr, 0, nullptr, kNoWait);
}

VUXO_API int M17_erase_ext_flash(int conn_id, void* result, int wait) {
    return vuxo::send(conn_id, kEraseExtFlash, nullptr, 0, result, wait);
}

VUXO_API int M17_read_ext_flash(int conn_id, uint16_t location, void* data, int wait) {
    std::array<unsigned char, kLocationSize> request{};
    vuxo::store_le<uint16_t>(request.data(), location);
    return vuxo::send(conn_id, kReadExtFlash, request.data(), kLocationSize, data, wait);
}

VUXO_API int M17_write_ext_flash(int conn_id, uint16_t location, const void* data, uint32_t length,
                                 int wait) {
    if (length > kMaxFlashData || (data == nullptr && length > 0)) {
        return kInvalid;
    }
    if (length <= kShortFlashData) {
        return write_flash<kLocationSize + kShortFlashData>(conn_id, location, data, length, wait);
    }
    return write_flash<kLocationSize + kMaxFlashData>(conn_id, location, data, length, wait);
}

VUXO_API int M17_flash_FW(int conn_id, int32_t first, int32_t second, int wait) {
    return vuxo::send_values(conn_id, kFlashFw, std::array{first, second}, nullptr, wait);
}

VUXO_API int M17_set_serial(int conn_id, const char* serial, int wait) {
    return vuxo::send(conn_id, kSetSerial, serial, kSerialSize, nullptr, wait);
}

VUXO_API int M17_set_model_rev(int conn_id, int32_t value, int wait) {
    return vuxo::send_values(conn_id, kSetModelRev, std::array{value}, nullptr, wait);
}

VUXO_API int M17_probe(int conn_id, int, unsigned char*, int) {
    return vuxo::send(conn_id, without_answer(kGetSerial), nullptr, 0, nullptr, kNoWait);
}

VUXO_API int M17_test_probe(int, const unsigned char* frame, int* device_type, int) {
    if (device_type != nullptr) {
        *device_type = kTypeAnswered;
    }
    // Any serial number will do, but an answer without one is no serial answer.
    return vuxo::is_serial_answer(frame) && vuxo::first_payload_byte(frame) >= 0 ? 1 : 0;
}

} // extern "C"
