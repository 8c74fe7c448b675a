// Response capture and the wait for identification, on live pty connections.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <future>
#include <string>

#include "mxx_comm.h"
#include "test_support.h"

namespace {

using ttest::Pty;
using ttest::Recorder;
using ttest::Started;

const unsigned char kFrame[13] = {'B',  'R',  'N',  'O',  0x29, 0x24, 0x01,
                                  0x00, 0x00, 0x00, 0x00, 0x3D, 0x00};

// A live connection on a pty whose event procedure the test scripts.
struct LiveConn {
    Pty pty;
    Recorder rec;
    int id = -1;

    // react is in place before the connection's thread can call it.
    explicit LiveConn(std::function<int(int, int, int, const std::string&)> react = {}) {
        rec.react = std::move(react);
        const std::string text = ttest::serial_string(pty.slave);
        if (comm_connect(&id, text.c_str(), Recorder::proc, 4096, 200, &rec) != 0 ||
            !rec.wait_kind(COMM_EV_CONNECTED)) {
            id = -1;
        }
    }
    // The recorder must outlive the connection's last event.
    ~LiveConn() {
        if (id > 0) {
            comm_disconnect(id);
            rec.wait_kind(COMM_EV_DISCONNECTED);
        }
    }
};

struct Armed {
    unsigned char answer[64] = {};
    unsigned char error[16] = {};
    unsigned char resend[16] = {};
    int counts[3] = {-1, -1, -1};

    int hook(int id) {
        return comm_hook_response(id, 9241, answer, sizeof answer, 12290, error, sizeof error,
                                  12289, resend, sizeof resend);
    }
    int wait(int id, int timeout_ms) {
        return comm_wait_response(id, &counts[0], &counts[1], &counts[2], timeout_ms);
    }
};

TEST(Response, AFrameCapturedBeforeTheWaitIsNotLost) {
    Started started;
    LiveConn conn;
    ASSERT_GT(conn.id, 0);
    Armed armed;
    ASSERT_EQ(armed.hook(conn.id), 0);
    ASSERT_EQ(comm_fill_rsp_buff(conn.id, 9241, kFrame, sizeof kFrame), 0);
    EXPECT_EQ(armed.wait(conn.id, 10000), 0);
    EXPECT_EQ(armed.counts[0], 13);
    EXPECT_EQ(armed.counts[1], 0);
    EXPECT_EQ(armed.counts[2], 0);
    EXPECT_EQ(std::memcmp(armed.answer, kFrame, sizeof kFrame), 0);

    // Counted once: the next wait sees nothing new.
    EXPECT_EQ(armed.wait(conn.id, 20), -ETIMEDOUT);
    EXPECT_EQ(armed.counts[0], 0);
}

TEST(Response, FramesFromTheLinkReachTheArmedBuffer) {
    Started started;
    const std::string frame(reinterpret_cast<const char*>(kFrame), sizeof kFrame);
    // The receive path's part, on the connection's thread: once the whole
    // frame came, hand it to the transport.
    LiveConn conn([&](int id, int kind, int, const std::string& so_far) {
        if (kind == COMM_EV_DATA && so_far == frame) {
            comm_fill_rsp_buff(id, 12290, kFrame, sizeof kFrame);
        }
        return 0;
    });
    ASSERT_GT(conn.id, 0);
    Armed armed;
    ASSERT_EQ(armed.hook(conn.id), 0);
    ASSERT_TRUE(conn.pty.send(frame));
    EXPECT_EQ(armed.wait(conn.id, 20000), 0);
    EXPECT_EQ(armed.counts[0], 0);
    EXPECT_EQ(armed.counts[1], 13) << "captured in the buffer armed for its id";
    EXPECT_EQ(std::memcmp(armed.error, kFrame, sizeof kFrame), 0);
}

TEST(Response, ALongerFrameThanTheBufferIsNotCaptured) {
    Started started;
    LiveConn conn;
    ASSERT_GT(conn.id, 0);
    Armed armed;
    ASSERT_EQ(armed.hook(conn.id), 0);
    unsigned char big[17] = {'B', 'R', 'N', 'O'};
    std::memset(armed.error, 0xAA, sizeof armed.error);
    EXPECT_EQ(comm_fill_rsp_buff(conn.id, 12290, big, sizeof big), -EMSGSIZE);
    EXPECT_EQ(armed.wait(conn.id, 20), -ETIMEDOUT);
    EXPECT_EQ(armed.counts[1], 0);
    EXPECT_EQ(armed.error[0], 0xAA) << "nothing written past or into the buffer";
    EXPECT_EQ(comm_fill_rsp_buff(conn.id, 12290, big, 16), 0) << "exactly the capacity fits";
}

TEST(Response, OnlyTheArmedSetCaptures) {
    Started started;
    LiveConn conn;
    ASSERT_GT(conn.id, 0);
    Armed first;
    Armed second;
    EXPECT_EQ(comm_fill_rsp_buff(conn.id, 9241, kFrame, sizeof kFrame), -ENOMSG) << "unarmed";
    ASSERT_EQ(first.hook(conn.id), 0);
    ASSERT_EQ(second.hook(conn.id), 0); // replaces the first set
    ASSERT_EQ(comm_fill_rsp_buff(conn.id, 9241, kFrame, sizeof kFrame), 0);
    EXPECT_EQ(second.wait(conn.id, 10000), 0);
    EXPECT_EQ(second.counts[0], 13);
    EXPECT_EQ(first.answer[0], 0);
    EXPECT_EQ(comm_fill_rsp_buff(conn.id, 4321, kFrame, sizeof kFrame), -ENOMSG) << "other id";
    ASSERT_EQ(comm_unhook_response(conn.id), 0);
    EXPECT_EQ(comm_fill_rsp_buff(conn.id, 9241, kFrame, sizeof kFrame), -ENOMSG);
}

TEST(Response, AReportedBufferIsKeptUntilTheCallerComesBack) {
    Started started;
    LiveConn conn;
    ASSERT_GT(conn.id, 0);
    Armed armed;
    ASSERT_EQ(armed.hook(conn.id), 0);
    ASSERT_EQ(comm_fill_rsp_buff(conn.id, 12289, kFrame, 12), 0);
    ASSERT_EQ(armed.wait(conn.id, 10000), 0);
    ASSERT_EQ(armed.counts[2], 12);
    // The caller may still be reading that frame: a second one must not land
    // on it, while the other buffers still capture.
    EXPECT_EQ(comm_fill_rsp_buff(conn.id, 12289, kFrame, 13), -EBUSY);
    EXPECT_EQ(comm_fill_rsp_buff(conn.id, 9241, kFrame, 13), 0);
    // The next attempt's write hands the buffer back.
    const unsigned char byte = 0;
    ASSERT_EQ(comm_write(conn.id, &byte, 1, 0, 1000), 0);
    EXPECT_EQ(comm_fill_rsp_buff(conn.id, 12289, kFrame, 13), 0);
    ASSERT_EQ(armed.wait(conn.id, 10000), 0);
    EXPECT_EQ(armed.counts[0], 13);
    EXPECT_EQ(armed.counts[2], 13);
}

TEST(Response, AWaitEndsWhenTheConnectionCloses) {
    Started started;
    LiveConn conn;
    ASSERT_GT(conn.id, 0);
    Armed armed;
    ASSERT_EQ(armed.hook(conn.id), 0);
    auto waiter = std::async(std::launch::async, [&] { return armed.wait(conn.id, 60000); });
    conn.pty.hang_up();
    // -ENOENT when the connection was gone before the wait began.
    const int result = waiter.get();
    EXPECT_TRUE(result == -ENOTCONN || result == -ENOENT) << result;
}

TEST(WaitConnected, ZeroOnlyWhenSignalledAndTheProcedureWentOn) {
    Recorder identified;
    identified.react = [](int id, int kind, int, const std::string&) {
        if (kind == COMM_EV_CONNECTED) {
            comm_signal_connected(id);
        }
        return 0;
    };
    Pty pty;
    Started started;
    int id = -1;
    ASSERT_EQ(ttest::connect_serial(pty.slave, identified, &id), 0);
    EXPECT_EQ(comm_wait_connected(id, 20000), 0);
    EXPECT_EQ(comm_get_state(id), COMM_STATE_IDENTIFIED);
}

TEST(WaitConnected, GivingUpInTheSameEventIsNoSuccess) {
    Recorder gives_up;
    gives_up.react = [](int id, int kind, int, const std::string&) {
        if (kind == COMM_EV_TIMEOUT) {
            comm_signal_connected(id);
            return -1;
        }
        return 0;
    };
    Pty pty;
    Started started;
    int id = -1;
    ASSERT_EQ(ttest::connect_serial(pty.slave, gives_up, &id, 4096, 20), 0);
    const int result = comm_wait_connected(id, 60000);
    EXPECT_NE(result, 0);
    EXPECT_NE(result, -ETIMEDOUT) << "answered when the connection closed";
    ASSERT_TRUE(gives_up.wait_kind(COMM_EV_DISCONNECTED));
}

TEST(WaitConnected, NonZeroAtOnceForAFailedOpenAClosedConnectionAndAnUnknownId) {
    Recorder rec;
    Started started;
    int failed = -1;
    ASSERT_EQ(comm_connect(&failed, "SER:/dev/vuxo-no-such-port@115200,8N1", Recorder::proc, 4096,
                           200, &rec),
              0);
    const int on_failed = comm_wait_connected(failed, 60000);
    EXPECT_TRUE(on_failed == -ENOTCONN || on_failed == -ENOENT) << on_failed;

    LiveConn conn;
    ASSERT_GT(conn.id, 0);
    auto waiter =
        std::async(std::launch::async, [&] { return comm_wait_connected(conn.id, 60000); });
    ASSERT_EQ(comm_disconnect(conn.id), 0);
    const int on_closed = waiter.get(); // -ENOENT when the close won the race
    EXPECT_TRUE(on_closed == -ENOTCONN || on_closed == -ENOENT) << on_closed;

    EXPECT_EQ(comm_wait_connected(987654, 60000), -ENOENT);
}

TEST(WaitConnected, ThroughTheLinkLayerAnUnansweredProbeGivesUp) {
    ASSERT_EQ(MXX_init(nullptr, 0, 0), 0);
    Pty pty;
    char text[128];
    ASSERT_EQ(MXX_make_serial_path_conn_string(text, pty.slave.c_str()), 0);
    int id = -1;
    ASSERT_EQ(MXX_connect(text, &id, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    // Seven silent ticks of 200 ms, then the link layer gives up.
    const int result = MXX_wait_connected(id, 60000);
    EXPECT_NE(result, 0);
    EXPECT_NE(result, -ETIMEDOUT);
    EXPECT_EQ(MXX_shut(), 0);
}

} // namespace
