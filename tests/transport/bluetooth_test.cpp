// Bluetooth on a kernel without it (as on build machines and containers): a BT:
// connection is accepted, then fails at once with the OS's reason, both at the
// transport and through the public API's callbacks; nothing waits for a time-out.
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "test_support.h"
#include "vuxoint.h"

namespace {

using ttest::Recorder;
using ttest::Started;

const char kBtString[] = "BT:00:11:22:AA:BB:CC@1,60000,4817";

bool kernel_has_bluetooth() {
    const int rfcomm = 3; // the kernel's RFCOMM protocol number
    const int fd = socket(AF_BLUETOOTH, SOCK_STREAM, rfcomm);
    if (fd >= 0) {
        close(fd);
        return true;
    }
    return errno != EAFNOSUPPORT;
}

TEST(BluetoothAbsent, TransportFailsTheLinkWithTheOsReason) {
    if (kernel_has_bluetooth()) {
        GTEST_SKIP() << "this kernel has Bluetooth";
    }
    Started started;
    EXPECT_LT(comm_bt_is_available(), 0);
    Recorder rec;
    int id = -1;
    ASSERT_EQ(comm_connect(&id, kBtString, Recorder::proc, 4096, 200, &rec), 0);
    // However long the wait, a link that failed to open ends it at once.
    const int waited = comm_wait_connected(id, INT_MAX);
    EXPECT_TRUE(waited == -ENOTCONN || waited == -ENOENT) << waited;
    ASSERT_TRUE(rec.wait_kind(COMM_EV_DISCONNECTED));
    const auto events = rec.snapshot();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, COMM_EV_CONN_ERROR);
    EXPECT_EQ(events[0].value, EAFNOSUPPORT);
    EXPECT_EQ(events[1].value, EAFNOSUPPORT);
}

struct Seen {
    std::mutex mu;
    std::condition_variable cv;
    int connected = 0;
    int conn_error = -1;
    int disconnected = -1;
};

TEST(BluetoothAbsent, ConnectFailsAndTheCallbackCarriesTheReason) {
    if (kernel_has_bluetooth()) {
        GTEST_SKIP() << "this kernel has Bluetooth";
    }
    ASSERT_EQ(vuxo_library_init(), 0);
    char conn[VUXO_CONN_STRING_SIZE] = {};
    ASSERT_EQ(vuxo_make_bt_conn_string(conn, "00:11:22:AA:BB:CC", ""), 0);
    EXPECT_STREQ(conn, kBtString);

    Seen seen;
    auto on_connected = [](int, MXX_link*, void* user) {
        auto* s = static_cast<Seen*>(user);
        std::lock_guard lock(s->mu);
        ++s->connected;
        return 0;
    };
    auto on_error = [](int, MXX_link*, void* user, int os_error) {
        auto* s = static_cast<Seen*>(user);
        std::lock_guard lock(s->mu);
        s->conn_error = os_error;
        return 0;
    };
    auto on_disconnected = [](int, MXX_link*, void* user, int os_error) {
        auto* s = static_cast<Seen*>(user);
        std::lock_guard lock(s->mu);
        s->disconnected = os_error;
        s->cv.notify_all();
    };
    int conn_id = 7;
    // With the longest wait there is: the test would hang if the failure waited for it.
    EXPECT_EQ(vuxo_connect(conn, &conn_id, INT_MAX, on_connected, on_error, on_disconnected,
                           nullptr, &seen),
              VUXO_ETIMEOUT);
    EXPECT_EQ(conn_id, -1);
    {
        std::unique_lock lock(seen.mu);
        ASSERT_TRUE(
            seen.cv.wait_for(lock, ttest::kPatience, [&] { return seen.disconnected >= 0; }));
        EXPECT_EQ(seen.connected, 0);
        EXPECT_EQ(seen.conn_error, EAFNOSUPPORT);
        EXPECT_EQ(seen.disconnected, EAFNOSUPPORT);
    }
    EXPECT_STREQ(vuxo_strerror(-seen.conn_error), std::strerror(EAFNOSUPPORT));
    vuxo_library_shut();
}

} // namespace
