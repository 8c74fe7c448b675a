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

    // Serialises writers and keeps the descriptors open while one writes.
    std::mutex write_mu;
    int fd = -1;      // written only by the connection's thread, under write_mu
    int wake_fd = -1; // eventfd, readable once stop is set; closed under write_mu and mu

    // Guards everything below; cv wakes every kind of waiter.
    std::mutex mu;
    std::condition_variable cv;
    bool armed = false;
    bool captured = false;
    ResponseSlot slots[3];
    bool signal_pending = false; // comm_signal_connected during the current event
    bool identified = false;
    bool ended = false;   // the link is down; DISCONNECTED follows
    bool walkable = true; // guarded by the table's mutex, not by mu
    int claims = 0;       // walks that yielded this connection and may still use it
    // Wakes only the close waiting for claims to end, so that walks (one per
    // transaction) never wake a caller waiting for its answer.
    std::condition_variable claims_done;
};

using ConnPtr = std::shared_ptr<Connection>;

// Sets stop and makes wake_fd readable; safe from any thread, any number of times.
void request_stop(Connection& c);

// A caller's thread moves on from the buffers the last wait reported
// (response.cpp): those slots may capture again.
void release_reported(Connection& c);

} // namespace comm

#endif
