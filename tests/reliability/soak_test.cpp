// Fault soak against the simulator over loopback TCP: thousands of
// transactions and whole log downloads of both generations while the
// instrument drops, corrupts, splits, delays and refuses answers, seeded so a
// failure can be replayed. Whatever the faults, a success carries exactly the
// instrument's data, every failure is a specified code, and no call blocks
// past its attempts times its time-out (plus a margin for a loaded machine).
//
//   VUXO_SOAK_SCALE  multiplies the transactions and downloads (default 1)
//   VUXO_SOAK_SEED   seeds the faults and the choice of requests
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "le.h"
#include "m17_comm.h"
#include "m20_comm.h"
#include "m21_comm.h"
#include "mxx_comm.h"
#include "sim_session.h"
#include "vuxoint.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;
using vuxo::sim::Generation;

constexpr auto kMargin = std::chrono::seconds(2);
constexpr int kChunk = 3996;
constexpr int kDownloadTries = 8;
constexpr int kV2Attempts = 3;

struct Figures {
    uint64_t transactions = 0;
    std::map<int, uint64_t> results;
    uint64_t records = 0;
    uint64_t downloads = 0;
};

class Soak {
  public:
    Soak(Generation gen, uint32_t entries, uint64_t seed)
        : gen_(gen), session_(simsession::big_log(gen, entries)), rng_(seed) {}

    void connect() {
        ASSERT_EQ(session_.open(), "");
        ASSERT_EQ(vuxo_get_type(session_.id()), gen_ == Generation::v1 ? 0 : 1);
        // A connection made by the public API makes one attempt per command;
        // the second generation's own three attempts exercise the repeats.
        if (gen_ == Generation::v2) {
            MXX_set_cmd_num_try(session_.id(), kV2Attempts);
        }
    }

    void set_faults(const vuxo::sim::Faults& f) { sim_.set_faults(f); }
    const Figures& figures() const { return figures_; }
    uint64_t requests_received() const { return sim_.received_count(); }

    // One command: its result is a specified code and it returned in time. A
    // command may first wait for answers the one before still owes, at most
    // twice as long as that one could wait itself.
    int call(const char* what, int timeout_ms, const std::function<int()>& f) {
        const int attempts = gen_ == Generation::v1 ? 1 : kV2Attempts;
        const auto start = Clock::now();
        const int r = f();
        const auto took = Clock::now() - start;
        EXPECT_LE(took, std::chrono::milliseconds(attempts * timeout_ms + owed_wait_ms_) + kMargin)
            << what;
        owed_wait_ms_ = 2 * attempts * timeout_ms;
        EXPECT_TRUE(r == 0 || r == 1 || r == 255 || (r < 0 && r != -1))
            << what << " returned " << r;
        ++figures_.transactions;
        ++figures_.results[r];
        return r;
    }

    void random_transaction() {
        switch (rng_() % 6) {
        case 0:
            params();
            break;
        case 1:
            entry_page();
            break;
        case 2:
            record_piece();
            break;
        case 3:
            state();
            break;
        case 4:
            serial();
            break;
        default:
            record_piece();
            break;
        }
    }

    // The whole log, as a host downloads it: the count from the parameter
    // block, the entry list page by page, then every listed record. A failed
    // step is repeated; a record counts as downloaded only when all of it came.
    void download() {
        const uint32_t count = entry_count();
        ASSERT_EQ(count, sim_.entry_count());
        const uint32_t page = gen_ == Generation::v1 ? 128 : 32;
        for (uint32_t first = 0; first < count; first += page) {
            Bytes list;
            ASSERT_TRUE(retry([&] { return fetch_page(static_cast<int32_t>(first), &list); }))
                << "entry list page " << first;
            for (uint32_t i = 0; i < page && first + i < count; ++i) {
                if (vuxo::load_le<uint32_t>(list.data() + 5 * i) == 0) {
                    continue;
                }
                Bytes record;
                if (fetch_record(first + i, &record)) {
                    ASSERT_EQ(record, sim_.record_bytes(first + i)) << "slot " << first + i;
                    ++figures_.records;
                }
            }
        }
        ++figures_.downloads;
    }

  private:
    bool retry(const std::function<bool()>& step) {
        for (int i = 0; i < kDownloadTries; ++i) {
            if (step()) {
                return true;
            }
        }
        return false;
    }

    uint32_t entry_count() {
        Bytes block;
        const bool ok = retry([&] {
            block.assign(gen_ == Generation::v1 ? 4096 : 4319, 0);
            return get_params(block.data()) == 0;
        });
        EXPECT_TRUE(ok);
        return vuxo::load_le<uint32_t>(block.data() + (gen_ == Generation::v1 ? 88 : 94));
    }

    int get_params(unsigned char* out) {
        if (gen_ == Generation::v1) {
            return call("get_params", 2000,
                        [&] { return vuxov1_get_params(session_.id(), out, 1); });
        }
        return call("get_params", 800, [&] { return vuxov2_get_params(session_.id(), out, 1); });
    }

    void params() {
        Bytes block(gen_ == Generation::v1 ? 4096 : 4319, 0xEE);
        if (get_params(block.data()) == 0) {
            EXPECT_EQ(block, sim_.param_block());
        }
    }

    bool fetch_page(int32_t first, Bytes* list) {
        list->assign(gen_ == Generation::v1 ? 640 : 160, 0xEE);
        int r;
        if (gen_ == Generation::v1) {
            r = call("entry list", 5000, [&] {
                return vuxov1_get_meas_log_entry_list(session_.id(), first, list->data(), 1);
            });
        } else {
            r = call("entry list", 800, [&] {
                return vuxov2_get_meas_log_entry_list(session_.id(), first, list->data(), 1);
            });
        }
        if (r == 0) {
            EXPECT_EQ(*list, sim_.entry_page(first)) << "page " << first;
        }
        return r == 0;
    }

    void entry_page() {
        Bytes list;
        fetch_page(static_cast<int32_t>(rng_() % (sim_.entry_count() + 40)), &list);
    }

    // A chunk of a V2 measurement file; its bytes must be the file's.
    bool read_chunk(uint32_t slot, int32_t offset, int32_t length, Bytes* into) {
        char name[32];
        std::snprintf(name, sizeof name, "meas/meas%.4u.dat", slot);
        Bytes dest(static_cast<std::size_t>(length), 0xEE);
        int count = -7;
        const int r = call("read_file", 800, [&] {
            return vuxov2_read_file(session_.id(), name, dest.data(), offset, length, &count, 1);
        });
        if (r != 0) {
            return false;
        }
        const Bytes file = sim_.record_bytes(slot);
        const auto expected = std::min<std::size_t>({file.size() - static_cast<std::size_t>(offset),
                                                     static_cast<std::size_t>(length),
                                                     static_cast<std::size_t>(kChunk)});
        EXPECT_EQ(count, static_cast<int>(expected)) << name << " at " << offset;
        if (count != static_cast<int>(expected)) {
            return false;
        }
        EXPECT_TRUE(std::equal(dest.begin(), dest.begin() + count, file.begin() + offset))
            << name << " at " << offset;
        into->insert(into->end(), dest.begin(), dest.begin() + count);
        return true;
    }

    bool fetch_record(uint32_t slot, Bytes* record) {
        if (gen_ == Generation::v1) {
            return retry([&] {
                record->assign(828, 0xEE);
                return call("log entry", 5000, [&] {
                           return vuxov1_get_meas_log_entry(
                               session_.id(), static_cast<int32_t>(slot), 0, record->data(), 1);
                       }) == 0;
            });
        }
        record->clear();
        for (int32_t offset = 0; offset < 4063; offset += kChunk) {
            if (!retry([&] { return read_chunk(slot, offset, kChunk, record); })) {
                return false;
            }
        }
        return true;
    }

    uint32_t random_slot() {
        for (;;) {
            const auto slot = static_cast<uint32_t>(rng_() % sim_.entry_count());
            if (sim_.entry(slot).key != 0) {
                return slot;
            }
        }
    }

    void record_piece() {
        const uint32_t slot = random_slot();
        if (gen_ == Generation::v1) {
            Bytes record(828, 0xEE);
            const int r = call("log entry", 5000, [&] {
                return vuxov1_get_meas_log_entry(session_.id(), static_cast<int32_t>(slot), 0,
                                                 record.data(), 1);
            });
            if (r == 0) {
                EXPECT_EQ(record, sim_.record_bytes(slot)) << "slot " << slot;
            }
            return;
        }
        const auto offset = static_cast<int32_t>(rng_() % 4063);
        const auto length = static_cast<int32_t>(1 + rng_() % 4100);
        Bytes ignored;
        read_chunk(slot, offset, length, &ignored);
    }

    void state() {
        const bool v1 = gen_ == Generation::v1;
        const int timeout = v1 ? 2000 : 800;
        if (rng_() % 2 == 0) {
            const auto value = static_cast<int32_t>(rng_());
            call("set_state", timeout, [&] {
                return v1 ? vuxov1_set_state(session_.id(), value, 1)
                          : vuxov2_set_state(session_.id(), value, 1);
            });
            return;
        }
        unsigned char out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        const int r = call("get_state", timeout, [&] {
            return v1 ? vuxov1_get_state(session_.id(), out, 1)
                      : vuxov2_get_state(session_.id(), out, 1);
        });
        if (r == 0) {
            EXPECT_EQ(vuxo::load_le<int32_t>(out), sim_.state());
        }
    }

    void serial() {
        char out[9];
        std::memset(out, 0x55, sizeof out);
        if (call("get_serial", 100, [&] { return vuxo_get_serial(session_.id(), out); }) == 0) {
            EXPECT_EQ(std::string(out), sim_.serial());
        }
    }

    Generation gen_;
    simsession::SimSession session_;
    vuxo::sim::Simulator& sim_ = session_.sim();
    std::mt19937_64 rng_;
    Figures figures_;
    int owed_wait_ms_ = 0;
};

// The fault phases every generation goes through, with the number of
// transactions each; a phase's faults are seeded from the run's seed.
struct Phase {
    const char* name;
    std::function<vuxo::sim::Faults(uint64_t seed)> faults;
    long transactions;
    long downloads;
};

std::vector<Phase> phases(Generation gen) {
    const long scale = simsession::env_number("VUXO_SOAK_SCALE", 1);
    // A dropped V1 answer costs its whole time-out (2 to 5 s, one attempt),
    // so the first generation runs fewer faulted transactions per phase.
    const long n = (gen == Generation::v1 ? 120 : 400) * scale;
    const double rate = gen == Generation::v1 ? 0.015 : 0.05;
    const uint32_t lost = gen == Generation::v1 ? 1 : 2;
    return {
        {"chaos",
         [rate](uint64_t seed) {
             vuxo::sim::Faults f;
             f.chaos = true;
             f.chaos_seed = seed;
             f.chaos_rate = rate;
             return f;
         },
         n, 2 * scale},
        {"targeted",
         [lost](uint64_t) {
             vuxo::sim::Faults f;
             f.resend_first = {8201, 8204, 8205, 8211, 8024, 8007};
             f.error_first = {8023, 8201};
             f.drop_next = lost;
             f.corrupt_header_next = lost;
             f.corrupt_body_next = lost;
             f.garbage = true;
             return f;
         },
         n / 3, 0},
        {"byte by byte, latency",
         [](uint64_t) {
             vuxo::sim::Faults f;
             f.byte_by_byte = true;
             f.latency_ms = 30;
             return f;
         },
         n / 6, 0},
    };
}

struct SoakCase {
    Generation gen;
    uint32_t entries;
};

class FaultSoak : public ::testing::TestWithParam<SoakCase> {
  protected:
    static void SetUpTestSuite() { ASSERT_NE(vuxo_library_init(), -1); }
    static void TearDownTestSuite() { vuxo_library_shut(); }
};

TEST_P(FaultSoak, SuccessesCarryTheInstrumentsDataWhateverTheFaults) {
    const SoakCase c = GetParam();
    const auto seed = static_cast<uint64_t>(simsession::env_number("VUXO_SOAK_SEED", 20261207));
    const long scale = simsession::env_number("VUXO_SOAK_SCALE", 1);
    Soak soak(c.gen, c.entries * static_cast<uint32_t>(scale), seed);
    ASSERT_NO_FATAL_FAILURE(soak.connect());
    uint64_t phase_seed = seed;
    for (const Phase& p : phases(c.gen)) {
        SCOPED_TRACE(p.name);
        soak.set_faults(p.faults(phase_seed++));
        for (long i = 0; i < p.transactions && !HasFailure(); ++i) {
            soak.random_transaction();
        }
        for (long i = 0; i < p.downloads && !HasFailure(); ++i) {
            ASSERT_NO_FATAL_FAILURE(soak.download());
        }
    }
    // The log download must also work once the faults stop.
    soak.set_faults({});
    ASSERT_NO_FATAL_FAILURE(soak.download());

    const Figures& f = soak.figures();
    std::string codes;
    for (const auto& [code, n] : f.results) {
        codes += " " + std::to_string(code) + ":" + std::to_string(n);
    }
    const uint64_t repeats = soak.requests_received() - f.transactions;
    std::printf("soak %s seed %llu: %llu transactions (results%s), %llu requests repeated or "
                "extra, %llu downloads, %llu records byte-identical\n",
                c.gen == Generation::v1 ? "V1" : "V2", static_cast<unsigned long long>(seed),
                static_cast<unsigned long long>(f.transactions), codes.c_str(),
                static_cast<unsigned long long>(repeats),
                static_cast<unsigned long long>(f.downloads),
                static_cast<unsigned long long>(f.records));
    EXPECT_GT(f.results.count(0) != 0 ? f.results.at(0) : 0, f.transactions / 2);
}

INSTANTIATE_TEST_SUITE_P(Generations, FaultSoak,
                         ::testing::Values(SoakCase{Generation::v1, 40},
                                           SoakCase{Generation::v2, 30}),
                         [](const auto& info) {
                             return std::string(info.param.gen == Generation::v1 ? "V1" : "V2");
                         });

} // namespace
