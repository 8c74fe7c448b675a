// Live data from the simulated instrument while a download's commands wait for
// their answers: every callback on the connection's thread, in the order the
// instrument sent it, and every chunk the instrument's own bytes.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "comm.h"
#include "simulator.h"
#include "vuxoint.h"

namespace {

struct Seen {
    std::mutex mu;
    std::condition_variable cv;
    std::vector<std::string> what;
    std::vector<std::thread::id> by;

    void add(std::string w) {
        std::lock_guard lock(mu);
        what.push_back(std::move(w));
        by.push_back(std::this_thread::get_id());
        cv.notify_all();
    }
    bool wait_count(std::size_t n) {
        std::unique_lock lock(mu);
        return cv.wait_for(lock, std::chrono::seconds(20), [&] { return what.size() >= n; });
    }
};

Seen& seen(void* user) {
    return *static_cast<Seen*>(user);
}
int on_connected(int, MXX_link*, void* user) {
    seen(user).add("connected");
    return 0;
}
void on_disconnected(int, MXX_link*, void* user, int) {
    seen(user).add("disconnected");
}
void on_live(int, MXX_link*, int32_t code, int32_t value, float, float, void* user) {
    seen(user).add(std::to_string(code) + ":" + std::to_string(value));
}

// Starts the simulator and makes one connection to it, its events going to
// `log` (live data too when `live`): the connection's id, or -1.
int start_and_connect(vuxo::sim::Simulator& sim, Seen& log, bool live) {
    std::string error;
    if (!sim.start(&error)) {
        ADD_FAILURE() << error;
        return -1;
    }
    char cs[VUXO_CONN_STRING_SIZE] = {};
    int id = -1;
    if (vuxo_make_net_conn_string(cs, "127.0.0.1", sim.port()) != 0 ||
        vuxo_connect(cs, &id, 10000, on_connected, nullptr, on_disconnected,
                     live ? on_live : nullptr, &log) != 0) {
        return -1;
    }
    return id;
}

TEST(LeadSim, LiveDataDuringADownloadRunsOnTheConnectionsThreadInOrder) {
    ASSERT_NE(vuxo_library_init(), -1);
    vuxo::sim::Config cfg;
    cfg.data.gen = vuxo::sim::Generation::v2;
    cfg.data.set = vuxo::sim::DataSet::big;
    cfg.data.entries = 3;
    cfg.keep_frames = 0;
    vuxo::sim::Simulator sim(cfg);
    Seen log;
    const int id = start_and_connect(sim, log, true);
    ASSERT_GT(id, 0);

    constexpr int kMeasurements = 30;
    std::vector<std::string> expected = {"connected"};
    std::thread instrument([&] {
        for (int i = 0; i < kMeasurements; ++i) {
            const int64_t slot = sim.store_measurement();
            expected.push_back("256:" + std::to_string(slot));
            std::this_thread::sleep_for(std::chrono::milliseconds(1)); // its pace
        }
    });
    constexpr int kChunk = 1000;
    for (int round = 0; round < 4; ++round) {
        for (uint32_t slot = 0; slot < 3; ++slot) {
            char name[32];
            std::snprintf(name, sizeof name, "meas/meas%.4u.dat", slot);
            const std::vector<unsigned char> file = sim.record_bytes(slot);
            for (std::size_t at = 0; at < file.size(); at += kChunk) {
                std::vector<unsigned char> got(kChunk, 0xEE);
                int count = -1;
                ASSERT_EQ(vuxov2_read_file(id, name, got.data(), static_cast<int32_t>(at), kChunk,
                                           &count, 1),
                          0);
                const std::size_t want = std::min<std::size_t>(kChunk, file.size() - at);
                ASSERT_EQ(static_cast<std::size_t>(count), want) << name << " at " << at;
                EXPECT_TRUE(std::equal(got.begin(), got.begin() + count, file.begin() + at))
                    << name << " at " << at;
            }
        }
    }
    instrument.join();
    ASSERT_TRUE(log.wait_count(expected.size()));
    vuxo_disconnect(id);
    ASSERT_TRUE(log.wait_count(expected.size() + 1));
    expected.push_back("disconnected");
    std::lock_guard lock(log.mu);
    EXPECT_EQ(log.what, expected);
    for (std::size_t i = 0; i < log.by.size(); ++i) {
        EXPECT_EQ(log.by[i], log.by.front()) << log.what[i] << " ran on another thread";
        EXPECT_NE(log.by[i], std::this_thread::get_id()) << log.what[i] << " ran on the caller's";
    }
    sim.stop();
    vuxo_library_shut();
}

// A thread that ends in the middle of a walk gives its claim on the connection
// back as it goes (on every OS, from a DLL too), so closing that connection
// does not wait for it.
TEST(LeadSim, ThreadsEndingMidWalkDoNotHoldTheCloseUp) {
    ASSERT_NE(vuxo_library_init(), -1);
    vuxo::sim::Simulator sim(vuxo::sim::Config{});
    Seen log;
    const int id = start_and_connect(sim, log, false);
    ASSERT_GT(id, 0);
    for (int i = 0; i < 20; ++i) {
        int yielded = 0;
        std::thread([&yielded] {
            uint32_t cursor = 0;
            int conn_id = 0;
            yielded = comm_get_data(&cursor, &conn_id, nullptr);
        }).join();
        ASSERT_EQ(yielded, 1);
    }
    vuxo_disconnect(id);
    EXPECT_TRUE(log.wait_count(2)) << "the close waits for a thread that has ended";
    sim.stop();
    vuxo_library_shut();
}

} // namespace
