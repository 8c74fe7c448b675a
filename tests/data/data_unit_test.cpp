// The record layer's pure parts: decoding refusals, the download order, the entry-list
// bounds and the words for results.
#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <string>
#include <vector>

#include "vuxodata.h"

namespace {

TEST(DataDecode, RefusesShortRecordsAndBadArguments) {
    std::vector<uint8_t> record(VUXOD_RECORD_MAX, 0);
    vuxod_measurement m;
    struct Case {
        int generation;
        size_t size;
        int want;
    };
    for (const Case c : {Case{VUXOD_V1, 827, VUXOD_E_SIZE}, Case{VUXOD_V1, 828, VUXOD_OK},
                         Case{VUXOD_V2, 4062, VUXOD_E_SIZE}, Case{VUXOD_V2, 4063, VUXOD_OK},
                         Case{7, 4063, VUXOD_E_ARGUMENT}}) {
        EXPECT_EQ(vuxod_decode(c.generation, record.data(), c.size, &m), c.want) << c.size;
    }
    EXPECT_EQ(vuxod_decode(VUXOD_V1, nullptr, 828, &m), VUXOD_E_ARGUMENT);
    EXPECT_EQ(vuxod_decode(VUXOD_V1, record.data(), 828, nullptr), VUXOD_E_ARGUMENT);
}

// Value counts outside the record's room decode no value from past its end.
TEST(DataDecode, ValueCountsAreClampedToTheRecord) {
    struct Case {
        int generation;
        std::size_t count_at;
        int32_t count;
        int32_t decoded;
    };
    for (const Case c : {Case{VUXOD_V1, 80, -1, 0}, Case{VUXOD_V1, 80, 181, 180},
                         Case{VUXOD_V2, 91, INT32_MIN, 0}, Case{VUXOD_V2, 91, 100000, 480}}) {
        std::vector<uint8_t> record(VUXOD_RECORD_MAX, 0);
        for (int b = 0; b < 4; ++b) {
            record[c.count_at + b] =
                static_cast<uint8_t>(static_cast<uint32_t>(c.count) >> (8 * b));
        }
        vuxod_measurement m;
        ASSERT_EQ(vuxod_decode(c.generation, record.data(), record.size(), &m), VUXOD_OK);
        EXPECT_EQ(m.value_count, c.count);
        EXPECT_EQ(m.values_decoded, c.decoded);
    }
}

TEST(DataOrder, AscendingKeysEqualKeysBySlotNeverEmptyOrAllOnes) {
    const uint32_t keys[] = {5, 0, 3, 5, 0xFFFFFFFFu, 0x80000000u, 1};
    std::vector<vuxod_entry> entries;
    for (uint32_t i = 0; i < std::size(keys); ++i) {
        vuxod_entry e{};
        e.slot = static_cast<int32_t>(i);
        e.key = keys[i];
        entries.push_back(e);
    }
    std::vector<int32_t> slots(entries.size(), -1);
    const uint32_t n =
        vuxod_download_order(entries.data(), static_cast<uint32_t>(entries.size()), slots.data());
    slots.resize(n);
    EXPECT_EQ(slots, (std::vector<int32_t>{6, 2, 0, 3, 5}));
}

TEST(DataEntries, RefusesACountAboveTheArrayWithoutSending) {
    vuxod_session s{};
    s.conn_id = 12345; // no such connection: a request would fail with another code
    s.generation = VUXOD_V2;
    vuxod_entry entries[4];
    uint32_t pages = 99;
    EXPECT_EQ(vuxod_read_entries(&s, 5, entries, 4, &pages, nullptr, nullptr), VUXOD_E_CAPACITY);
    EXPECT_EQ(pages, 0u);
    EXPECT_EQ(vuxod_read_entries(&s, 0, nullptr, 0, &pages, nullptr, nullptr), VUXOD_OK);
    EXPECT_EQ(vuxod_session_open(&s, 12345), VUXOD_E_NO_DEVICE);
    EXPECT_EQ(s.conn_id, -1);
}

TEST(DataResults, EveryCodeHasDistinctWords) {
    const int codes[] = {VUXOD_OK,        VUXOD_FAILED,     VUXOD_NO_ANSWER,   -1,
                         -ENOTCONN,       VUXOD_E_ARGUMENT, VUXOD_E_NO_DEVICE, VUXOD_E_SHORT,
                         VUXOD_E_SIZE,    VUXOD_E_CAPACITY, VUXOD_E_NO_MEMORY, VUXOD_E_STOPPED,
                         VUXOD_E_UNSORTED};
    std::set<std::string> texts;
    for (const int code : codes) {
        const char* text = vuxod_result_text(code);
        ASSERT_NE(text, nullptr);
        EXPECT_TRUE(texts.insert(text).second) << code << ": " << text;
    }
    EXPECT_NE(std::string(vuxod_result_text(12345)), "");
    for (int step = VUXOD_STEP_ENTRY_COUNT; step <= VUXOD_STEP_CALLBACK; ++step) {
        EXPECT_NE(std::string(vuxod_step_text(step)), "");
    }
}

} // namespace
