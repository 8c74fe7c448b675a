// A scripted instrument for the live-data latency: it answers every
// serial-number request and, once armed, puts a live-data message beside
// every Nth answer, so that messages reach the host before, together with and
// right after the answers its waiting caller reads.
#ifndef VUXO_BENCH_LIVE_PEER_H
#define VUXO_BENCH_LIVE_PEER_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "net_util.h"

namespace bench {

class LivePeer {
  public:
    using Clock = std::chrono::steady_clock;

    // Where a message goes beside its answer; the peer takes them in turn.
    enum Placement { own_send_before, same_send_ahead, same_send_behind, own_send_after };
    static constexpr int kPlacements = 4;

    // Up to `messages` messages, one after every `every` answered requests.
    LivePeer(Bytes answer, int every, int messages);
    ~LivePeer();
    LivePeer(const LivePeer&) = delete;
    LivePeer& operator=(const LivePeer&) = delete;

    uint16_t port() const { return port_; }
    // Messages start with the next request (not during detection).
    void arm() { armed_.store(true, std::memory_order_release); }
    // Ends the exchange (also with a client that never closes, such as a
    // connection whose detection failed) and waits for the peer's thread.
    void finish();
    // Messages sent; message i carries event value i, was sent at sent_at(i)
    // with placement i % kPlacements. Valid after finish().
    int sent() const { return sent_; }
    Clock::time_point sent_at(int i) const { return stamps_[static_cast<std::size_t>(i)]; }

  private:
    void serve();
    bool answer_with_message(int fd);

    Bytes answer_;
    int every_;
    std::vector<Clock::time_point> stamps_;
    int sent_ = 0;
    std::atomic<bool> armed_{false};
    int listen_fd_ = -1;
    std::mutex client_mu_; // finish() must not shut down a descriptor already closed
    int client_fd_ = -1;
    bool finishing_ = false;
    uint16_t port_ = 0;
    std::thread thread_;
};

} // namespace bench

#endif
