// Answers owed per connection (see answer_ledger.h and mxx_comm.h).
//
// The counts live in the link record, not in the transport: only the link
// layer knows which message answers which request (command + 1000, or an
// error or resend message instead), and the transport knows nothing of frames.
#include "answer_ledger.h"

#include <algorithm>
#include <chrono>

#include "mxx_comm.h"

namespace vuxo {
namespace {

constexpr uint32_t kCountMask = 0xFFFF;

uint32_t pack(uint16_t id, uint32_t count) {
    return (static_cast<uint32_t>(id) << 16) | std::min(count, kCountMask);
}
uint16_t id_of(uint32_t v) {
    return static_cast<uint16_t>(v >> 16);
}
uint32_t count_of(uint32_t v) {
    return v & kCountMask;
}
bool is_stand_in(uint16_t id) {
    return id == MXX_MSG_ERROR || id == MXX_MSG_RESEND;
}

} // namespace

int64_t monotonic_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void AnswerLedger::owe(uint16_t id, uint32_t n, int timeout_ms, int64_t now_ms) {
    if (n == 0) {
        return;
    }
    int32_t longest = owed_timeout_ms_.load();
    while (timeout_ms > longest && !owed_timeout_ms_.compare_exchange_weak(longest, timeout_ms)) {
    }
    last_settled_ms_.store(now_ms);
    // Two passes: add to the entry of this id, else take a free one. When all
    // are taken the last entry counts the rest under its own id: waits for
    // quiet still cover them, only their early drop is lost.
    for (int pass = 0; pass < 2; ++pass) {
        for (std::atomic<uint32_t>& slot : owed_) {
            uint32_t v = slot.load();
            while (pass == 0 ? (count_of(v) > 0 && id_of(v) == id) : count_of(v) == 0) {
                const uint32_t next = pass == 0 ? pack(id, count_of(v) + n) : pack(id, n);
                if (slot.compare_exchange_weak(v, next)) {
                    return;
                }
            }
        }
    }
    std::atomic<uint32_t>& last = owed_[kSlots - 1];
    uint32_t v = last.load();
    while (!last.compare_exchange_weak(v, pack(id_of(v), count_of(v) + n))) {
    }
}

bool AnswerLedger::settle(uint16_t id, bool any_id) {
    for (std::atomic<uint32_t>& slot : owed_) {
        uint32_t v = slot.load();
        while (count_of(v) > 0 && (any_id || id_of(v) == id)) {
            if (slot.compare_exchange_weak(v, v - 1)) {
                return true;
            }
        }
    }
    return false;
}

bool AnswerLedger::empty() const {
    return std::all_of(std::begin(owed_), std::end(owed_), [](const std::atomic<uint32_t>& slot) {
        return count_of(slot.load()) == 0;
    });
}

int AnswerLedger::begin(uint16_t answer_id, int64_t now_ms) {
    armed_id_.store(answer_id);
    if (!empty()) {
        // An instrument slower than the time-out answers the requests queued
        // at it one latency apart, and that latency is above the time-out:
        // quiet for one time-out proves nothing yet, for two it covers any
        // instrument up to twice as slow as the time-out allows.
        const int64_t left =
            last_settled_ms_.load() + 2 * int64_t{owed_timeout_ms_.load()} - now_ms;
        if (left >= 0) {
            phase_.store(kSettling);
            return static_cast<int>(std::max<int64_t>(left, 1));
        }
        forget();
    }
    inflight_.store(1);
    phase_.store(kWaiting);
    return 0;
}

void AnswerLedger::forget() {
    for (std::atomic<uint32_t>& slot : owed_) {
        slot.store(0);
    }
    owed_timeout_ms_.store(0);
}

void AnswerLedger::sent() {
    inflight_.fetch_add(1);
}

void AnswerLedger::unsent() {
    int32_t n = inflight_.load();
    while (n > 0 && !inflight_.compare_exchange_weak(n, n - 1)) {
    }
}

void AnswerLedger::finish(int timeout_ms, int64_t now_ms) {
    // Owed first, then idle: an answer that arrives in between finds itself
    // owed and is dropped. One that slips in before the count is read makes an
    // owed answer that never comes: the next transaction waits for quiet, and
    // no answer is ever taken for the wrong request.
    const int32_t unanswered = inflight_.exchange(0);
    if (phase_.load() == kWaiting && unanswered > 0) {
        owe(static_cast<uint16_t>(armed_id_.load()), static_cast<uint32_t>(unanswered), timeout_ms,
            now_ms);
    }
    phase_.store(kIdle);
    armed_id_.store(-1);
}

void AnswerLedger::sent_unawaited(uint16_t answer_id, int timeout_ms, int64_t now_ms) {
    owe(answer_id, 1, timeout_ms, now_ms);
}

void AnswerLedger::unsent_unawaited(uint16_t answer_id) {
    settle(answer_id, false);
}

bool AnswerLedger::pass(uint16_t id) {
    // The instrument sends an error or resend message instead of an answer, so
    // while anything is owed such a message pays one debt, whichever its id.
    if (settle(id, is_stand_in(id))) {
        last_settled_ms_.store(monotonic_ms());
        return phase_.load() == kSettling;
    }
    if (phase_.load() == kWaiting && (is_stand_in(id) || id == armed_id_.load())) {
        unsent(); // one of the transaction's writes is answered
    }
    return true;
}

} // namespace vuxo
