// A reader that the scheduler takes off its core between a lookup and its read
// (a hook that only this test compiles into the library stalls it there) while
// its connection closes: the close waits for it however long it stalls, so the
// record is never read after it is freed (ASan would report it) and the
// disconnected event comes only after the read.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "link.h"
#include "mxx_comm.h"
#include "sim_session.h"
#include "vuxoint.h"

namespace {

using namespace std::chrono_literals;
using vuxo::sim::Generation;

constexpr auto kPatience = 20s;

struct Stall {
    std::mutex mu;
    std::condition_variable cv;
    std::chrono::milliseconds length{0};
    bool entered = false;
    bool stalling = false;
    bool read_done = false;
    bool disconnected = false;
    bool disconnected_while_stalled = false;
};
Stall* g_stall = nullptr;
thread_local bool t_is_reader = false;

void stall_between_lookup_and_read(int) {
    if (!t_is_reader) {
        return;
    }
    {
        std::lock_guard lock(g_stall->mu);
        g_stall->entered = true;
        g_stall->stalling = true;
        g_stall->cv.notify_all();
    }
    std::this_thread::sleep_for(g_stall->length);
    std::lock_guard lock(g_stall->mu);
    g_stall->stalling = false;
}

void on_disconnected(int, MXX_link*, void*, int) {
    std::lock_guard lock(g_stall->mu);
    g_stall->disconnected_while_stalled = g_stall->stalling;
    g_stall->disconnected = true;
    g_stall->cv.notify_all();
}

TEST(LookupStall, ACloseWaitsForAReaderStalledBetweenLookupAndRead) {
    ASSERT_NE(vuxo_library_init(), -1);
    vuxo::sim::Simulator sim(simsession::big_log(Generation::v2, 3));
    std::string error;
    ASSERT_TRUE(sim.start(&error)) << error;
    const std::string cs = simsession::net_conn_string(sim.port());
    Stall stall;
    g_stall = &stall;
    vuxo::g_after_lookup = stall_between_lookup_and_read;

    const long cycles = simsession::env_number("VUXO_STALL_CYCLES", 1000);
    int wrong_reads = 0;
    for (long i = 0; i < cycles && !HasFailure(); ++i) {
        {
            std::lock_guard lock(stall.mu);
            stall.length = i == cycles / 2 ? 2000ms : (i % 100 == 99 ? 150ms : 0ms);
            stall.entered = stall.stalling = stall.read_done = stall.disconnected = false;
            stall.disconnected_while_stalled = false;
        }
        int id = -1;
        ASSERT_EQ(vuxo_connect(cs.c_str(), &id, 5000, nullptr, nullptr, on_disconnected, nullptr,
                               nullptr),
                  0);
        // The reader looks the connection up, alternately through the public
        // API and the link layer, and is held between lookup and read.
        std::thread reader([&, id, i] {
            t_is_reader = true;
            const bool ok = i % 2 == 0 ? vuxo_get_type(id) == 1 : MXX_get_user_data(id) != nullptr;
            std::lock_guard lock(stall.mu);
            wrong_reads += ok ? 0 : 1;
            stall.read_done = true;
            stall.cv.notify_all();
        });
        {
            std::unique_lock lock(stall.mu);
            ASSERT_TRUE(stall.cv.wait_for(lock, kPatience, [&] { return stall.entered; }));
        }
        vuxo_disconnect(id);
        {
            std::unique_lock lock(stall.mu);
            EXPECT_TRUE(stall.cv.wait_for(lock, kPatience, [&] { return stall.disconnected; }))
                << "cycle " << i;
            EXPECT_FALSE(stall.disconnected_while_stalled) << "cycle " << i;
        }
        reader.join();
    }
    EXPECT_EQ(wrong_reads, 0);
    vuxo::g_after_lookup = nullptr;
    g_stall = nullptr;
    sim.stop();
    vuxo_library_shut();
}

} // namespace
