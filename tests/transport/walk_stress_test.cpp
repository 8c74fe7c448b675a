// Walks and lookups from many threads while connections open and close: no
// walk may yield a context that COMM_EV_DISCONNECTED is freeing or has freed.
// Run under the thread and address sanitizers too.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "mxx_comm.h"
#include "test_support.h"

namespace {

constexpr int kAlive = 0x5A5A5A5A;
constexpr int kWalkers = 3;
constexpr int kBatches = 8;
constexpr int kFailingPerBatch = 12;

struct Record {
    std::atomic<int> alive{kAlive};
};

// Counts the contexts freed, so the test knows when a batch is over.
struct Freed {
    std::mutex mu;
    std::condition_variable cv;
    int count = 0;
    // Notified under the lock: the waiter may end the test, and with it this
    // object, as soon as it sees the count.
    void one() {
        std::lock_guard lock(mu);
        ++count;
        cv.notify_all();
    }
    bool wait_for(int n) {
        std::unique_lock lock(mu);
        return cv.wait_for(lock, ttest::kPatience, [&] { return count >= n; });
    }
};

Freed* g_freed = nullptr;

int freeing_proc(int conn_id, int kind, unsigned char*, int, void* context) {
    auto* record = static_cast<Record*>(context);
    if (kind == COMM_EV_CONNECTED && conn_id % 2 == 0) {
        comm_disconnect(conn_id); // some close themselves from inside
    }
    if (kind == COMM_EV_DISCONNECTED) {
        record->alive = 0;
        delete record;
        g_freed->one();
    }
    return 0;
}

// Walkers run until told to stop, alternating whole walks with walks they
// abandon at the first step and then read the context, as a lookup does.
class Walkers {
  public:
    // read_contexts: the contexts are Records (the test's own connections).
    Walkers(bool read_contexts, std::function<int()> read_one)
        : read_contexts_(read_contexts), read_one_(std::move(read_one)) {
        for (int i = 0; i < kWalkers; ++i) {
            threads_.emplace_back([this] { run(); });
        }
    }
    ~Walkers() { stop(); }
    void stop() {
        done_ = true;
        for (auto& t : threads_) {
            if (t.joinable()) {
                t.join();
            }
        }
    }
    int bad() const { return bad_; }
    long steps() const { return steps_; }

  private:
    void run() {
        while (!done_) {
            uint32_t cursor = 0;
            comm_data_cntr_init(&cursor);
            int id = 0;
            void* context = nullptr;
            while (comm_get_data(&cursor, &id, &context) != 0) {
                if (read_contexts_ && context != nullptr &&
                    static_cast<Record*>(context)->alive != kAlive) {
                    ++bad_;
                }
                ++steps_;
            }
            bad_ += read_one_();
        }
    }
    bool read_contexts_;
    std::function<int()> read_one_;
    std::atomic<bool> done_{false};
    std::atomic<int> bad_{0};
    std::atomic<long> steps_{0};
    std::vector<std::thread> threads_;
};

int abandoned_walk_read() {
    uint32_t cursor = 0;
    comm_data_cntr_init(&cursor);
    int id = 0;
    void* context = nullptr;
    if (comm_get_data(&cursor, &id, &context) != 0 && context != nullptr) {
        return static_cast<Record*>(context)->alive == kAlive ? 0 : 1;
    }
    return 0;
}

TEST(WalkStress, WalksNeverYieldAFreedContext) {
    Freed freed;
    g_freed = &freed;
    ttest::Started started;
    Walkers walkers(true, abandoned_walk_read);
    int opened = 0;
    for (int batch = 0; batch < kBatches; ++batch) {
        ttest::Pty held;
        ttest::Pty hung;
        std::vector<std::string> targets(kFailingPerBatch, "SER:/dev/vuxo-no-such-port@115200,8N1");
        targets.push_back(ttest::serial_string(held.slave));
        targets.push_back(ttest::serial_string(hung.slave));
        std::vector<int> ids;
        for (const std::string& text : targets) {
            int id = -1;
            ASSERT_EQ(comm_connect(&id, text.c_str(), freeing_proc, 4096, 50, new Record), 0);
            ids.push_back(id);
            ++opened;
        }
        hung.hang_up();
        for (int id : ids) {
            comm_disconnect(id);
        }
        ASSERT_TRUE(freed.wait_for(opened));
    }
    walkers.stop();
    EXPECT_EQ(walkers.bad(), 0);
    g_freed = nullptr;
}

// Through the link layer: the caller's record dies in the disconnected
// callback. MXX_get_user_data's lookup is over when it returns, so a record
// may die right after; what it must never yield is a record that died before
// the lookup began. Dead records are kept until the test ends, so reading one
// is safe here and tells when it died.
struct Graveyard {
    std::mutex mu;
    std::vector<std::unique_ptr<Record>> dead;
    std::atomic<int> deaths{0};
};
Graveyard* g_graveyard = nullptr;

int free_user_record(int, MXX_link*, void* user_data, int) {
    auto* record = static_cast<Record*>(user_data);
    {
        std::lock_guard lock(g_graveyard->mu);
        g_graveyard->dead.emplace_back(record);
    }
    record->alive = g_graveyard->deaths.fetch_add(1) + 1; // the death's number, never kAlive
    g_freed->one();
    return 0;
}

std::atomic<int> g_last_id{0};

int lookup_read() {
    const int newest = g_last_id.load();
    int bad = 0;
    for (int id = newest - 4; id <= newest; ++id) {
        const int deaths_before = g_graveyard->deaths.load();
        if (auto* record = static_cast<Record*>(MXX_get_user_data(id))) {
            const int alive = record->alive;
            bad += alive != kAlive && alive <= deaths_before ? 1 : 0;
        }
    }
    return bad;
}

TEST(WalkStress, LookupsThroughTheLinkLayerNeverReadAFreedRecord) {
    Freed freed;
    g_freed = &freed;
    Graveyard graveyard;
    g_graveyard = &graveyard;
    ASSERT_EQ(MXX_init(nullptr, 0, 0), 0);
    {
        // Whole walks see the link layer's contexts here: only walk them.
        Walkers walkers(false, lookup_read);
        int opened = 0;
        for (int batch = 0; batch < kBatches; ++batch) {
            ttest::Pty pty;
            std::vector<std::string> targets(kFailingPerBatch,
                                             "SER:/dev/vuxo-no-such-port@115200,8N1");
            targets.push_back(ttest::serial_string(pty.slave));
            std::vector<int> ids;
            for (const std::string& text : targets) {
                int id = -1;
                ASSERT_EQ(MXX_connect(text.c_str(), &id, nullptr, nullptr, free_user_record,
                                      nullptr, nullptr, new Record),
                          0);
                g_last_id = id;
                ids.push_back(id);
                ++opened;
            }
            for (int id : ids) {
                MXX_disconnect(id);
            }
            ASSERT_TRUE(freed.wait_for(opened));
        }
        walkers.stop();
        EXPECT_EQ(walkers.bad(), 0);
    }
    EXPECT_EQ(MXX_shut(), 0);
    g_freed = nullptr;
    g_graveyard = nullptr;
}

} // namespace
