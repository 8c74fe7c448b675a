// The command transaction: frame the request, arm the three answer buffers,
// let answers still owed for earlier requests go by, write, wait, and repeat
// on the instrument's demand or on silence.
#include <cstring>

#include "comm.h"
#include "frame.h"
#include "le.h"
#include "link.h"

namespace {

constexpr int kResultFailed = 1;
constexpr int kResultSilent = 255;
constexpr int kInvalid = -1;
constexpr int kClosed = -COMM_ENOTCONN;
constexpr int kGone = -COMM_ENOENT;
constexpr int kMessageCap = 1024;

// A command's buffers live on its caller's stack, sized by what the command
// can accept: a request and an answer of up to 4,595 payload bytes each fit
// the small set (about 11 KB); only a larger request or capacity takes the
// full set for the largest request and the largest frame the receiver
// assembles (about 130 KB).
constexpr std::size_t kSmallFrame = 4608;
constexpr std::size_t kFullRequest = vuxo::kMaxRequestFrame;
constexpr std::size_t kFullAnswer = vuxo::kRxCapacity;

struct Request {
    int conn_id;
    int command;
    const unsigned char* payload;
    int len;
    int timeout_ms;
    int wait;
};

struct Outputs {
    void* response;
    int response_cap;
    int* out_len;
    int* out_word;
    int* out_status;
};

struct Answers {
    unsigned char* answer;
    int answer_cap;
    unsigned char* error;
    unsigned char* resend;
};

uint16_t answer_id_of(const Request& rq) {
    return static_cast<uint16_t>((rq.command + vuxo::kAnswerIdOffset) & 0xFFFF);
}

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

void hook(const Request& rq, const Answers& a) {
    comm_hook_response(rq.conn_id, answer_id_of(rq), a.answer, a.answer_cap, MXX_MSG_ERROR, a.error,
                       kMessageCap, MXX_MSG_RESEND, a.resend, kMessageCap);
}

// Waits until every answer the connection still owes for earlier requests
// has gone by, or the connection stayed quiet for twice the longest time-out
// among them. false when the connection closed meanwhile.
bool let_owed_answers_go_by(const Request& rq, int wait_ms) {
    const uint16_t answer_id = answer_id_of(rq);
    while (wait_ms > 0) {
        int counts[3] = {0, 0, 0};
        const int waited =
            comm_wait_response(rq.conn_id, &counts[0], &counts[1], &counts[2], wait_ms);
        if (waited == kClosed || waited == kGone) {
            return false;
        }
        wait_ms = 0;
        vuxo::with_ledger(rq.conn_id, [&](vuxo::AnswerLedger& ledger, int) {
            if (waited != 0) {
                ledger.forget(); // quiet for the whole wait: nothing owed comes any more
            }
            wait_ms = ledger.begin(answer_id, vuxo::monotonic_ms());
        });
    }
    return true;
}

int exchange(const Request& rq, const unsigned char* frame, int frame_len, const Answers& a,
             const Outputs& out) {
    hook(rq, a);
    int owed_wait = 0;
    const int attempts = vuxo::link_num_try(rq.conn_id, [&](vuxo::AnswerLedger& ledger, int n) {
        owed_wait = ledger.begin(answer_id_of(rq), vuxo::monotonic_ms());
        if (n < 1 && owed_wait == 0) {
            ledger.unsent(); // no write will be made
        }
    });
    int result = kResultSilent;
    if (owed_wait > 0) {
        const bool open = let_owed_answers_go_by(rq, owed_wait);
        // What the buffers caught meanwhile belongs to earlier requests.
        hook(rq, a);
        if (!open) {
            result = kClosed;
        } else if (attempts < 1) {
            vuxo::with_ledger(rq.conn_id, [](vuxo::AnswerLedger& ledger, int) { ledger.unsent(); });
        }
    }
    for (int attempt = 0; attempt < attempts && result != kClosed; ++attempt) {
        if (attempt > 0) {
            vuxo::with_ledger(rq.conn_id, [](vuxo::AnswerLedger& ledger, int) { ledger.sent(); });
        }
        const int written = comm_write(rq.conn_id, frame, frame_len, 0, rq.timeout_ms);
        if (written != 0) {
            vuxo::with_ledger(rq.conn_id, [](vuxo::AnswerLedger& ledger, int) { ledger.unsent(); });
            result = written;
            continue;
        }
        int answer_count = 0;
        int error_count = 0;
        int resend_count = 0;
        const int waited = comm_wait_response(rq.conn_id, &answer_count, &error_count,
                                              &resend_count, rq.timeout_ms);
        if (answer_count != 0) {
            result = take_answer(a.answer, answer_count, out);
            break;
        }
        if (error_count != 0) {
            report_frame(a.error, out);
            result = kResultFailed;
            break;
        }
        if (resend_count != 0) {
            // The instrument did not carry the command out: if no attempt is
            // left this must not read as success, whatever its status byte.
            report_frame(a.resend, out);
            result = kResultFailed;
            continue;
        }
        // A connection that closes while the command waits (or is gone by the
        // time it waits) ends the command at once, whatever attempts are
        // left: the same result for any number of attempts.
        result = waited == kClosed || waited == kGone ? kClosed : kResultSilent;
    }
    comm_unhook_response(rq.conn_id);
    vuxo::with_ledger(rq.conn_id, [&](vuxo::AnswerLedger& ledger, int) {
        ledger.finish(rq.timeout_ms, vuxo::monotonic_ms());
    });
    return result;
}

// Written once, never waited for; its answer is owed from before the write,
// since it may come back before the write call returns.
int send_unawaited(const Request& rq, const unsigned char* frame, int frame_len) {
    const uint16_t answer_id = answer_id_of(rq);
    const int attempts = vuxo::link_num_try(rq.conn_id, [&](vuxo::AnswerLedger& ledger, int n) {
        if (n >= 1) {
            ledger.sent_unawaited(answer_id, rq.timeout_ms, vuxo::monotonic_ms());
        }
    });
    if (attempts < 1) {
        return kResultSilent;
    }
    const int written = comm_write(rq.conn_id, frame, frame_len, 0, rq.timeout_ms);
    if (written != 0) {
        vuxo::with_ledger(rq.conn_id, [&](vuxo::AnswerLedger& ledger, int) {
            ledger.unsent_unawaited(answer_id);
        });
    }
    return written;
}

// One instantiation per buffer size; never inlined, so a call's stack holds
// only the set it uses.
template <std::size_t RequestCap, std::size_t AnswerCap>
[[gnu::noinline]] int transact(const Request& rq, const Outputs& out) {
    unsigned char frame[RequestCap];
    const auto frame_len = static_cast<int>(vuxo::build_frame(
        frame, static_cast<uint16_t>(rq.command), static_cast<uint16_t>(rq.timeout_ms), 0,
        rq.payload, static_cast<std::size_t>(rq.len)));
    if (rq.wait == 0) {
        // Never repeated and never waited for, whatever num_try is.
        return send_unawaited(rq, frame, frame_len);
    }
    unsigned char answer[AnswerCap];
    unsigned char error[kMessageCap];
    unsigned char resend[kMessageCap];
    const Answers a{answer, static_cast<int>(AnswerCap), error, resend};
    return exchange(rq, frame, frame_len, a, out);
}

} // namespace

extern "C" VUXO_API int MXX_send_cmd(int conn_id, int command, const void* request, int request_len,
                                     void* response, int response_cap, int* out_len, int* out_word,
                                     int* out_status, int timeout_ms, int wait) {
    if (request_len < 0 || request_len > vuxo::kMaxRequestPayload ||
        (request_len > 0 && request == nullptr)) {
        return kInvalid;
    }
    const Request rq{conn_id,     command,    static_cast<const unsigned char*>(request),
                     request_len, timeout_ms, wait};
    const Outputs out{response, response_cap, out_len, out_word, out_status};
    constexpr int kSmallPayload = static_cast<int>(kSmallFrame - vuxo::kHeaderSize - 1);
    const bool full_request = request_len > kSmallPayload;
    const bool full_answer = wait != 0 && response_cap > kSmallPayload;
    if (full_request) {
        return full_answer ? transact<kFullRequest, kFullAnswer>(rq, out)
                           : transact<kFullRequest, kSmallFrame>(rq, out);
    }
    return full_answer ? transact<kSmallFrame, kFullAnswer>(rq, out)
                       : transact<kSmallFrame, kSmallFrame>(rq, out);
}
