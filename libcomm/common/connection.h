// A live connection: its port, its thread, its response hooks and the state
// that comm_wait_connected and the walks see.
#ifndef VUXO_COMM_CONNECTION_H
#define VUXO_COMM_CONNECTION_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "comm.h"
#include "conn_string.h"
#include "os.h"
#include "transport.h"

namespace comm {

using Clock = std::chrono::steady_clock;

struct ResponseSlot {
    int id = -1;
    unsigned char* buf = nullptr;
    int cap = 0;
    int count = 0;         // length of the frame captured since the last wait
    bool reported = false; // handed to the waiter, who may still be reading buf
};

struct Connection {
    int id = 0;
    const Transport* ops = nullptr;
    ConnTarget target;
    comm_event_proc proc = nullptr;
    void* context = nullptr;
    int tick_ms = 0;
    std::vector<unsigned char> rx;

    std::atomic<int> state{COMM_STATE_CONNECTING};
    std::atomic<bool> stop{false};

    // Reading the link and running the event procedure: whoever does it (the
    // connection's thread for each event, a leading caller for each read, see
    // lead.cpp) holds rx_mu. Bytes a leader read but did not take wait in rx
    // for the connection's thread (also under rx_mu).
    std::timed_mutex rx_mu;
    int handback_off = 0;
    int handback_len = 0;
    // Wait sets and their wake-ups: the connection thread's own (wake, kick,
    // the link) and the leader's (wake, lead_kick, the link). Where the OS
    // has exclusive waits the link is in both, the leader's first, so new
    // bytes wake a leader that waits and otherwise the connection's thread.
    os::WaitSet wait_set;
    os::Waker kick;            // bytes handed back, or a link left to this thread; closed under mu
    bool link_watched = false; // the link is in this thread's own set (conn_thread.cpp)
    os::WaitSet lead_set;      // open only where callers may lead
    os::Waker lead_kick;       // the connection's thread captured the leader's answer
    // When a leader last read bytes: the silence before a tick counts from it.
    std::atomic<Clock::rep> lead_heard{0};

    // Serialises writers and keeps the link and wake open while one writes.
    std::mutex write_mu;
    os::Link link = os::kNoLink; // written only by the connection's thread, under write_mu
    os::Waker wake;              // woken once stop is set; closed under write_mu and mu

    // Guards everything below; cv wakes every kind of waiter.
    std::mutex mu;
    std::condition_variable cv;
    bool armed = false;
    bool captured = false;
    ResponseSlot slots[3];
    bool signal_pending = false; // comm_signal_connected during the current event
    bool identified = false;
    bool ended = false;               // the link is down; DISCONNECTED follows
    os::Link lead_link = os::kNoLink; // the link while a caller may lead; none once it closes
    bool lead_active = false;         // a caller leads; the close waits until it stops
    bool lead_gave_up = false;        // since arming, a lead ended early: this thread reads
    bool walkable = true;             // guarded by the table's mutex, not by mu
    int claims = 0;                   // walks that yielded this connection and may still use it
    // Wakes only the close waiting for claims to end, so that walks (one per
    // transaction) never wake a caller waiting for its answer.
    std::condition_variable claims_done;
};

using ConnPtr = std::shared_ptr<Connection>;

// Sets stop and wakes wake; safe from any thread, any number of times.
void request_stop(Connection& c);

// Tags of the wakers in the wait sets.
constexpr int kTagWake = 0;
constexpr int kTagKick = 1;
constexpr unsigned kWoken = 1U << kTagWake;
constexpr unsigned kKicked = 1U << kTagKick;

// Creates both wait sets for the open link (conn_thread.cpp). 0 or a COMM_E* error.
int open_wait_sets(Connection& c);

// comm_wait_response, lock held: while nothing is captured and the link is up,
// the caller reads the link itself until its answer is captured, the deadline
// passes, the connection stops or it hands bytes back (lead.cpp). Returns with
// the lock held again.
void lead(Connection& c, std::unique_lock<std::mutex>& lock, Clock::time_point deadline);

// A caller's thread moves on from the buffers the last wait reported
// (response.cpp): those slots may capture again.
void release_reported(Connection& c);

} // namespace comm

#endif
