// The record layer against answers no honest instrument gives, played by the scripted
// transport: an absurd entry count and file reads that bring more than was asked for.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "fake_comm.h"
#include "le.h"
#include "vuxodata.h"
#include "vuxoint.h"

namespace {

using fake::Bytes;

class DataFake : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::reset();
        ASSERT_EQ(vuxo_connect("fake", &id, 0, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
        const char serial[] = "A0001234";
        fake::data(id, fake::frame(9007, 0, Bytes(serial, serial + 8)));
        ASSERT_EQ(vuxod_session_open(&session, id), VUXOD_OK);
        fake::state().on_write = [this](int conn, const Bytes& request) {
            const uint16_t command = vuxo::load_le<uint16_t>(request.data() + 4);
            ++requests[command];
            const Bytes reply =
                fake::frame(static_cast<uint16_t>(command + 1000), 0, answer(command, request));
            // An instrument answers in order: what it owes goes out before this answer.
            if (!held.empty()) {
                fake::data(conn, held);
                held.clear();
            }
            if (late > 0 && command == 8211) {
                --late;
                held = reply;
            } else {
                fake::data(conn, reply);
            }
        };
    }
    void TearDown() override { fake::disconnect(id); }

    Bytes answer(uint16_t command, const Bytes& request) {
        switch (command) {
        case 8201: { // only the entry count matters; the block is cut short
            Bytes params(100, 0);
            vuxo::store_le<uint32_t>(params.data() + 94, entry_count);
            return params;
        }
        case 8204:
            return Bytes(160, 0);
        case 8211: { // the most a read answer can carry, or what was asked
            const int32_t offset = vuxo::load_le<int32_t>(request.data() + 12 + 32);
            const int32_t length =
                overlong ? 3996 : vuxo::load_le<int32_t>(request.data() + 12 + 36);
            Bytes chunk(4 + static_cast<std::size_t>(length));
            vuxo::store_le<int32_t>(chunk.data(), length);
            // The file's slot ("meas/measNNNN.dat") shows in every byte.
            const int slot = std::atoi(reinterpret_cast<const char*>(request.data()) + 12 + 9);
            for (std::size_t i = 4; i < chunk.size(); ++i) {
                chunk[i] = static_cast<unsigned char>(offset + static_cast<int32_t>(i) + slot);
            }
            return chunk;
        }
        default:
            return {};
        }
    }

    int id = 0;
    vuxod_session session{};
    uint32_t entry_count = 0;
    std::map<uint16_t, int> requests;
    bool overlong = false;
    int late = 0; // file reads whose answer comes only before the next answer
    Bytes held;
};

// A count far beyond the largest log must neither allocate what it claims nor read past
// the pages such a log has.
TEST_F(DataFake, EntryCountBeyondTheLargestLogIsCut) {
    entry_count = 0xFFFFFFFFu;
    vuxod_log_options o;
    vuxod_log_options_init(&o);
    vuxod_log_report r;
    ASSERT_EQ(vuxod_read_log(&session, &o, &r), VUXOD_OK);
    EXPECT_EQ(r.entry_count, 0xFFFFFFFFu);
    EXPECT_EQ(r.entries_read, static_cast<uint32_t>(VUXOD_V2_MAX_ENTRIES));
    EXPECT_EQ(requests[8204], VUXOD_V2_MAX_ENTRIES / 32);
    EXPECT_EQ(r.to_fetch, 0u);
}

// The last read asks for the 67 missing bytes; an answer claiming 3996 is no answer to
// it: the record is refused and nothing spills past it.
TEST_F(DataFake, OverlongChunkIsRefused) {
    overlong = true;
    std::vector<uint8_t> record(VUXOD_V2_RECORD_SIZE + 16, 0xEE);
    size_t size = 0;
    ASSERT_EQ(vuxod_fetch_record(&session, 3, record.data(), VUXOD_V2_RECORD_SIZE, &size),
              VUXOD_E_ANSWER);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(requests[8211], 2);
    for (std::size_t i = VUXOD_V2_RECORD_SIZE; i < record.size(); ++i) {
        EXPECT_EQ(record[i], 0xEE) << i;
    }
}

// Whether the instrument catches up after one late answer or stays one answer behind,
// a record is delivered only with its own bytes.
TEST_F(DataFake, LateAnswersAreNeverTakenForTheNextRead) {
    for (const int behind : {1, 1000}) {
        SCOPED_TRACE(behind == 1 ? "one late answer" : "always one behind");
        late = behind;
        held.clear();
        int delivered = 0;
        for (int32_t slot = 3; slot < 7; ++slot) {
            std::vector<uint8_t> record(VUXOD_V2_RECORD_SIZE);
            const int rc =
                vuxod_fetch_record(&session, slot, record.data(), record.size(), nullptr);
            if (rc != VUXOD_OK) {
                EXPECT_TRUE(rc == VUXOD_NO_ANSWER || rc == VUXOD_E_GONE) << rc;
                continue;
            }
            ++delivered;
            for (std::size_t i = 0; i < record.size(); ++i) {
                ASSERT_EQ(record[i], static_cast<uint8_t>(i + 4 + slot)) << "slot " << slot;
            }
        }
        EXPECT_EQ(delivered, behind == 1 ? 3 : 0);
    }
}

} // namespace
