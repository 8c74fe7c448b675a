// Connection churn: connect and disconnect a thousand times over loopback TCP
// and a few hundred times over a pseudo-terminal, while another thread keeps
// asking for the type and user data of current, past and unknown ids, and
// while the instrument sometimes hangs up in the middle of a transaction.
// Nothing may leak or race (the ASan and TSan builds run this too), and open
// descriptors and threads must come back to what they were before.
//
//   VUXO_CHURN_CYCLES  TCP cycles (default 1000); pty cycles are a fifth of it
#include <gtest/gtest.h>

#include <dirent.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "mxx_comm.h"
#include "sim_session.h"
#include "vuxoint.h"

namespace {

using namespace std::chrono_literals;
using vuxo::sim::Generation;

constexpr auto kEventWait = 10s;
constexpr int kConnectTimeoutMs = 5000;

std::size_t entries_in(const char* dir) {
    std::size_t n = 0;
    if (DIR* d = opendir(dir)) {
        while (const dirent* e = readdir(d)) {
            n += e->d_name[0] != '.' ? 1 : 0;
        }
        closedir(d);
    }
    return n;
}
std::size_t open_fds() {
    return entries_in("/proc/self/fd") - 1; // less the listing's own descriptor
}
std::size_t threads() {
    return entries_in("/proc/self/task");
}

// What the callbacks saw, shared with the test's thread.
struct Events {
    std::mutex mu;
    std::condition_variable changed;
    std::set<int> disconnected;
    int connected = 0;
    int disconnects = 0;

    bool wait_disconnected(int id) {
        std::unique_lock lock(mu);
        return changed.wait_for(lock, kEventWait, [&] { return disconnected.count(id) != 0; });
    }
};

int on_connected(int, MXX_link*, void* user) {
    auto* ev = static_cast<Events*>(user);
    std::lock_guard lock(ev->mu);
    ++ev->connected;
    return 0;
}
void on_disconnected(int id, MXX_link*, void* user, int) {
    auto* ev = static_cast<Events*>(user);
    // Notified under the lock: the test may destroy the record as soon as it
    // sees the last id, so nothing of it may be touched after unlocking.
    std::lock_guard lock(ev->mu);
    ev->disconnected.insert(id);
    ++ev->disconnects;
    ev->changed.notify_all();
}

// Asks about ids all the while: the current one, the ones before it and ids
// that never existed. It only looks; a live record it may not use.
class Prober {
  public:
    Prober()
        : thread_([this] {
              int spin = 0;
              while (!stop_.load()) {
                  const int cur = current_.load();
                  for (int id : {cur, cur - 1, cur - 2, cur + 1, -1, spin++ % 64}) {
                      const int type = vuxo_get_type(id);
                      if (type < -1 || type > 1) {
                          bad_.store(true);
                      }
                      (void)MXX_get_user_data(id);
                      ++calls_;
                  }
              }
          }) {}
    ~Prober() { stop(); }
    void set_current(int id) { current_.store(id); }
    void stop() {
        stop_.store(true);
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    bool saw_bad_type() const { return bad_.load(); }
    uint64_t calls() const { return calls_.load(); }

  private:
    std::atomic<bool> stop_{false};
    std::atomic<int> current_{-1};
    std::atomic<bool> bad_{false};
    std::atomic<uint64_t> calls_{0};
    std::thread thread_;
};

// Waits until a count comes back to where it was, within a bound: connection
// threads end and descriptors close just after the disconnected event.
template <typename Count> bool returns_to(std::size_t baseline, Count count) {
    const auto deadline = std::chrono::steady_clock::now() + kEventWait;
    while (count() != baseline) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

class Churn : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_NE(vuxo_library_init(), -1); }
    static void TearDownTestSuite() { vuxo_library_shut(); }

    // One cycle: connect, one transaction (or a hang-up in the middle of it),
    // disconnect, and the disconnected event.
    void cycle(const std::string& cs, vuxo::sim::Simulator& sim, Prober& prober, bool hang_up) {
        if (hang_up) {
            // The probe is the first frame; the hang-up comes with the second.
            vuxo::sim::Faults f;
            f.hangup_after = 2;
            sim.set_faults(f);
        }
        int id = -1;
        ASSERT_EQ(vuxo_connect(cs.c_str(), &id, kConnectTimeoutMs, on_connected, nullptr,
                               on_disconnected, nullptr, &events),
                  0);
        prober.set_current(id);
        unsigned char state[4];
        const int r = vuxov2_get_state(id, state, 1);
        if (hang_up) {
            EXPECT_TRUE(r == 255 || r < 0) << r;
            sim.set_faults({});
        } else {
            EXPECT_EQ(r, 0);
        }
        vuxo_disconnect(id); // after a hang-up the transport may have closed it already
        ASSERT_TRUE(events.wait_disconnected(id)) << "no disconnected event for " << id;
        EXPECT_EQ(vuxo_get_type(id), -1);
        EXPECT_EQ(MXX_get_user_data(id), nullptr);
    }

    void run(const vuxo::sim::Config& cfg, long cycles, bool with_hang_ups) {
        vuxo::sim::Simulator sim(cfg);
        std::string error;
        ASSERT_TRUE(sim.start(&error)) << error;
        const std::string cs = cfg.link == vuxo::sim::LinkKind::tcp
                                   ? simsession::net_conn_string(sim.port())
                                   : serial_string(sim.pty_path());
        const std::size_t fds = open_fds();
        const std::size_t tasks = threads();
        Prober prober;
        for (long i = 0; i < cycles && !HasFatalFailure(); ++i) {
            cycle(cs, sim, prober, with_hang_ups && i % 10 == 9);
        }
        prober.stop();
        EXPECT_FALSE(prober.saw_bad_type());
        EXPECT_EQ(events.connected, cycles);
        EXPECT_EQ(events.disconnects, cycles);
        if (with_hang_ups) {
            EXPECT_GE(sim.hangups(), static_cast<uint64_t>(cycles / 10));
        }
        EXPECT_TRUE(returns_to(fds, open_fds))
            << "descriptors: " << open_fds() << " after, " << fds << " before";
        EXPECT_TRUE(returns_to(tasks, threads))
            << "threads: " << threads() << " after, " << tasks << " before";
        std::printf("churn %s: %ld cycles, %llu lookups from the other thread\n",
                    cfg.link == vuxo::sim::LinkKind::tcp ? "tcp" : "pty", cycles,
                    static_cast<unsigned long long>(prober.calls()));
        sim.stop();
    }

    static std::string serial_string(const std::string& path) {
        char out[VUXO_CONN_STRING_SIZE] = {};
        vuxo_make_serial_path_conn_string(out, path.c_str());
        return out;
    }

    Events events;
};

TEST_F(Churn, TcpConnectDisconnectWithHangUps) {
    auto cfg = simsession::big_log(Generation::v2, 10);
    run(cfg, simsession::env_number("VUXO_CHURN_CYCLES", 1000), true);
}

TEST_F(Churn, PtyConnectDisconnect) {
    auto cfg = simsession::big_log(Generation::v2, 10);
    cfg.link = vuxo::sim::LinkKind::pty;
    run(cfg, simsession::env_number("VUXO_CHURN_CYCLES", 1000) / 5, false);
}

} // namespace
