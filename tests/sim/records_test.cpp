// Record, entry-page and parameter-block layouts of the simulator against hand-computed bytes.
#include <gtest/gtest.h>

#include "le.h"
#include "sim_data.h"

using namespace vuxo::sim;
using Bytes = std::vector<unsigned char>;

namespace {

DataSpec spec_of(Generation gen, DataSet set = DataSet::basic, uint64_t seed = 1,
                 int64_t entries = -1) {
    DataSpec s;
    s.gen = gen;
    s.set = set;
    s.seed = seed;
    s.entries = entries;
    return s;
}

Bytes slice(const Bytes& b, std::size_t at, std::size_t n) {
    return Bytes(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + n));
}

} // namespace

TEST(SimRecords, V1BasicSingleHasHandComputedFields) {
    const Log log(spec_of(Generation::v1));
    const Bytes rec = log.record_bytes(0);
    ASSERT_EQ(rec.size(), 828u);
    EXPECT_EQ(slice(rec, 4, 4), (Bytes{0x01, 0x00, 0x00, 0x00}));     // number = slot + 1
    EXPECT_EQ(slice(rec, 12, 7), (Bytes{0xEA, 0x07, 1, 1, 0, 0, 0})); // 2026-01-01 00:00:00
    EXPECT_EQ(rec[19], 0x11);                                         // single, "%", curve 1
    EXPECT_EQ(slice(rec, 20, 3), (Bytes{1, 0, 25}));                  // pin, error, diameter
    EXPECT_EQ(slice(rec, 76, 8), (Bytes{3, 0, 0, 0, 3, 0, 0, 0}));    // first and value count
}

TEST(SimRecords, V1BasicScanMarksAndValueCount) {
    const Log log(spec_of(Generation::v1));
    const Bytes rec = log.record_bytes(2);
    EXPECT_EQ(rec[19], 0x02);
    EXPECT_EQ(slice(rec, 80, 4), (Bytes{7, 0, 0, 0}));
    // Values 1 and 4 are marked; bit 7 and every later one lie past the count and are set.
    EXPECT_EQ(rec[84], 0x92);
    EXPECT_EQ(rec[85], 0xFF);
    EXPECT_EQ(vuxo::load_le<float>(rec.data() + 108 + 4 * 7), -9999.0f);
    EXPECT_NE(vuxo::load_le<float>(rec.data() + 108 + 4 * 6), -9999.0f);
}

TEST(SimRecords, V2BasicFieldsAtTheirOffsets) {
    const Log log(spec_of(Generation::v2));
    const Bytes single = log.record_bytes(3);
    ASSERT_EQ(single.size(), 4063u);
    EXPECT_EQ(single[19] & 3, 1);
    EXPECT_EQ(slice(single, 20, 3), (Bytes{0, 3, 0x04})); // CurveS, CurveC, CGS bit
    EXPECT_EQ(slice(single, 23, 3), (Bytes{1, 0, 25}));
    EXPECT_EQ(slice(single, 87, 8), (Bytes{3, 0, 0, 0, 3, 0, 0, 0}));
    const Bytes scan = log.record_bytes(2);
    EXPECT_EQ(scan[19] & 3, 2);
    EXPECT_EQ(slice(scan, 91, 4), (Bytes{7, 0, 0, 0}));
    EXPECT_EQ(scan[95], 0x92);
    EXPECT_EQ(vuxo::load_le<float>(scan.data() + 155 + 4 * 7), -9999.0f);
    EXPECT_EQ(vuxo::load_le<float>(scan.data() + 2075 + 4 * 479), -9999.0f);
}

TEST(SimRecords, EntryPagesAndParameterBlockCount) {
    struct Case {
        Generation gen;
        std::size_t page_bytes;
        std::size_t block;
        std::size_t count_at;
    };
    for (const Case c :
         {Case{Generation::v1, 640, 4096, 88}, Case{Generation::v2, 160, 4319, 94}}) {
        const Log log(spec_of(c.gen));
        const Bytes page = log.entry_page(0);
        ASSERT_EQ(page.size(), c.page_bytes);
        // Slots 0..5: keys 5 (note), empty, 3, 5, 8, 9 (note); the rest of the page is empty.
        EXPECT_EQ(slice(page, 0, 15), (Bytes{5, 0, 0, 0, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0}));
        EXPECT_EQ(slice(page, 25, 5), (Bytes{9, 0, 0, 0, 1}));
        EXPECT_EQ(slice(page, 30, c.page_bytes - 30), Bytes(c.page_bytes - 30, 0));
        EXPECT_EQ(log.entry_page(5).at(0), 9);
        const Bytes block = log.param_block();
        ASSERT_EQ(block.size(), c.block);
        EXPECT_EQ(slice(block, c.count_at, 4), (Bytes{6, 0, 0, 0}));
    }
}

TEST(SimRecords, EdgeSetKeysSlotsAndCounts) {
    for (Generation gen : {Generation::v1, Generation::v2}) {
        const Log log(spec_of(gen, DataSet::edge));
        EXPECT_EQ(log.count(), 10003u);
        EXPECT_EQ(log.entry(0).key, 0xFFFFFFFFu);
        EXPECT_EQ(log.entry(1).key, 0x80000000u);
        EXPECT_EQ(log.entry(9999).key, 30u);
        EXPECT_EQ(log.entry(10000).flags & 1, 1);
        EXPECT_EQ(log.entry(10001).key, 0u);
        const std::size_t count_at = gen == Generation::v1 ? kV1OffValueCount : kV2OffValueCount;
        EXPECT_EQ(vuxo::load_le<int32_t>(log.record_bytes(2).data() + count_at), max_values(gen));
        EXPECT_EQ(log.record_bytes(3)[19] & 3, 0);
        EXPECT_EQ(log.record_bytes(4)[19] & 3, 3);
    }
    EXPECT_EQ(meas_file_name(10000), "meas/meas10000.dat");
    EXPECT_EQ(meas_file_name(7), "meas/meas0007.dat");
    EXPECT_EQ(meas_file_name(-1), "meas/last.dat");
}

TEST(SimRecords, SameInputsSameBytesOtherSeedOtherValues) {
    const Log a(spec_of(Generation::v2, DataSet::big, 7, 128000));
    const Log b(spec_of(Generation::v2, DataSet::big, 7, 128000));
    const Log c(spec_of(Generation::v2, DataSet::big, 8, 128000));
    EXPECT_EQ(a.count(), 128000u);
    uint32_t differing = 0;
    for (uint32_t slot : {0u, 1u, 4242u, 127999u}) {
        EXPECT_EQ(a.record_bytes(slot), b.record_bytes(slot));
        differing += a.record_bytes(slot) != c.record_bytes(slot) ? 1 : 0;
    }
    EXPECT_GT(differing, 0u);
    // In the basic set a seed changes values, never the structure of the log.
    const Log s1(spec_of(Generation::v1, DataSet::basic, 1));
    const Log s2(spec_of(Generation::v1, DataSet::basic, 2));
    EXPECT_EQ(s1.entry_page(0), s2.entry_page(0));
    EXPECT_NE(s1.record_bytes(0), s2.record_bytes(0));
}

TEST(SimRecords, StoredMeasurementGoesToTheNextSlot) {
    Log log(spec_of(Generation::v2));
    EXPECT_EQ(log.last_slot(), 5);
    EXPECT_EQ(log.store_new(), 6);
    EXPECT_EQ(log.count(), 7u);
    EXPECT_EQ(log.last_slot(), 6);
    EXPECT_NE(log.entry(6).key, 0u);
    EXPECT_EQ(log.record_bytes(6),
              build_record(log.dataset(), 6, new_measurement_spec(log.dataset(), 6)));
    Log full(spec_of(Generation::v1, DataSet::big, 1, kV1MaxEntries));
    EXPECT_EQ(full.store_new(), -1);
}
