// Links on real ports: a pseudo-terminal for serial, loopback TCP. Events,
// exchanges, hang-ups, refusals, disconnects and shutdown.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <set>
#include <thread>

#include "test_support.h"

namespace {

using ttest::Pty;
using ttest::Recorder;
using ttest::Started;
using ttest::TcpPeer;

// Every event after DISCONNECTED would be a fault; so would a second one.
// comm_shut waits until the connection has left the table; after it nothing
// may have followed DISCONNECTED.
void expect_ended_once(Recorder& rec, int conn_id) {
    ASSERT_TRUE(rec.wait_kind(COMM_EV_DISCONNECTED));
    comm_shut();
    EXPECT_EQ(comm_get_state(conn_id), COMM_STATE_NONE);
    EXPECT_EQ(rec.count(COMM_EV_DISCONNECTED), 1);
    EXPECT_EQ(rec.snapshot().back().kind, COMM_EV_DISCONNECTED);
}

std::set<int> open_fds() {
    std::set<int> fds;
    DIR* dir = opendir("/proc/self/fd");
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] != '.') {
            fds.insert(std::atoi(e->d_name));
        }
    }
    const int own = dirfd(dir);
    closedir(dir);
    fds.erase(own);
    return fds;
}

int thread_count() {
    int n = 0;
    DIR* dir = opendir("/proc/self/task");
    while (dirent* e = readdir(dir)) {
        n += e->d_name[0] != '.' ? 1 : 0;
    }
    closedir(dir);
    return n;
}

TEST(SerialLink, ExchangesBytesBothWays) {
    Pty pty;
    ASSERT_FALSE(pty.slave.empty());
    Recorder rec;
    Started started;
    int id = -1;
    ASSERT_EQ(ttest::connect_serial(pty.slave, rec, &id), 0);
    EXPECT_GT(id, 0);
    ASSERT_TRUE(rec.wait_kind(COMM_EV_CONNECTED));
    EXPECT_EQ(rec.snapshot().front().kind, COMM_EV_CONNECTED);
    EXPECT_EQ(comm_get_state(id), COMM_STATE_OPEN);

    // 13 bytes with NULs inside: the length must be given, not found by strlen.
    const std::string request("BRNO\x47\x1f\x01\x00\x64\x00\x00\x2c\x00", 13);
    ASSERT_EQ(comm_write(id, reinterpret_cast<const unsigned char*>(request.data()),
                         static_cast<int>(request.size()), 0, 1000),
              0);
    EXPECT_EQ(pty.read_n(request.size()), request) << "raw mode: every byte unchanged";

    const std::string answer("\r\nBRNO\x00\x11\x13\x7f\xff", 11);
    ASSERT_TRUE(pty.send(answer));
    ASSERT_TRUE(rec.wait_received(answer));
    EXPECT_EQ(rec.received(), answer);

    ASSERT_EQ(comm_disconnect(id), 0);
    ASSERT_TRUE(rec.wait_kind(COMM_EV_DISCONNECTED));
    EXPECT_EQ(rec.count(COMM_EV_CONN_ERROR), 0);
    EXPECT_EQ(rec.snapshot().back().value, 0) << "closed on request, not by an error";
    expect_ended_once(rec, id);
}

TEST(SerialLink, ADataEventCarriesAtMostTheRxSize) {
    Pty pty;
    Recorder rec;
    Started started;
    int id = -1;
    ASSERT_EQ(ttest::connect_serial(pty.slave, rec, &id, 4, 200), 0);
    ASSERT_TRUE(rec.wait_kind(COMM_EV_CONNECTED));
    const std::string bytes = "0123456789abcdef";
    ASSERT_TRUE(pty.send(bytes));
    ASSERT_TRUE(rec.wait_received(bytes));
    for (const auto& e : rec.snapshot()) {
        if (e.kind == COMM_EV_DATA) {
            EXPECT_LE(e.value, 4);
            EXPECT_EQ(static_cast<int>(e.data.size()), e.value);
        }
    }
    EXPECT_EQ(rec.received(), bytes);
}

TEST(SerialLink, SilenceGivesTimeoutTicks) {
    Pty pty;
    Recorder rec;
    Started started;
    int id = -1;
    ASSERT_EQ(ttest::connect_serial(pty.slave, rec, &id, 4096, 20), 0);
    ASSERT_TRUE(rec.wait_kind(COMM_EV_TIMEOUT, 3));
    const auto events = rec.snapshot();
    EXPECT_EQ(events.front().kind, COMM_EV_CONNECTED);
    for (size_t i = 1; i < events.size(); ++i) {
        EXPECT_EQ(events[i].kind, COMM_EV_TIMEOUT);
    }
}

TEST(SerialLink, InputWaitingBeforeTheOpenIsDiscarded) {
    Pty pty;
    ASSERT_TRUE(pty.send("stale"));
    Recorder rec;
    Started started;
    int id = -1;
    ASSERT_EQ(ttest::connect_serial(pty.slave, rec, &id), 0);
    ASSERT_TRUE(rec.wait_kind(COMM_EV_CONNECTED));
    ASSERT_TRUE(pty.send("fresh"));
    ASSERT_TRUE(rec.wait_received("fresh"));
    EXPECT_EQ(rec.received(), "fresh");
}

TEST(SerialLink, HangUpEndsWithOneErrorAndOneDisconnect) {
    Pty pty;
    Recorder rec;
    Started started;
    int id = -1;
    ASSERT_EQ(ttest::connect_serial(pty.slave, rec, &id), 0);
    ASSERT_TRUE(rec.wait_kind(COMM_EV_CONNECTED));
    pty.hang_up();
    expect_ended_once(rec, id);
    const auto events = rec.snapshot();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[events.size() - 2].kind, COMM_EV_CONN_ERROR);
    EXPECT_GT(events[events.size() - 2].value, 0) << "the OS error";
    EXPECT_EQ(rec.count(COMM_EV_CONN_ERROR), 1);
}

TEST(SerialLink, APortThatDoesNotExistFailsWithErrorThenDisconnect) {
    Recorder rec;
    Started started;
    int id = -1;
    ASSERT_EQ(
        comm_connect(&id, "SER:/dev/vuxo-no-such-port@115200,8N1", Recorder::proc, 4096, 200, &rec),
        0);
    expect_ended_once(rec, id);
    const auto events = rec.snapshot();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, COMM_EV_CONN_ERROR);
    EXPECT_EQ(events[0].value, ENOENT);
    EXPECT_EQ(events[1].value, ENOENT);
}

TEST(SerialLink, ASecondOpenOfTheSamePortIsRefused) {
    Pty pty;
    Recorder first;
    Recorder second;
    Started started;
    int a = -1;
    int b = -1;
    const std::string text = ttest::serial_string(pty.slave);
    ASSERT_EQ(comm_connect(&a, text.c_str(), Recorder::proc, 4096, 200, &first), 0);
    ASSERT_TRUE(first.wait_kind(COMM_EV_CONNECTED));
    ASSERT_EQ(comm_connect(&b, text.c_str(), Recorder::proc, 4096, 200, &second), 0);
    EXPECT_NE(a, b);
    ASSERT_TRUE(second.wait_kind(COMM_EV_DISCONNECTED));
    EXPECT_EQ(second.snapshot().front().kind, COMM_EV_CONN_ERROR);
    EXPECT_EQ(second.snapshot().front().value, EBUSY);
    EXPECT_EQ(comm_get_state(a), COMM_STATE_OPEN);
    expect_ended_once(second, b);
}

TEST(SerialLink, DisconnectFromInsideTheEventProcedure) {
    Pty pty;
    Recorder rec;
    rec.react = [](int conn_id, int kind, int, const std::string&) {
        if (kind == COMM_EV_CONNECTED) {
            EXPECT_EQ(comm_disconnect(conn_id), 0);
            EXPECT_EQ(comm_disconnect(conn_id), 0) << "already closing";
        }
        return 0;
    };
    Started started;
    int id = -1;
    ASSERT_EQ(ttest::connect_serial(pty.slave, rec, &id), 0);
    ASSERT_TRUE(rec.wait_kind(COMM_EV_DISCONNECTED));
    EXPECT_EQ(rec.count(COMM_EV_CONN_ERROR), 0);
    expect_ended_once(rec, id);
    EXPECT_EQ(comm_disconnect(id), -ENOENT);
}

TEST(SerialLink, MinusOneFromTheEventProcedureCloses) {
    Pty pty;
    Recorder rec;
    rec.react = [](int, int kind, int, const std::string&) {
        return kind == COMM_EV_TIMEOUT ? -1 : 0;
    };
    Started started;
    int id = -1;
    ASSERT_EQ(ttest::connect_serial(pty.slave, rec, &id, 4096, 20), 0);
    expect_ended_once(rec, id);
    EXPECT_EQ(rec.count(COMM_EV_TIMEOUT), 1);
}

TEST(SerialLink, WorksOnDescriptorsAbove1023) {
    constexpr rlim_t kWanted = 1300;
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    rlimit raised = saved;
    raised.rlim_cur = std::max(saved.rlim_cur, std::min(saved.rlim_max, kWanted));
    setrlimit(RLIMIT_NOFILE, &raised);
    if (raised.rlim_cur < kWanted) {
        GTEST_SKIP() << "the descriptor limit stays below " << kWanted;
    }
    std::vector<int> fillers;
    while (fillers.empty() || fillers.back() < 1100) {
        const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        fillers.push_back(fd);
    }
    {
        Pty pty;
        Recorder rec;
        Started started;
        int id = -1;
        ASSERT_EQ(ttest::connect_serial(pty.slave, rec, &id), 0);
        ASSERT_TRUE(rec.wait_kind(COMM_EV_CONNECTED));
        const unsigned char ask[] = {'?'};
        ASSERT_EQ(comm_write(id, ask, 1, 0, 1000), 0);
        EXPECT_EQ(pty.read_n(1), "?");
        ASSERT_TRUE(pty.send("!"));
        EXPECT_TRUE(rec.wait_received("!"));
    }
    for (int fd : fillers) {
        ::close(fd);
    }
    setrlimit(RLIMIT_NOFILE, &saved);
}

TEST(TcpLink, ExchangesAndSeesThePeerHangUp) {
    TcpPeer peer;
    ASSERT_NE(peer.port, 0);
    Recorder rec;
    Started started;
    int id = -1;
    ASSERT_EQ(comm_connect(&id, peer.conn_string().c_str(), Recorder::proc, 4096, 200, &rec), 0);
    ASSERT_TRUE(peer.accept_one());
    ASSERT_TRUE(rec.wait_kind(COMM_EV_CONNECTED));
    const unsigned char ping[] = {'p', 'i', 'n', 'g'};
    ASSERT_EQ(comm_write(id, ping, 4, 0, 1000), 0);
    EXPECT_EQ(peer.read_n(4), "ping");
    ASSERT_TRUE(peer.send("pong"));
    ASSERT_TRUE(rec.wait_received("pong"));

    peer.close_conn();
    expect_ended_once(rec, id);
    EXPECT_EQ(rec.count(COMM_EV_CONN_ERROR), 1);
    EXPECT_EQ(rec.snapshot().back().value, ECONNRESET);
}

TEST(TcpLink, RefusedPortFailsWithErrorThenDisconnect) {
    // Bound but not listening: the port is refused, and stays ours while the
    // test runs, so no other test can start listening on it meanwhile.
    const int held = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(bind(held, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(getsockname(held, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    const uint16_t port = ntohs(addr.sin_port);
    Recorder rec;
    Started started;
    int id = -1;
    const std::string text = "NET:127.0.0.1:" + std::to_string(port) + ",1000";
    ASSERT_EQ(comm_connect(&id, text.c_str(), Recorder::proc, 4096, 200, &rec), 0);
    expect_ended_once(rec, id);
    ASSERT_EQ(rec.snapshot().size(), 2u);
    EXPECT_EQ(rec.snapshot().front().kind, COMM_EV_CONN_ERROR);
    EXPECT_EQ(rec.snapshot().front().value, ECONNREFUSED);
    ::close(held);
}

TEST(TcpLink, WritingToAResetPeerRaisesNoSignal) {
    struct sigaction counting {};
    static std::atomic<int> sigpipes{0};
    counting.sa_handler = [](int) { ++sigpipes; };
    struct sigaction previous {};
    sigaction(SIGPIPE, &counting, &previous);

    TcpPeer peer;
    Recorder rec;
    std::mutex gate_mu;
    std::condition_variable gate_cv;
    bool open_gate = false;
    // Holding the connection's thread inside the event procedure keeps it from
    // closing the link, so the writes below really meet the reset socket.
    rec.react = [&](int, int kind, int, const std::string&) {
        if (kind == COMM_EV_DATA) {
            std::unique_lock lock(gate_mu);
            gate_cv.wait_for(lock, ttest::kPatience, [&] { return open_gate; });
        }
        return 0;
    };
    Started started;
    int id = -1;
    ASSERT_EQ(comm_connect(&id, peer.conn_string().c_str(), Recorder::proc, 4096, 200, &rec), 0);
    ASSERT_TRUE(peer.accept_one());
    ASSERT_TRUE(peer.send("x"));
    ASSERT_TRUE(rec.wait_kind(COMM_EV_DATA));
    const linger reset{1, 0};
    setsockopt(peer.conn, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    peer.close_conn();

    int result = 0;
    const unsigned char byte = 0;
    for (int i = 0; i < 5 && result == 0; ++i) {
        result = comm_write(id, &byte, 1, 0, 1000);
    }
    EXPECT_LT(result, 0);
    EXPECT_NE(result, -ENOTCONN) << "the write met the socket";
    {
        std::lock_guard lock(gate_mu);
        open_gate = true;
    }
    gate_cv.notify_all();
    expect_ended_once(rec, id);
    EXPECT_EQ(sigpipes.load(), 0);
    sigaction(SIGPIPE, &previous, nullptr);
}

TEST(Lifecycle, ShutClosesLiveConnectionsAndReleasesEverything) {
    {
        // One whole cycle first, so that threads a runtime starts lazily with
        // the first thread of the process (a sanitizer's) are counted before.
        Recorder warm_up;
        Started started;
        int id = -1;
        ASSERT_EQ(comm_connect(&id, "SER:/dev/vuxo-no-such-port@115200,8N1", Recorder::proc, 4096,
                               200, &warm_up),
                  0);
        ASSERT_TRUE(warm_up.wait_kind(COMM_EV_DISCONNECTED));
    }
    const std::set<int> fds_before = open_fds();
    const int threads_before = thread_count();
    {
        Pty pty1;
        Pty pty2;
        TcpPeer peer;
        Recorder r1;
        Recorder r2;
        Recorder r3;
        ASSERT_EQ(comm_init(nullptr, 0, 0), 0);
        std::set<int> own = open_fds();
        int a = -1;
        int b = -1;
        int c = -1;
        ASSERT_EQ(comm_connect(&a, ttest::serial_string(pty1.slave).c_str(), Recorder::proc, 4096,
                               200, &r1),
                  0);
        ASSERT_EQ(comm_connect(&b, ttest::serial_string(pty2.slave).c_str(), Recorder::proc, 4096,
                               200, &r2),
                  0);
        ASSERT_EQ(comm_connect(&c, peer.conn_string().c_str(), Recorder::proc, 4096, 200, &r3), 0);
        ASSERT_TRUE(peer.accept_one());
        own.insert(peer.conn);
        ASSERT_TRUE(r1.wait_kind(COMM_EV_CONNECTED));
        ASSERT_TRUE(r2.wait_kind(COMM_EV_CONNECTED));
        ASSERT_TRUE(r3.wait_kind(COMM_EV_CONNECTED));
        EXPECT_TRUE(a < b && b < c) << "ids grow";

        for (int fd : open_fds()) {
            if (own.count(fd) == 0) {
                EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC) << "descriptor " << fd;
            }
        }

        ASSERT_EQ(comm_shut(), 0);
        for (Recorder* r : {&r1, &r2, &r3}) {
            EXPECT_EQ(r->count(COMM_EV_DISCONNECTED), 1);
            EXPECT_EQ(r->snapshot().back().kind, COMM_EV_DISCONNECTED);
        }
        EXPECT_EQ(comm_get_state(a), COMM_STATE_NONE);
        int late = -1;
        EXPECT_LT(comm_connect(&late, ttest::serial_string(pty1.slave).c_str(), Recorder::proc,
                               4096, 200, &r1),
                  0)
            << "refused once shut";
    }
    EXPECT_EQ(open_fds(), fds_before);
    EXPECT_EQ(thread_count(), threads_before);

    // Started again in the same process, the ids go on growing.
    Recorder rec;
    Started again;
    int id = -1;
    ASSERT_EQ(
        comm_connect(&id, "SER:/dev/vuxo-no-such-port@115200,8N1", Recorder::proc, 4096, 200, &rec),
        0);
    expect_ended_once(rec, id);
}

TEST(Lifecycle, UnknownIdsAreRefusedWithNegativeResults) {
    Started started;
    const unsigned char byte = 0;
    int n1 = 7;
    int n2 = 7;
    int n3 = 7;
    EXPECT_EQ(comm_get_state(123456), COMM_STATE_NONE);
    EXPECT_LT(comm_disconnect(123456), 0);
    EXPECT_LT(comm_write(123456, &byte, 1, 0, 10), 0);
    EXPECT_LT(comm_wait_connected(123456, 10), 0);
    EXPECT_LT(comm_signal_connected(123456), 0);
    EXPECT_LT(comm_wait_response(123456, &n1, &n2, &n3, 10), 0);
    EXPECT_EQ(n1 + n2 + n3, 0);
    EXPECT_LT(comm_hook_response(123456, 1, nullptr, 0, 2, nullptr, 0, 3, nullptr, 0), 0);
}

} // namespace
