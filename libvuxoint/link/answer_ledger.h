// What a connection is still owed: answers to requests it wrote but stopped
// waiting for, counted per answer id. The receive path drops such an answer
// when it comes, so it is never taken for a later request; a transaction lets
// every owed answer go by before it writes (rules in mxx_comm.h).
//
// Lock-free: transactions touch it on the caller's thread, the receive path
// and the probe on the transport's thread.
#ifndef VUXO_ANSWER_LEDGER_H
#define VUXO_ANSWER_LEDGER_H

#include <atomic>
#include <cstdint>

namespace vuxo {

class AnswerLedger {
  public:
    // Different answer ids owed at once; a connection that owes more has
    // stopped answering long ago, and the rest share the last entry.
    static constexpr int kSlots = 16;

    // Transaction, before its first write: `answer_id` is what it will wait
    // for. Returns how long (ms) to wait for owed answers to go by before
    // writing, or 0 to write now; at 0 the transaction counts as waiting, with
    // its first write counted as sent.
    int begin(uint16_t answer_id, int64_t now_ms);
    // The wait for owed answers (twice the longest time-out among them, from
    // the last debt made or paid) ran out with nothing coming: they are
    // forgotten.
    void forget();
    // A further write of the same request (a repeat), and a write that failed.
    void sent();
    void unsent();
    // Transaction end: writes still unanswered become owed, with their time-out.
    void finish(int timeout_ms, int64_t now_ms);

    // A request written without waiting for its answer, and its write failing.
    void sent_unawaited(uint16_t answer_id, int timeout_ms, int64_t now_ms);
    void unsent_unawaited(uint16_t answer_id);

    // Receive path, for each complete frame: whether to hand it on to the
    // transaction's buffers. An owed answer (or, while something is owed, an
    // error or resend message) settles one debt and is handed on only to wake a
    // transaction that waits for owed answers to go by, which never takes it.
    bool pass(uint16_t id);

  private:
    enum Phase : int32_t { kIdle, kSettling, kWaiting };

    void owe(uint16_t id, uint32_t n, int timeout_ms, int64_t now_ms);
    bool settle(uint16_t id, bool any_id);
    bool empty() const;

    std::atomic<uint32_t> owed_[kSlots]{};    // answer id << 16 | count; count 0: free
    std::atomic<int32_t> owed_timeout_ms_{0}; // the longest time-out among the owed
    std::atomic<int64_t> last_settled_ms_{0}; // last debt made or paid
    std::atomic<int32_t> phase_{kIdle};
    std::atomic<int32_t> armed_id_{-1};
    std::atomic<int32_t> inflight_{0}; // the transaction's writes not yet answered
};

// Milliseconds on the monotonic clock.
int64_t monotonic_ms();

} // namespace vuxo

#endif
