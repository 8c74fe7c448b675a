// Bluetooth discovery on a thread of its own, over each OS's inquiry
// (bluetooth.h). Only one runs at a time; an inquiry cannot be cut short, so
// cancelling stops the reports and the wait still waits for its end.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "bluetooth.h"
#include "connection_table.h"
#include "transport.h"

namespace comm {
namespace {

struct Discovery {
    std::mutex mu;
    std::condition_variable cv;
    std::thread worker;
    std::atomic<bool> cancel{false};
    bool done = true; // guarded by mu
};

Discovery& discovery() {
    static Discovery* d = new Discovery;
    return *d;
}

void run_discovery(comm_bt_found_fn found, void* user) {
    Discovery& d = discovery();
    bt_inquire(found, user, d.cancel);
    std::lock_guard lock(d.mu);
    d.done = true;
    d.cv.notify_all();
}

void join_discovery(Discovery& d) {
    if (d.worker.joinable()) {
        d.worker.join();
    }
}

} // namespace

void bt_address_bytes(const char* text, unsigned char bytes[6]) {
    for (int i = 0; i < 6; ++i) {
        unsigned value = 0;
        std::sscanf(text + 3 * i, "%2x", &value);
        bytes[i] = static_cast<unsigned char>(value);
    }
}

void bluetooth_shut() {
    Discovery& d = discovery();
    d.cancel = true;
    std::unique_lock lock(d.mu);
    d.cv.wait(lock, [&] { return d.done; });
    join_discovery(d);
}

} // namespace comm

using namespace comm;

extern "C" {

COMM_API int comm_bt_is_available(void) {
    end_walk();
    return bt_adapter_status();
}

// Every device found is reported: the class-of-device value is accepted but
// the caller chooses among the devices by address or name.
COMM_API int comm_bt_discover(comm_bt_found_fn found, int class_of_device, void* user) {
    (void)class_of_device;
    end_walk();
    if (found == nullptr) {
        return -COMM_EINVAL;
    }
    if (const int status = bt_adapter_status(); status != 0) {
        return status;
    }
    Discovery& d = discovery();
    std::lock_guard lock(d.mu);
    if (!d.done) {
        return -COMM_EBUSY;
    }
    join_discovery(d);
    d.cancel = false;
    d.done = false;
    try {
        d.worker = std::thread(run_discovery, found, user);
    } catch (...) {
        d.done = true;
        return -COMM_EAGAIN;
    }
    return 0;
}

COMM_API int comm_bt_discover_cancel(void) {
    end_walk();
    if (kBluetoothTransport.open == nullptr) {
        return -COMM_EAFNOSUPPORT;
    }
    discovery().cancel = true;
    return 0;
}

COMM_API int comm_bt_discover_wait(int timeout_ms) {
    end_walk();
    if (kBluetoothTransport.open == nullptr) {
        return -COMM_EAFNOSUPPORT;
    }
    Discovery& d = discovery();
    std::unique_lock lock(d.mu);
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(timeout_ms > 0 ? timeout_ms : 0);
    if (!d.cv.wait_until(lock, deadline, [&] { return d.done; })) {
        return -COMM_ETIMEDOUT;
    }
    join_discovery(d);
    return 0;
}

} // extern "C"
