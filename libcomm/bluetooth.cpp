// Bluetooth: RFCOMM through the kernel's sockets, built only where the
// system's Bluetooth headers are installed (VUXO_HAVE_BLUETOOTH). Elsewhere
// every Bluetooth call answers -EAFNOSUPPORT and a Bluetooth connection
// string is refused by comm_connect.
//
// Pairing (and its PIN) is the system's business: the kernel connects only
// to a device that the system's Bluetooth service has paired.
#include <cerrno>

#include "comm.h"
#include "connection_table.h"
#include "transport.h"

#ifdef VUXO_HAVE_BLUETOOTH
#include <bluetooth/bluetooth.h>
#include <bluetooth/hci.h>
#include <bluetooth/hci_lib.h>
#include <bluetooth/rfcomm.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#endif

namespace comm {

#ifdef VUXO_HAVE_BLUETOOTH
namespace {

// "AA:BB:CC:DD:EE:FF" to the kernel's byte order (last byte first).
bdaddr_t to_bdaddr(const std::string& text) {
    bdaddr_t addr{};
    for (int i = 0; i < 6; ++i) {
        unsigned value = 0;
        std::sscanf(text.c_str() + 3 * i, "%2x", &value);
        addr.b[5 - i] = static_cast<uint8_t>(value);
    }
    return addr;
}

int bt_open(const ConnTarget& target, int wake_fd) {
    const int fd = socket(AF_BLUETOOTH, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, BTPROTO_RFCOMM);
    if (fd < 0) {
        return -errno;
    }
    sockaddr_rc addr{};
    addr.rc_family = AF_BLUETOOTH;
    addr.rc_bdaddr = to_bdaddr(target.where);
    addr.rc_channel = static_cast<uint8_t>(target.channel);
    int result = 0;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        result =
            errno == EINPROGRESS ? socket_finish_connect(fd, wake_fd, target.timeout_ms) : -errno;
    }
    if (result != 0) {
        ::close(fd);
        return result;
    }
    return fd;
}

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

constexpr int kInquiryUnits = 8; // 8 x 1.28 s
constexpr int kMaxFound = 32;

void run_discovery(comm_bt_found_fn found, void* user) {
    Discovery& d = discovery();
    const int dev_id = hci_get_route(nullptr);
    const int sock = dev_id >= 0 ? hci_open_dev(dev_id) : -1;
    inquiry_info* info = nullptr;
    const int n =
        sock >= 0 ? hci_inquiry(dev_id, kInquiryUnits, kMaxFound, nullptr, &info, IREQ_CACHE_FLUSH)
                  : 0;
    for (int i = 0; i < n && !d.cancel; ++i) {
        char address[19] = {};
        ba2str(&info[i].bdaddr, address);
        char name[248] = {};
        if (hci_read_remote_name(sock, &info[i].bdaddr, sizeof name, name, 0) < 0) {
            name[0] = '\0';
        }
        found(address, name, user);
    }
    bt_free(info);
    if (sock >= 0) {
        ::close(sock);
    }
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

const Transport kBluetoothTransport = {"bluetooth", bt_open, socket_read, socket_write,
                                       socket_close};

void bluetooth_shut() {
    Discovery& d = discovery();
    d.cancel = true;
    std::unique_lock lock(d.mu);
    d.cv.wait(lock, [&] { return d.done; }); // an inquiry cannot be cut short
    join_discovery(d);
}

#else

const Transport kBluetoothTransport = {"bluetooth", nullptr, nullptr, nullptr, nullptr};

void bluetooth_shut() {}

#endif

} // namespace comm

using namespace comm;

extern "C" {

#ifdef VUXO_HAVE_BLUETOOTH

COMM_API int comm_bt_is_available(void) {
    end_walk();
    return hci_get_route(nullptr) >= 0 ? 0 : -ENODEV;
}

// Every device found is reported: the class-of-device value is accepted but
// the caller chooses among the devices by address or name.
COMM_API int comm_bt_discover(comm_bt_found_fn found, int class_of_device, void* user) {
    (void)class_of_device;
    end_walk();
    if (found == nullptr) {
        return -EINVAL;
    }
    if (hci_get_route(nullptr) < 0) {
        return -ENODEV;
    }
    Discovery& d = discovery();
    std::lock_guard lock(d.mu);
    if (!d.done) {
        return -EBUSY;
    }
    join_discovery(d);
    d.cancel = false;
    d.done = false;
    try {
        d.worker = std::thread(run_discovery, found, user);
    } catch (...) {
        d.done = true;
        return -EAGAIN;
    }
    return 0;
}

COMM_API int comm_bt_discover_cancel(void) {
    end_walk();
    discovery().cancel = true;
    return 0;
}

COMM_API int comm_bt_discover_wait(int timeout_ms) {
    end_walk();
    Discovery& d = discovery();
    std::unique_lock lock(d.mu);
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(timeout_ms > 0 ? timeout_ms : 0);
    if (!d.cv.wait_until(lock, deadline, [&] { return d.done; })) {
        return -ETIMEDOUT;
    }
    join_discovery(d);
    return 0;
}

#else

COMM_API int comm_bt_is_available(void) {
    end_walk();
    return -EAFNOSUPPORT;
}

COMM_API int comm_bt_discover(comm_bt_found_fn found, int class_of_device, void* user) {
    (void)found;
    (void)class_of_device;
    (void)user;
    end_walk();
    return -EAFNOSUPPORT;
}

COMM_API int comm_bt_discover_cancel(void) {
    end_walk();
    return -EAFNOSUPPORT;
}

COMM_API int comm_bt_discover_wait(int timeout_ms) {
    (void)timeout_ms;
    end_walk();
    return -EAFNOSUPPORT;
}

#endif

} // extern "C"
