// Fault switches of the simulated instrument. Counters ("next N") count down as answers go
// out; per-command switches count the requests of that command since the simulator started
// (or since the faults were last set).
#ifndef VUXO_SIM_FAULTS_H
#define VUXO_SIM_FAULTS_H

#include <cstdint>
#include <map>
#include <set>

namespace vuxo::sim {

struct Faults {
    // The first request of each listed command is answered with 12289 (resend) instead.
    std::set<uint16_t> resend_first;
    // The first request of each listed command is answered with 12290 (error) instead.
    std::set<uint16_t> error_first;
    // command -> K: the K-th request of that command and every later one get 12290.
    std::map<uint16_t, uint32_t> fail_from;
    // How a file read (8211) asking for more than kSmallReadLimit bytes is answered: as
    // usual, with message 12290, or with the answer carrying a failure status. Stands in
    // for instruments that only take the host's traditional 450-byte chunks.
    enum class LargeReads { allow, error, fail };
    LargeReads large_reads = LargeReads::allow;
    static constexpr int32_t kSmallReadLimit = 450;
    // command -> N: every answer to that command carries exactly N payload bytes, its own
    // cut short or padded with zeros (answers of the wrong size, status 0).
    std::map<uint16_t, uint32_t> answer_size;
    // command -> K: when the K-th request of that command arrives, a new measurement is
    // stored (and reported) before the request is answered, as when the user presses the
    // trigger just then.
    std::map<uint16_t, uint32_t> store_at;
    // From the K-th file read (8211) on, every read answers count 0; 0 disables.
    uint32_t empty_chunk_from = 0;
    // The next N answers are not sent.
    uint32_t drop_next = 0;
    // The next N answers go out with a wrong header check / body check.
    uint32_t corrupt_header_next = 0;
    uint32_t corrupt_body_next = 0;
    // Every answer is written one byte per write.
    bool byte_by_byte = false;
    // Garbage bytes (stray sync fragments included) go out before every frame.
    bool garbage = false;
    // Delay before each answer, in milliseconds.
    uint32_t latency_ms = 0;
    // The answer to the N-th request from now waits slow_answer_ms more; 0 = none.
    uint32_t slow_answer_at = 0;
    uint32_t slow_answer_ms = 0;
    // Writes are paced to the wire time of this line speed (10 bits a byte); 0 = no pacing.
    uint32_t baud = 0;
    // Nothing is sent, neither answers nor live data; requests are still received, recorded
    // and carried out.
    bool silent = false;
    // The connection is closed when this many frames arrived on it (the last one
    // unanswered); 0 = never.
    uint32_t hangup_after = 0;
    // Seeded random faults: each answer is, with probability chaos_rate, dropped, sent with
    // a bad check, answered with 12289 first, split into single bytes or preceded by garbage.
    bool chaos = false;
    uint64_t chaos_seed = 0;
    double chaos_rate = 0.05;
};

} // namespace vuxo::sim

#endif
