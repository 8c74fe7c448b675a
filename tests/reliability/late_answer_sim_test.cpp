// Against the simulator over TCP: an instrument slower than the time-out, or
// slow once in the middle of a download, never has an answer taken for a
// later request; and a connection that breaks while a command waits gives
// one result whatever the attempts.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "comm.h"
#include "m17_comm.h"
#include "mxx_comm.h"
#include "sim_session.h"
#include "vuxoint.h"

namespace {

using Bytes = std::vector<unsigned char>;
using vuxo::sim::Generation;

constexpr int kChunk = 3996;
constexpr int kFileSize = 4063;
constexpr int kFlashChunk = 64;

class SimConnection {
  public:
    SimConnection(Generation gen, uint32_t entries)
        : session_(simsession::big_log(gen, entries)), gen_(gen) {}
    void connect() { ASSERT_EQ(session_.open(), ""); }
    vuxo::sim::Simulator& sim() { return sim_; }
    int id() const { return session_.id(); }

    // One piece of data that differs from read to read: a V1 flash block
    // (1,000 ms time-out) or a V2 file chunk (800 ms). wrong counts a success
    // whose bytes are not the instrument's.
    int read_piece(int i, bool* wrong) {
        if (gen_ == Generation::v1) {
            const auto at = static_cast<uint16_t>(kFlashChunk * i);
            Bytes got(kFlashChunk, 0xEE);
            const int r = M17_read_ext_flash(session_.id(), at, got.data(), 1);
            const Bytes flash = sim_.flash();
            *wrong = r == 0 && !std::equal(got.begin(), got.end(), flash.begin() + at);
            return r;
        }
        Bytes got;
        *wrong = false; // read_chunk checks the bytes itself
        return read_chunk(static_cast<uint32_t>(i % 3), i % 2 * kChunk, &got);
    }

    // A chunk of a V2 measurement file, checked against the file's own bytes.
    int read_chunk(uint32_t slot, int32_t offset, Bytes* into) {
        char name[32];
        std::snprintf(name, sizeof name, "meas/meas%.4u.dat", slot);
        Bytes dest(kChunk, 0xEE);
        int count = -7;
        const int r = vuxov2_read_file(session_.id(), name, dest.data(), offset, kChunk, &count, 1);
        if (r == 0) {
            const Bytes file = sim_.record_bytes(slot);
            const int expected = std::min(kChunk, kFileSize - offset);
            EXPECT_EQ(count, expected) << name << " at " << offset;
            EXPECT_TRUE(count == expected &&
                        std::equal(dest.begin(), dest.begin() + count, file.begin() + offset))
                << name << " at " << offset << ": another request's answer";
            into->insert(into->end(), dest.begin(), dest.begin() + std::max(count, 0));
        }
        return r;
    }

  private:
    simsession::SimSession session_;
    vuxo::sim::Simulator& sim_ = session_.sim();
    Generation gen_;
};

class LateAnswers : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_NE(vuxo_library_init(), -1); }
    static void TearDownTestSuite() { vuxo_library_shut(); }
};

struct LatencyCase {
    const char* name;
    Generation gen;
    int attempts;
    uint32_t latency_ms; // the piece's time-out is 1,000 ms (V1) or 800 ms (V2)
    bool in_time;
};

TEST_F(LateAnswers, AnInstrumentSlowerThanTheTimeOutNeverShiftsAnswers) {
    const LatencyCase cases[] = {
        {"V1 above the time-out", Generation::v1, 1, 1100, false},
        {"V1 below the time-out", Generation::v1, 1, 850, true},
        {"V2 above the time-out", Generation::v2, 1, 900, false},
        {"V2 above the time-out, three attempts", Generation::v2, 3, 900, false},
        {"V2 below the time-out, three attempts", Generation::v2, 3, 650, true},
    };
    for (const LatencyCase& c : cases) {
        SCOPED_TRACE(c.name);
        SimConnection conn(c.gen, 3);
        ASSERT_NO_FATAL_FAILURE(conn.connect());
        MXX_set_cmd_num_try(conn.id(), c.attempts);
        vuxo::sim::Faults f;
        f.latency_ms = c.latency_ms;
        conn.sim().set_faults(f);
        int failures = 0;
        for (int i = 0; i < 3; ++i) {
            bool wrong = false;
            const int r = conn.read_piece(i, &wrong);
            EXPECT_FALSE(wrong) << "piece " << i << ": another request's answer with result 0";
            EXPECT_TRUE(r == 0 || r == 255) << "piece " << i << " returned " << r;
            failures += r != 0 ? 1 : 0;
        }
        if (c.in_time) {
            EXPECT_EQ(failures, 0);
        }
    }
}

TEST_F(LateAnswers, ADownloadWithOneSlowAnswerIsWholeOrReportsTheFailure) {
    for (const int attempts : {3, 1}) {
        SCOPED_TRACE(std::to_string(attempts) + " attempts");
        constexpr uint32_t kSlots = 4;
        SimConnection conn(Generation::v2, kSlots);
        ASSERT_NO_FATAL_FAILURE(conn.connect());
        MXX_set_cmd_num_try(conn.id(), attempts);
        vuxo::sim::Faults f;
        f.slow_answer_at = 4; // in the middle: the second chunk of the second file
        f.slow_answer_ms = 1000;
        conn.sim().set_faults(f);
        int failed_reads = 0;
        for (uint32_t slot = 0; slot < kSlots; ++slot) {
            Bytes file;
            for (int32_t offset = 0; offset < kFileSize; offset += kChunk) {
                const int r = conn.read_chunk(slot, offset, &file);
                EXPECT_TRUE(r == 0 || r == 255) << "returned " << r;
                failed_reads += r != 0 ? 1 : 0;
            }
            if (file.size() == static_cast<std::size_t>(kFileSize)) {
                EXPECT_EQ(file, conn.sim().record_bytes(slot)) << "slot " << slot;
            }
        }
        // Three attempts outlast the slow answer; one reports that chunk only.
        EXPECT_EQ(failed_reads, attempts == 3 ? 0 : 1);
    }
}

TEST_F(LateAnswers, ABreakWhileACommandWaitsEndsItOneWayWhateverTheAttempts) {
    for (const int attempts : {1, 3}) {
        SCOPED_TRACE(std::to_string(attempts) + " attempts");
        SimConnection conn(Generation::v1, 3);
        ASSERT_NO_FATAL_FAILURE(conn.connect());
        MXX_set_cmd_num_try(conn.id(), attempts);
        vuxo::sim::Faults f;
        f.hangup_after = static_cast<uint32_t>(conn.sim().received_count() + 1);
        conn.sim().set_faults(f);
        char serial[9] = {};
        EXPECT_EQ(vuxo_get_serial(conn.id(), serial), -COMM_ENOTCONN);
    }
}

} // namespace
