// A command that waits for its answer while the instrument (a scripted peer on
// loopback TCP or a pseudo-terminal) sends live data, other messages, resends
// or late answers, or the link ends. Whichever thread reads the bytes, every
// callback runs on the connection's own thread, in the order of the bytes, and
// the command gets its own answer. Below the link layer, the same for an event
// procedure that takes only part of what a waiting caller reads.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <thread>

#include "mxx_comm.h"
#include "test_support.h"

namespace {

using ttest::Pty;
using ttest::TcpPeer;

constexpr int kCmd = 8211;
constexpr uint16_t kIdentId = 9007;
constexpr uint16_t kLiveId = 9302;
constexpr uint16_t kEventId = 9500;
constexpr uint16_t kUnhookedId = 9400;

std::string frame(uint16_t id, uint8_t status, const std::string& payload) {
    std::string f = "BRNO";
    const auto len = static_cast<uint16_t>(payload.size() + 1);
    f += {static_cast<char>(id & 0xFF),
          static_cast<char>(id >> 8),
          static_cast<char>(len & 0xFF),
          static_cast<char>(len >> 8),
          0,
          0,
          static_cast<char>(status)};
    char check = 0;
    for (char c : f) {
        check ^= c;
    }
    f += check;
    check = 0;
    for (char c : payload) {
        check ^= c;
    }
    return f + payload + check;
}

std::string answer(char tag) {
    return frame(kCmd + 1000, 0, std::string(4, tag));
}
std::string live(char tag) {
    return frame(kLiveId, 0, std::string(1, tag));
}
const std::string kResend = frame(MXX_MSG_RESEND, 0, "");
const std::string kError = frame(MXX_MSG_ERROR, 1, "");

// Every callback of the connection, with the thread that ran it.
struct Log {
    std::mutex mu;
    std::condition_variable cv;
    std::vector<std::string> what;
    std::vector<std::thread::id> by;
    int error = 0;

    void add(const std::string& w) {
        std::lock_guard lock(mu);
        what.push_back(w);
        by.push_back(std::this_thread::get_id());
        cv.notify_all();
    }
    std::vector<std::string> snapshot() {
        std::lock_guard lock(mu);
        return what;
    }
    bool wait_for(const std::string& w) {
        std::unique_lock lock(mu);
        return cv.wait_for(lock, ttest::kPatience,
                           [&] { return std::find(what.begin(), what.end(), w) != what.end(); });
    }
    bool wait_count(std::size_t n) {
        std::unique_lock lock(mu);
        return cv.wait_for(lock, ttest::kPatience, [&] { return what.size() >= n; });
    }
    // All on one thread, the connection's (the one that reported it up), and
    // none on the commanding thread.
    void expect_one_thread(std::thread::id caller) {
        std::lock_guard lock(mu);
        ASSERT_FALSE(by.empty());
        for (std::size_t i = 0; i < by.size(); ++i) {
            EXPECT_EQ(by[i], by.front()) << what[i] << " ran on another thread";
            EXPECT_NE(by[i], caller) << what[i] << " ran on the commanding thread";
        }
    }
};

Log& log_of(void* user) {
    return *static_cast<Log*>(user);
}
int on_connected(int, MXX_link*, int, void* user) {
    log_of(user).add("connected");
    return 0;
}
int on_conn_error(int, MXX_link*, void* user, int value) {
    log_of(user).error = value;
    log_of(user).add("error");
    return 0;
}
int on_disconnected(int, MXX_link*, void* user, int) {
    log_of(user).add("disconnected");
    return 0;
}
// The peer answers the first probe of a connection with the identifying frame:
// sent earlier, a serial port would discard it at its opening.
int probe(int conn_id, int, unsigned char*, int) {
    static std::atomic<int> probed{0};
    if (probed.exchange(conn_id) != conn_id) {
        const unsigned char query = '?';
        comm_write(conn_id, &query, 1, 0, 1000);
    }
    return 0;
}
int test_probe(int, const unsigned char* f, int* type, int) {
    *type = 1;
    return (f[4] | f[5] << 8) == kIdentId ? 1 : 0;
}
int on_live(int, MXX_link*, const unsigned char* f, void* user) {
    log_of(user).add("live:" + std::string(1, static_cast<char>(f[12])));
    return 0;
}
int on_event(int, MXX_link*, const unsigned char* f, void* user) {
    log_of(user).add("event:" + std::string(1, static_cast<char>(f[12])));
    return 0;
}
int on_any(int, MXX_link*, const unsigned char* f, void* user) {
    log_of(user).add("any:" + std::to_string(f[4] | f[5] << 8));
    return 0;
}

std::string conn_string(const TcpPeer& peer) {
    return peer.conn_string();
}
std::string conn_string(const Pty& pty) {
    return ttest::serial_string(pty.slave);
}
bool accept(TcpPeer& peer) {
    const int one = 1;
    return peer.accept_one() &&
           setsockopt(peer.conn, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) == 0;
}
bool accept(Pty&) {
    return true;
}

// One identified connection to the scripted peer.
template <typename Peer> class Session {
  public:
    explicit Session(bool catch_all = false) {
        if (MXX_connect(conn_string(peer).c_str(), &id, on_connected, on_conn_error,
                        on_disconnected, probe, test_probe, &log) != 0 ||
            !accept(peer) || peer.read_n(1) != "?" || !peer.send(frame(kIdentId, 0, "id")) ||
            MXX_wait_connected(id, 20000) != 0) {
            return;
        }
        MXX_hook_async_event(id, kLiveId, on_live);
        MXX_hook_async_event(id, kEventId, on_event);
        if (catch_all) {
            MXX_hook_async_event(id, 0xFFFF, on_any);
        }
        ready = true;
    }
    ~Session() {
        if (peer_thread.joinable()) {
            peer_thread.join();
        }
        if (id > 0) {
            MXX_disconnect(id);
            log.wait_for("disconnected"); // the log outlives the last callback
        }
    }
    // The peer's turn: `script` runs on a thread of its own.
    void play(std::function<void(Peer&)> script) {
        peer_thread = std::thread([this, script = std::move(script)] { script(peer); });
    }
    int command(int timeout_ms, std::string* payload) {
        std::string got(8192, '\0');
        int len = 0;
        const int r = MXX_send_cmd(id, kCmd, nullptr, 0, got.data(), static_cast<int>(got.size()),
                                   &len, nullptr, nullptr, timeout_ms, 1);
        *payload = got.substr(0, static_cast<std::size_t>(len));
        return r;
    }

    Peer peer;
    Log log;
    int id = -1;
    bool ready = false;
    std::thread peer_thread;
};

constexpr std::size_t kRequestSize = 13; // a request with no payload

class Lead : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(MXX_init(nullptr, 0, 0), 0); }
    static void TearDownTestSuite() { MXX_shut(); }
};

// A step of the peer: wait for a request (empty bytes), or send bytes.
struct Step {
    std::string bytes;
};
const Step kRequest{""};

std::vector<Step> one_byte_each(const std::string& bytes) {
    std::vector<Step> out;
    for (char c : bytes) {
        out.push_back({std::string(1, c)});
    }
    return out;
}

struct Case {
    const char* name;
    std::vector<Step> script; // after the first request
    int result;
    std::string payload;
    std::vector<std::string> events; // callbacks after "connected", in order
    std::size_t before_return;       // of them, run before the command returned
    int attempts = 1;
    bool catch_all = false;
};

template <typename Peer> void run_case(const Case& c) {
    const std::thread::id caller = std::this_thread::get_id();
    Session<Peer> s(c.catch_all);
    ASSERT_TRUE(s.ready);
    MXX_set_cmd_num_try(s.id, c.attempts);
    s.play([&c](Peer& peer) {
        peer.read_n(kRequestSize);
        for (const Step& step : c.script) {
            if (step.bytes.empty()) {
                peer.read_n(kRequestSize);
                continue;
            }
            peer.send(step.bytes);
            std::this_thread::sleep_for(std::chrono::milliseconds(1)); // a pause between writes
        }
    });
    std::string payload;
    EXPECT_EQ(s.command(5000, &payload), c.result);
    const std::size_t at_return = s.log.snapshot().size() - 1;
    EXPECT_EQ(payload, c.payload);
    EXPECT_GE(at_return, c.before_return) << "a callback for bytes before the answer is late";
    ASSERT_TRUE(s.log.wait_count(c.events.size() + 1));
    std::vector<std::string> expected = {"connected"};
    expected.insert(expected.end(), c.events.begin(), c.events.end());
    EXPECT_EQ(s.log.snapshot(), expected) << "connection error " << s.log.error;
    s.log.expect_one_thread(caller);
}

std::vector<Case> hand_back_cases() {
    const std::string ans = answer('a');
    const std::string other = frame(kEventId, 0, "2");
    std::string big(6000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i * 7);
    }
    return {
        {"answer alone", {{ans}}, 0, "aaaa", {}, 0},
        {"live data before the answer, one write", {{live('1') + ans}}, 0, "aaaa", {"live:1"}, 1},
        {"live data after the answer, one write", {{ans + live('1')}}, 0, "aaaa", {"live:1"}, 0},
        {"live data, then the answer among other messages",
         {{live('1')}, {ans + other + live('3')}},
         0,
         "aaaa",
         {"live:1", "event:2", "live:3"},
         1},
        {"answer longer than a read, then live data",
         {{frame(kCmd + 1000, 0, big) + live('1')}},
         0,
         big,
         {"live:1"},
         0},
        {"answer one byte per write", one_byte_each(ans), 0, "aaaa", {}, 0},
        {"live data around a resend, then the answer",
         {{kResend + live('1')}, kRequest, {ans + live('2')}},
         0,
         "aaaa",
         {"live:1", "live:2"},
         1,
         2},
        {"error message", {{kError + live('1')}}, 1, "", {"live:1"}, 0},
        {"catch-all hook installed",
         {{live('1') + ans + frame(kUnhookedId, 0, "u")}},
         0,
         "aaaa",
         {"live:1", "any:" + std::to_string(kCmd + 1000), "any:9400"},
         2,
         1,
         true},
    };
}

TEST_F(Lead, CallbacksRunOnTheConnectionsThreadInByteOrderAndTheCommandGetsItsAnswer) {
    for (const Case& c : hand_back_cases()) {
        SCOPED_TRACE(c.name);
        run_case<TcpPeer>(c);
    }
}

enum class End { disconnect, reset, close };
constexpr int kAnyError = -1; // whichever OS error the port gives

struct Ending {
    const char* name;
    End end;
    int error;          // the connection error reported before the disconnect, or 0
    std::string answer; // sent just before the end
    int result;
};

void end_link(TcpPeer& peer, End end) {
    if (end == End::reset) {
        const linger abort{1, 0};
        setsockopt(peer.conn, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    peer.close_conn();
}
void end_link(Pty& pty, End) {
    pty.hang_up();
}

template <typename Peer> void run_ending(const Ending& row) {
    Session<Peer> s;
    ASSERT_TRUE(s.ready);
    const int id = s.id;
    Log& log = s.log;
    s.play([&row, &log, id](Peer& peer) {
        peer.read_n(kRequestSize);
        // Live data while the command waits reaches its callback before
        // the command returns.
        peer.send(live('1'));
        log.wait_for("live:1");
        peer.send(row.answer);
        if (row.end == End::disconnect) {
            comm_disconnect(id);
        } else {
            end_link(peer, row.end);
        }
    });
    // Far longer than the test may take: the wait must end with the link.
    constexpr int kTimeoutMs = 60000;
    const auto start = std::chrono::steady_clock::now();
    std::string payload;
    EXPECT_EQ(s.command(kTimeoutMs, &payload), row.result);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kTimeoutMs / 2));
    ASSERT_TRUE(s.log.wait_for("disconnected"));
    std::vector<std::string> expected = {"connected", "live:1"};
    if (!row.answer.empty()) {
        expected.push_back("live:2");
    }
    if (row.error != 0) {
        expected.push_back("error");
    }
    expected.push_back("disconnected");
    EXPECT_EQ(s.log.snapshot(), expected);
    if (row.error == kAnyError) {
        EXPECT_GT(s.log.error, 0);
    } else {
        EXPECT_EQ(s.log.error, row.error);
    }
    s.log.expect_one_thread(std::this_thread::get_id());
    s.id = -1; // already gone
}

TEST_F(Lead, ALinkEndingWhileACommandWaitsEndsTheCommandAtOnce) {
    const Ending tcp[] = {
        {"disconnected from another thread", End::disconnect, 0, "", -ENOTCONN},
        {"the peer resets the link", End::reset, ECONNRESET, "", -ENOTCONN},
        {"the peer closes the link", End::close, ECONNRESET, "", -ENOTCONN},
        {"the peer answers, sends live data and closes", End::close, ECONNRESET,
         answer('a') + live('2'), 0},
    };
    for (const Ending& row : tcp) {
        SCOPED_TRACE(row.name);
        run_ending<TcpPeer>(row);
    }
}

// Straight on the transport: an event procedure that takes `take` bytes of
// each read a waiting caller makes (all: -1) and ends the wait at '!'.
struct Taker {
    std::mutex mu;
    std::condition_variable cv;
    int take = 0;
    std::string stream; // every byte the procedure took, in the order it took them
    std::thread::id lead_thread;
    std::vector<std::thread::id> other_threads;
    std::vector<int> kinds; // every event but the data and the disconnect
    bool ended = false;

    static int proc(int conn_id, int kind, unsigned char* data, int value, void* context) {
        auto* self = static_cast<Taker*>(context);
        std::lock_guard lock(self->mu);
        int took = 0;
        if (kind == COMM_EV_LEAD_DATA) {
            self->lead_thread = std::this_thread::get_id();
            took = self->take < 0 ? value : std::min(self->take, value);
        } else {
            self->other_threads.push_back(std::this_thread::get_id());
            took = kind == COMM_EV_DATA ? value : 0;
            if (kind != COMM_EV_DATA && kind != COMM_EV_DISCONNECTED) {
                self->kinds.push_back(kind);
            }
            self->ended = kind == COMM_EV_DISCONNECTED;
        }
        const std::string part(reinterpret_cast<const char*>(data), took > 0 ? took : 0);
        self->stream += part;
        if (part.find('!') != std::string::npos) {
            const unsigned char mark = '!';
            comm_fill_rsp_buff(conn_id, 1, &mark, 1);
        }
        self->cv.notify_all();
        return kind == COMM_EV_LEAD_DATA ? took : 0;
    }
};

template <typename Peer> void run_taker(int take, const std::vector<std::string>& pieces) {
    Peer peer;
    Taker taker;
    taker.take = take;
    int id = -1;
    ASSERT_EQ(comm_connect(&id, conn_string(peer).c_str(), Taker::proc, 4096, 0, &taker), 0);
    ASSERT_TRUE(accept(peer));
    {
        std::unique_lock lock(taker.mu);
        ASSERT_TRUE(taker.cv.wait_for(lock, ttest::kPatience,
                                      [&] { return !taker.kinds.empty(); })); // connected
    }
    unsigned char buf[8] = {};
    ASSERT_EQ(comm_hook_response(id, 1, buf, sizeof buf, 0, nullptr, 0, 0, nullptr, 0), 0);
    std::string sent;
    for (const std::string& p : pieces) {
        sent += p;
    }
    std::thread script([&] {
        for (const std::string& p : pieces) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2)); // the caller waits by now
            peer.send(p);
        }
    });
    int counts[3] = {};
    EXPECT_EQ(comm_wait_response(id, &counts[0], &counts[1], &counts[2], 20000), 0);
    script.join();
    {
        std::unique_lock lock(taker.mu);
        EXPECT_TRUE(taker.cv.wait_for(lock, ttest::kPatience,
                                      [&] { return taker.stream.size() >= sent.size(); }));
        EXPECT_EQ(taker.stream, sent) << "a byte lost, repeated or out of order";
        EXPECT_EQ(taker.kinds, std::vector<int>{COMM_EV_CONNECTED}) << "the link broke";
        for (std::thread::id t : taker.other_threads) {
            EXPECT_NE(t, std::this_thread::get_id()) << "an event on the waiting caller's thread";
        }
        if (taker.lead_thread != std::thread::id()) {
            EXPECT_EQ(taker.lead_thread, std::this_thread::get_id());
        }
    }
    comm_disconnect(id);
    std::unique_lock lock(taker.mu);
    // The last event, under the lock: the taker may go once it is seen.
    EXPECT_TRUE(taker.cv.wait_for(lock, ttest::kPatience, [&] { return taker.ended; }));
}

struct TakerCase {
    int take;
    std::vector<std::string> pieces;
};

const TakerCase kTakerCases[] = {
    {0, {"abc!"}},         {0, {"ab", "c!xyz"}}, {1, {"abc!"}},
    {3, {"ab", "cdef!g"}}, {-1, {"abc!def"}},    {-1, {"a", "b", "!", "z"}},
};

TEST_F(Lead, BytesAProcedureDoesNotTakeComeOnTheConnectionsThreadNoneLostOrRepeated) {
    for (const TakerCase& c : kTakerCases) {
        SCOPED_TRACE("take " + std::to_string(c.take) + " of " + c.pieces.front());
        run_taker<TcpPeer>(c.take, c.pieces);
    }
}

TEST_F(Lead, OnASerialPortTheSameHolds) {
    for (const Case& c : hand_back_cases()) {
        SCOPED_TRACE(c.name);
        run_case<Pty>(c);
    }
    const Ending endings[] = {
        {"disconnected from another thread", End::disconnect, 0, "", -ENOTCONN},
        {"the port hangs up", End::close, kAnyError, "", -ENOTCONN},
    };
    for (const Ending& row : endings) {
        SCOPED_TRACE(row.name);
        run_ending<Pty>(row);
    }
    for (const TakerCase& c : kTakerCases) {
        SCOPED_TRACE("take " + std::to_string(c.take) + " of " + c.pieces.front());
        run_taker<Pty>(c.take, c.pieces);
    }
}

TEST_F(Lead, ALateAnswerIsNeverTakenForTheNextCommand) {
    struct Row {
        const char* name;
        std::string late; // sent once the first command gave up
    };
    const Row rows[] = {
        {"late answer alone", answer('1')},
        {"late answer with live data before and after", live('x') + answer('1') + live('y')},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Session<TcpPeer> s;
        ASSERT_TRUE(s.ready);
        std::mutex mu;
        std::condition_variable cv;
        bool gave_up = false;
        s.play([&](TcpPeer& peer) {
            peer.read_n(kRequestSize);
            {
                std::unique_lock lock(mu);
                cv.wait_for(lock, ttest::kPatience, [&] { return gave_up; });
            }
            // Sent while the next command waits for it to go by.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            peer.send(row.late);
            peer.read_n(kRequestSize);
            peer.send(answer('2'));
        });
        std::string payload;
        // The next command waits up to twice this for the late answer to go by.
        EXPECT_EQ(s.command(500, &payload), 255);
        {
            std::lock_guard lock(mu);
            gave_up = true;
        }
        cv.notify_all();
        EXPECT_EQ(s.command(5000, &payload), 0);
        EXPECT_EQ(payload, "2222");
    }
}

} // namespace
