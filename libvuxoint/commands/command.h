// What every command function is made of: a command's number, time-out and
// answer capacity, and the single transaction call built from them.
#ifndef VUXO_COMMAND_H
#define VUXO_COMMAND_H

#include <array>
#include <cstddef>
#include <cstdint>

#include "le.h"
#include "mxx_comm.h"

namespace vuxo {

struct Command {
    int number;
    int timeout_ms;
    int answer_cap; // bytes the answer may copy into its destination; 0: none
};

// One transaction for cmd: request_len bytes of request, the answer into
// response (up to cmd.answer_cap bytes), no optional outputs.
inline int send(int conn_id, const Command& cmd, const void* request, int request_len,
                void* response, int wait) {
    return MXX_send_cmd(conn_id, cmd.number, request, request_len, response, cmd.answer_cap,
                        nullptr, nullptr, nullptr, cmd.timeout_ms, wait);
}

// One transaction whose request is the given 32-bit values, one after another.
template <std::size_t N>
int send_values(int conn_id, const Command& cmd, const std::array<int32_t, N>& values,
                void* response, int wait) {
    unsigned char request[4 * N];
    for (std::size_t i = 0; i < N; ++i) {
        store_le<int32_t>(request + 4 * i, values[i]);
    }
    return send(conn_id, cmd, request, static_cast<int>(sizeof request), response, wait);
}

// The serial-number request both identifies an instrument and reads its serial.
inline constexpr Command kSerialCommand{8007, 100, 8};

// Type codes that detection reports, and the first serial-number character
// that tells each generation.
inline constexpr int kTypeFirstGeneration = 5;
inline constexpr int kTypeSecondGeneration = 10;
inline constexpr int kSerialFirstGeneration = '5';
inline constexpr int kSerialSecondGeneration = 'A';

// Detection reads the received frame as the link layer holds it: header first.
// The first payload byte, or -1 when the frame carries no payload (a header
// alone, or only the check byte of an empty payload): the byte at offset 12 is
// then not the instrument's, and may be left over from an earlier frame.
int first_payload_byte(const unsigned char* frame);
// Whether frame answers the serial-number request.
bool is_serial_answer(const unsigned char* frame);

} // namespace vuxo

#endif
