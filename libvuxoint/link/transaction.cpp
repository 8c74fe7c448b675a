// The command transaction: frame the request, arm the three answer buffers,
// write, wait, and repeat on the instrument's demand or on silence.
#include <cstring>

#include "comm.h"
#include "frame.h"
#include "le.h"
#include "link.h"

namespace {

constexpr int kResultFailed = 1;
constexpr int kResultSilent = 255;
constexpr int kInvalid = -1;

// The answer buffer holds any frame the receiver can assemble, so an answer
// longer than 4,083 payload bytes arrives whole instead of being lost.
constexpr int kAnswerCap = static_cast<int>(vuxo::kRxCapacity);
constexpr int kMessageCap = 1024;

struct Outputs {
    void* response;
    int response_cap;
    int* out_len;
    int* out_word;
    int* out_status;
};

void report_frame(const unsigned char* frame, const Outputs& out) {
    if (out.out_word != nullptr) {
        *out.out_word = vuxo::load_le<uint16_t>(frame + vuxo::kOffWord);
    }
    if (out.out_status != nullptr) {
        *out.out_status = frame[vuxo::kOffStatus];
    }
}

int take_answer(const unsigned char* frame, int count, const Outputs& out) {
    report_frame(frame, out);
    const int status = frame[vuxo::kOffStatus];
    const int payload = count - static_cast<int>(vuxo::kHeaderSize) - 1;
    if (status == 0 && payload > 0 && payload <= out.response_cap && out.response != nullptr) {
        std::memcpy(out.response, frame + vuxo::kHeaderSize, static_cast<std::size_t>(payload));
        if (out.out_len != nullptr) {
            *out.out_len = payload;
        }
    }
    return status == 0 ? 0 : kResultFailed;
}

int exchange(int conn_id, int command, const unsigned char* frame, int frame_len, int attempts,
             int timeout_ms, const Outputs& out) {
    unsigned char answer[kAnswerCap];
    unsigned char error[kMessageCap];
    unsigned char resend[kMessageCap];
    comm_hook_response(conn_id, (command + vuxo::kAnswerIdOffset) & 0xFFFF, answer, kAnswerCap,
                       MXX_MSG_ERROR, error, kMessageCap, MXX_MSG_RESEND, resend, kMessageCap);
    int result = kResultSilent;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const int written = comm_write(conn_id, frame, frame_len, 0, timeout_ms);
        if (written != 0) {
            result = written;
            continue;
        }
        int answer_count = 0;
        int error_count = 0;
        int resend_count = 0;
        comm_wait_response(conn_id, &answer_count, &error_count, &resend_count, timeout_ms);
        if (answer_count != 0) {
            result = take_answer(answer, answer_count, out);
            break;
        }
        if (error_count != 0) {
            report_frame(error, out);
            result = kResultFailed;
            break;
        }
        if (resend_count != 0) {
            // The instrument did not carry the command out: if no attempt is
            // left this must not read as success, whatever its status byte.
            report_frame(resend, out);
            result = kResultFailed;
            continue;
        }
        result = kResultSilent;
    }
    comm_unhook_response(conn_id);
    return result;
}

} // namespace

extern "C" VUXO_API int MXX_send_cmd(int conn_id, int command, const void* request, int request_len,
                                     void* response, int response_cap, int* out_len, int* out_word,
                                     int* out_status, int timeout_ms, int wait) {
    if (request_len < 0 || request_len > vuxo::kMaxRequestPayload ||
        (request_len > 0 && request == nullptr)) {
        return kInvalid;
    }
    const int attempts = vuxo::link_num_try(conn_id);

    unsigned char frame[vuxo::kMaxRequestFrame];
    const auto frame_len = static_cast<int>(vuxo::build_frame(
        frame, static_cast<uint16_t>(command), static_cast<uint16_t>(timeout_ms), 0,
        static_cast<const unsigned char*>(request), static_cast<std::size_t>(request_len)));

    if (wait == 0) {
        // Never repeated and never waited for, whatever num_try is.
        return attempts < 1 ? kResultSilent : comm_write(conn_id, frame, frame_len, 0, timeout_ms);
    }
    const Outputs out{response, response_cap, out_len, out_word, out_status};
    return exchange(conn_id, command, frame, frame_len, attempts, timeout_ms, out);
}
