// The public API over the real transport, against the simulated instrument on
// loopback TCP.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "le.h"
#include "mxx_comm.h"
#include "simulator.h"
#include "vuxoint.h"

namespace {

using namespace std::chrono_literals;
using vuxo::sim::Generation;

// What the callbacks saw, with a bounded wait for the transport's thread.
struct Events {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> seen;
    int32_t live_code = 0;
    int32_t live_value = 0;

    void add(std::string event) {
        std::lock_guard lock(mutex);
        seen.push_back(std::move(event));
        changed.notify_all();
    }
    bool wait_for(const std::string& event, std::chrono::milliseconds timeout = 10s) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [&] {
            return std::find(seen.begin(), seen.end(), event) != seen.end();
        });
    }
    void clear() {
        std::lock_guard lock(mutex);
        seen.clear();
    }
    bool has(const std::string& event) {
        std::lock_guard lock(mutex);
        return std::find(seen.begin(), seen.end(), event) != seen.end();
    }
};

int on_connected(int, MXX_link*, void* user) {
    static_cast<Events*>(user)->add("connected");
    return 0;
}
int on_error(int, MXX_link*, void* user, int) {
    static_cast<Events*>(user)->add("error");
    return 0;
}
void on_disconnected(int, MXX_link*, void* user, int) {
    static_cast<Events*>(user)->add("disconnected");
}
void on_live(int, MXX_link*, int32_t code, int32_t value, float, float, void* user) {
    auto* events = static_cast<Events*>(user);
    {
        std::lock_guard lock(events->mutex);
        events->live_code = code;
        events->live_value = value;
    }
    events->add("live");
}

class ApiSimTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(vuxo_library_init(), 0); }
    void TearDown() override {
        vuxo_library_shut();
        if (sim) {
            sim->stop();
        }
    }
    void start(Generation gen, const vuxo::sim::Faults& faults = {}) {
        vuxo::sim::Config cfg;
        cfg.data.gen = gen;
        cfg.clock = vuxo::sim::ClockRecord{6, 12, 2026, 9, 5, 7};
        cfg.faults = faults;
        sim = std::make_unique<vuxo::sim::Simulator>(cfg);
        std::string error;
        ASSERT_TRUE(sim->start(&error)) << error;
        ASSERT_EQ(vuxo_make_net_conn_string(conn_string, "127.0.0.1", sim->port()), 0);
    }
    int connect(int timeout_ms) {
        return vuxo_connect(conn_string, &id, timeout_ms, on_connected, on_error, on_disconnected,
                            on_live, &events);
    }

    std::unique_ptr<vuxo::sim::Simulator> sim;
    char conn_string[VUXO_CONN_STRING_SIZE] = {};
    Events events;
    int id = 0;
};

TEST_F(ApiSimTest, WholeSessionWithEitherGeneration) {
    struct Case {
        Generation gen;
        int type;
        char first;
    };
    for (const Case c : {Case{Generation::v1, 0, '5'}, Case{Generation::v2, 1, 'A'}}) {
        start(c.gen);
        events.clear();
        ASSERT_EQ(connect(5000), 0);
        EXPECT_TRUE(events.has("connected")) << "the callback runs before the wait ends";
        EXPECT_EQ(vuxo_get_type(id), c.type);

        char serial[9];
        ASSERT_EQ(vuxo_get_serial(id, serial), 0);
        EXPECT_EQ(serial[0], c.first);
        EXPECT_EQ(std::string(serial), sim->serial());

        char version[8];
        EXPECT_EQ(vuxo_get_fw_version(id, version), 0);

        int32_t clock[6] = {};
        ASSERT_EQ(vuxo_get_time(id, clock), 0);
        EXPECT_EQ(std::vector<int32_t>(clock, clock + 6),
                  (std::vector<int32_t>{6, 12, 2026, 9, 5, 7}));
        const int32_t later[6] = {31, 1, 2027, 23, 59, 58};
        ASSERT_EQ(vuxo_set_time(id, later), 0);
        ASSERT_EQ(vuxo_get_time(id, clock), 0);
        EXPECT_EQ(clock[2], 2027);
        EXPECT_EQ(clock[5], 58);

        std::vector<unsigned char> params(4319, 0);
        const int got = c.type == 0 ? vuxov1_get_params(id, params.data(), 1)
                                    : vuxov2_get_params(id, params.data(), 1);
        ASSERT_EQ(got, 0);
        EXPECT_EQ(params, [&] {
            std::vector<unsigned char> want = sim->param_block();
            want.resize(4319, 0);
            return want;
        }()) << "a V2 block of 4,319 bytes arrives whole";

        EXPECT_EQ(vuxo_restart(id), 0);
        ASSERT_TRUE(sim->wait_for_count(8021, 1, 5s));

        sim->store_measurement();
        ASSERT_TRUE(events.wait_for("live"));
        EXPECT_EQ(events.live_code, 256);
        EXPECT_EQ(static_cast<uint32_t>(events.live_value), sim->entry_count() - 1);

        EXPECT_EQ(vuxo_disconnect(id), 0);
        ASSERT_TRUE(events.wait_for("disconnected"));
        EXPECT_EQ(vuxo_get_type(id), -1);
        sim->stop();
    }
}

TEST_F(ApiSimTest, TimeoutZeroReturnsWhileDetectionRuns) {
    vuxo::sim::Faults slow;
    slow.latency_ms = 300;
    start(Generation::v2, slow);
    ASSERT_EQ(connect(0), 0);
    EXPECT_GT(id, 0);
    EXPECT_EQ(vuxo_get_type(id), -1);
    ASSERT_TRUE(events.wait_for("connected"));
    EXPECT_EQ(vuxo_get_type(id), 1);
}

TEST_F(ApiSimTest, WaitThatRunsOutFailsAndDetectionStillComesLater) {
    vuxo::sim::Faults slow;
    slow.latency_ms = 600;
    start(Generation::v1, slow);
    EXPECT_EQ(connect(100), 255);
    EXPECT_EQ(id, -1);
    EXPECT_TRUE(events.wait_for("connected"));
}

TEST_F(ApiSimTest, DetectionThatGivesUpFailsAndClosesTheConnection) {
    vuxo::sim::Faults silent;
    silent.silent = true;
    start(Generation::v2, silent);
    EXPECT_EQ(connect(10000), 255);
    EXPECT_EQ(id, -1);
    EXPECT_TRUE(events.wait_for("disconnected"));
    EXPECT_FALSE(events.has("connected"));
    EXPECT_EQ(sim->count(8007), 7u);
}

TEST_F(ApiSimTest, UnknownConnectionFoldsOrPassesTheTransportError) {
    char text[9];
    int32_t clock[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(vuxo_get_fw_version(987654, text), 255);
    EXPECT_EQ(vuxo_get_time(987654, clock), 255);
    EXPECT_EQ(clock[0], 1);
    EXPECT_LT(vuxo_get_serial(987654, text), 0);
    EXPECT_LT(vuxov2_get_state(987654, text, 1), 0);
    EXPECT_EQ(vuxo_get_type(987654), -1);
}

TEST_F(ApiSimTest, RefusedConnectionFailsWithoutCallbacks) {
    start(Generation::v2);
    const uint16_t port = sim->port();
    sim->stop();
    ASSERT_EQ(vuxo_make_net_conn_string(conn_string, "127.0.0.1", port), 0);
    EXPECT_EQ(connect(3000), 255);
    EXPECT_EQ(id, -1);
    EXPECT_FALSE(events.has("connected"));
}

// After the instrument went away, a command names the closed connection, not
// "no such file": with and without waiting for its answer, either generation.
TEST_F(ApiSimTest, CommandAfterTheInstrumentLeftReportsTheClosedConnection) {
    for (Generation gen : {Generation::v1, Generation::v2}) {
        SCOPED_TRACE(gen == Generation::v1 ? "V1" : "V2");
        events.clear();
        start(gen);
        ASSERT_EQ(connect(5000), 0);
        sim->stop();
        ASSERT_TRUE(events.wait_for("disconnected"));
        char serial[9] = {};
        unsigned char state[4] = {};
        EXPECT_EQ(vuxo_get_serial(id, serial), VUXO_ECLOSED);
        EXPECT_EQ(vuxov1_get_state(id, state, 0), VUXO_ECLOSED);
        EXPECT_EQ(vuxov2_get_state(id, state, 1), VUXO_ECLOSED);
        EXPECT_LT(vuxo_get_serial(987654, serial), 0) << "an id never issued still fails";
        EXPECT_NE(vuxo_get_serial(987654, serial), VUXO_ECLOSED);
    }
}

} // namespace
