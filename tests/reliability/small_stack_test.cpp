// A whole session on a thread with a 64 KB stack, both generations: what a
// command keeps on its caller's stack is sized by what it can accept, not by
// the largest frame the receiver can assemble.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/mman.h>

#include <cstdio>

#include "sim_session.h"
#include "vuxoint.h"

namespace {

using Bytes = std::vector<unsigned char>;
using vuxo::sim::Generation;

constexpr std::size_t kStack = 64 * 1024;
// Below the stack, a region that faults when touched: a call that needs more
// than the stack crashes at once instead of writing into whatever lies there.
constexpr std::size_t kGuard = 1 << 20;

struct Session {
    vuxo::sim::Simulator* sim;
    Generation gen;
    std::string conn_string;
    std::vector<std::string> failures;

    void check(bool ok, const char* step) {
        if (!ok) {
            failures.emplace_back(step);
        }
    }

    // Every step a host takes, with the answers compared to the instrument's.
    void run() {
        const bool v1 = gen == Generation::v1;
        int id = -1;
        check(vuxo_connect(conn_string.c_str(), &id, 5000, nullptr, nullptr, nullptr, nullptr,
                           nullptr) == 0,
              "connect");
        check(vuxo_get_type(id) == (v1 ? 0 : 1), "type");
        char serial[9] = {};
        check(vuxo_get_serial(id, serial) == 0 && sim->serial() == serial, "serial");
        char fw[8];
        check(vuxo_get_fw_version(id, fw) == 0, "firmware");
        int32_t clock[6] = {};
        check(vuxo_get_time(id, clock) == 0 && vuxo_set_time(id, clock) == 0, "clock");
        Bytes params(v1 ? 4096 : 4319, 0);
        check((v1 ? vuxov1_get_params(id, params.data(), 1)
                  : vuxov2_get_params(id, params.data(), 1)) == 0 &&
                  params == sim->param_block(),
              "params");
        Bytes list(v1 ? 640 : 160, 0);
        check((v1 ? vuxov1_get_meas_log_entry_list(id, 0, list.data(), 1)
                  : vuxov2_get_meas_log_entry_list(id, 0, list.data(), 1)) == 0 &&
                  list == sim->entry_page(0),
              "entry list");
        for (uint32_t slot = 0; slot < 2; ++slot) {
            Bytes record;
            if (v1) {
                record.assign(828, 0);
                check(vuxov1_get_meas_log_entry(id, static_cast<int32_t>(slot), 0, record.data(),
                                                1) == 0,
                      "record");
            } else {
                char name[32];
                std::snprintf(name, sizeof name, "meas/meas%.4u.dat", slot);
                for (int32_t offset = 0; offset < 4063; offset += 3996) {
                    Bytes chunk(3996, 0);
                    int count = 0;
                    check(vuxov2_read_file(id, name, chunk.data(), offset, 3996, &count, 1) == 0,
                          "chunk");
                    record.insert(record.end(), chunk.begin(), chunk.begin() + count);
                }
            }
            check(record == sim->record_bytes(slot), "record bytes");
        }
        check(vuxo_disconnect(id) == 0, "disconnect");
    }
};

void* run_session(void* arg) {
    static_cast<Session*>(arg)->run();
    return nullptr;
}

#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
constexpr bool kThreadSanitizer = __has_feature(thread_sanitizer);
#else
constexpr bool kThreadSanitizer = false;
#endif

TEST(SmallStack, AWholeSessionRunsOnA64KilobyteThread) {
    if (kThreadSanitizer) {
        GTEST_SKIP()
            << "the thread sanitizer keeps about 900 KB of its own in every thread's stack";
    }
    ASSERT_NE(vuxo_library_init(), -1);
    for (const Generation gen : {Generation::v1, Generation::v2}) {
        vuxo::sim::Simulator sim(simsession::big_log(gen, 3));
        std::string error;
        ASSERT_TRUE(sim.start(&error)) << error;
        Session session{&sim, gen, simsession::net_conn_string(sim.port()), {}};
        void* region = mmap(nullptr, kGuard + kStack, PROT_NONE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        ASSERT_NE(region, MAP_FAILED);
        char* stack = static_cast<char*>(region) + kGuard;
        ASSERT_EQ(mprotect(stack, kStack, PROT_READ | PROT_WRITE), 0);
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        ASSERT_EQ(pthread_attr_setstack(&attr, stack, kStack), 0);
        pthread_t thread;
        ASSERT_EQ(pthread_create(&thread, &attr, run_session, &session), 0);
        pthread_attr_destroy(&attr);
        pthread_join(thread, nullptr);
        munmap(region, kGuard + kStack);
        for (const std::string& step : session.failures) {
            ADD_FAILURE() << (gen == Generation::v1 ? "V1 " : "V2 ") << step;
        }
        sim.stop();
    }
    vuxo_library_shut();
}

} // namespace
