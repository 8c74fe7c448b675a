// The table of live connections: ids, walks, start and shutdown, and the
// threads that finished and wait to be joined.
//
// Walk safety: comm_get_data yields a connection only while it is walkable and
// records a claim on it for the calling thread. Closing hides the connection
// first (no walk can yield it any more), then delivers COMM_EV_DISCONNECTED
// only when every claim has ended, however long that takes: a reader that was
// preempted between its step and its read is waited for, not raced. A thread's
// claim ends when its walk reaches the end, when it starts another walk, makes
// any other comm_* call, or exits.
#include "connection_table.h"

#include <climits>
#include <map>
#include <vector>

#include "guarded.h"
#include "transport.h"

namespace comm {
namespace {

// The link layer's transaction keeps ~140 KB on the stack, inside an event
// procedure that may itself be deep in a caller's callback.
constexpr size_t kThreadStack = 8u << 20;

struct Table {
    std::mutex mu;
    std::condition_variable cv; // a connection left the table
    bool running = false;
    comm_idle_wait_fn idle_wait = nullptr;
    std::map<int, ConnPtr> live;
    std::vector<os::Thread> finished;
};

// Never destroyed: connection threads may outlive static destruction when a
// program exits without comm_shut.
Table& table() {
    static Table* t = new Table;
    return *t;
}

std::atomic<int> g_next_id{1}; // never reset, so an id is never reused

thread_local Connection* t_event_conn = nullptr;

} // namespace

// A claimed connection outlives its claims: its own thread holds it until
// table_hide has seen the last one end. So the claim is a plain pointer, and
// the wake-up is sent before the lock is let go, never after the close might
// have gone on.
void os::release_thread_claim(void* claim) {
    auto* conn = static_cast<Connection*>(claim);
    std::lock_guard lock(conn->mu);
    if (--conn->claims == 0) {
        conn->claims_done.notify_all();
    }
}

void end_walk() {
    void* claim = os::thread_claim();
    if (claim != nullptr) {
        os::set_thread_claim(nullptr);
        os::release_thread_claim(claim);
    }
}

Connection* current_event_connection() {
    return t_event_conn;
}
void set_current_event_connection(Connection* c) {
    t_event_conn = c;
}

ConnPtr find_connection(int conn_id) {
    Table& t = table();
    std::lock_guard lock(t.mu);
    auto it = t.live.find(conn_id);
    return it == t.live.end() ? nullptr : it->second;
}

int missing_connection(int conn_id) {
    return conn_id > 0 && conn_id < g_next_id.load() ? -COMM_ENOTCONN : -COMM_ENOENT;
}

void request_stop(Connection& c) {
    c.stop = true;
    c.state = COMM_STATE_CLOSING;
    std::lock_guard lock(c.mu);
    if (c.wake.is_open()) {
        c.wake.wake();
    }
}

bool table_running() {
    Table& t = table();
    std::lock_guard lock(t.mu);
    return t.running;
}

int table_start(comm_idle_wait_fn idle_wait) {
    Table& t = table();
    std::lock_guard lock(t.mu);
    t.running = true;
    t.idle_wait = idle_wait;
    return 0;
}

int table_add(const ConnPtr& c, int* conn_id) {
    Table& t = table();
    std::lock_guard lock(t.mu);
    if (!t.running) {
        return -COMM_ESHUTDOWN;
    }
    const int id = g_next_id.fetch_add(1);
    if (id <= 0 || id == INT_MAX) {
        return -COMM_EOVERFLOW;
    }
    c->id = id;
    t.live[id] = c;
    *conn_id = id;

    auto* arg = new ConnPtr(c);
    const int error = os::start_thread(connection_main, arg, kThreadStack);
    if (error != 0) {
        delete arg;
        t.live.erase(id);
        return error;
    }
    return 0;
}

void table_hide(Connection& c) {
    {
        std::lock_guard lock(table().mu);
        c.walkable = false;
    }
    std::unique_lock lock(c.mu);
    c.claims_done.wait(lock, [&] { return c.claims == 0; });
}

void table_remove(Connection& c) {
    Table& t = table();
    {
        std::lock_guard lock(t.mu);
        t.live.erase(c.id);
        t.finished.push_back(os::this_thread());
    }
    t.cv.notify_all();
}

void table_reap() {
    std::vector<os::Thread> done;
    {
        std::lock_guard lock(table().mu);
        done.swap(table().finished);
    }
    for (os::Thread thread : done) {
        os::join_thread(thread);
    }
}

int table_shut() {
    if (t_event_conn != nullptr) {
        return -COMM_EDEADLK; // would wait for the very thread it runs on
    }
    Table& t = table();
    std::vector<ConnPtr> open;
    {
        std::lock_guard lock(t.mu);
        t.running = false;
        t.idle_wait = nullptr;
        for (auto& [id, c] : t.live) {
            open.push_back(c);
        }
    }
    for (auto& c : open) {
        request_stop(*c);
    }
    open.clear();
    {
        std::unique_lock lock(t.mu);
        t.cv.wait(lock, [&] { return t.live.empty(); });
    }
    table_reap();
    bluetooth_shut();
    return 0;
}

} // namespace comm

using namespace comm;

extern "C" {

COMM_API int comm_init(comm_idle_wait_fn idle_wait, int a, int b) {
    (void)a; // the host's values belong to its idle-wait callback
    (void)b;
    end_walk();
    return table_start(idle_wait);
}

COMM_API int comm_shut(void) {
    end_walk();
    return table_shut();
}

// USB instruments are found by listing when asked; there is no hot-plug
// registration to make, so these only check that the transport is started.
COMM_API int comm_usb_register(int a, int b) {
    (void)a;
    (void)b;
    end_walk();
    return table_running() ? 0 : -COMM_ESHUTDOWN;
}

COMM_API int comm_usb_deregister(void) {
    end_walk();
    return 0;
}

COMM_API int comm_data_cntr_init(uint32_t* cursor) {
    end_walk();
    if (cursor == nullptr) {
        return -COMM_EINVAL;
    }
    *cursor = 0;
    return 0;
}

COMM_API int comm_get_data(uint32_t* cursor, int* conn_id, void** context) {
    end_walk();
    if (cursor == nullptr) {
        return 0;
    }
    Table& t = table();
    std::lock_guard lock(t.mu);
    // Ids only grow, so the last id yielded is a cursor that survives any
    // change to the table between steps.
    for (auto it = t.live.upper_bound(static_cast<int>(*cursor & INT_MAX)); it != t.live.end();
         ++it) {
        Connection& c = *it->second;
        if (!c.walkable) {
            continue;
        }
        {
            std::lock_guard claim_lock(c.mu);
            ++c.claims;
        }
        os::set_thread_claim(&c);
        *cursor = static_cast<uint32_t>(c.id);
        if (conn_id != nullptr) {
            *conn_id = c.id;
        }
        if (context != nullptr) {
            *context = c.context;
        }
        return 1;
    }
    return 0;
}

} // extern "C"
