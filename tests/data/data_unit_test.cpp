// The record layer's decoding refusals and bounds, and the words for its results.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "comm.h"
#include "vuxodata.h"

namespace {

// Short records are refused; value counts outside the record's room decode no value from
// past its end.
TEST(DataDecode, RefusesShortRecordsAndClampsValueCounts) {
    struct Case {
        int generation;
        size_t size;
        int32_t count;
        int want;
        int32_t decoded;
    };
    const Case cases[] = {
        {VUXOD_V1, 827, 0, VUXOD_E_SIZE, 0},     {VUXOD_V2, 4062, 0, VUXOD_E_SIZE, 0},
        {7, 4063, 0, VUXOD_E_ARGUMENT, 0},       {VUXOD_V1, 828, -1, VUXOD_OK, 0},
        {VUXOD_V1, 828, 181, VUXOD_OK, 180},     {VUXOD_V2, 4063, INT32_MIN, VUXOD_OK, 0},
        {VUXOD_V2, 4063, 100000, VUXOD_OK, 480},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> record(VUXOD_RECORD_MAX, 0);
        const std::size_t at = c.generation == VUXOD_V1 ? 80 : 91;
        for (std::size_t b = 0; b < 4; ++b) {
            record[at + b] = static_cast<uint8_t>(static_cast<uint32_t>(c.count) >> (8 * b));
        }
        vuxod_measurement m;
        ASSERT_EQ(vuxod_decode(c.generation, record.data(), c.size, &m), c.want) << c.size;
        if (c.want == VUXOD_OK) {
            EXPECT_EQ(m.value_count, c.count);
            EXPECT_EQ(m.values_decoded, c.decoded);
        }
    }
}

TEST(DataResults, EveryCodeHasWordsOfItsOwn) {
    std::set<std::string> texts;
    for (const int code : std::initializer_list<int>{
             VUXOD_OK, VUXOD_FAILED, VUXOD_NO_ANSWER, -1, -COMM_ENOTCONN, VUXOD_E_ARGUMENT,
             VUXOD_E_NO_DEVICE, VUXOD_E_SHORT, VUXOD_E_SIZE, VUXOD_E_CAPACITY, VUXOD_E_NO_MEMORY,
             VUXOD_E_STOPPED, VUXOD_E_UNSORTED, VUXOD_E_DATABASE, VUXOD_E_GONE, VUXOD_E_ANSWER,
             12345}) {
        EXPECT_TRUE(texts.insert(vuxod_result_text(code)).second) << code;
    }
}

} // namespace
