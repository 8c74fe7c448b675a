// Entry table: listing, fetch order and the pages that fit.
#include <gtest/gtest.h>

#include <vector>

#include "capture.h"
#include "entry_table.h"
#include "le.h"

namespace {

using vuxotest::Entry_table;

Entry_table table_of(const std::vector<uint32_t>& keys, const std::vector<uint32_t>& notes = {}) {
    Entry_table t = vuxotest::make_entry_table(static_cast<uint32_t>(keys.size()));
    for (std::size_t i = 0; i < keys.size(); ++i) {
        vuxo::store_le<uint32_t>(&t[i * 5], keys[i]);
    }
    for (uint32_t slot : notes) {
        t[slot * 5 + 4] = 0xFF;
    }
    return t;
}

std::vector<int64_t> fetch_order(Entry_table t, uint32_t count) {
    std::vector<int64_t> order;
    for (int64_t slot = vuxotest::take_next_slot(t, count); slot >= 0;
         slot = vuxotest::take_next_slot(t, count)) {
        order.push_back(slot);
    }
    return order;
}

struct Order_case {
    const char* name;
    std::vector<uint32_t> keys;
    std::vector<int64_t> order;
};

TEST(EntryTable, FetchOrder) {
    const Order_case cases[] = {
        {"ascending keys, ties in slot order, zero skipped", {5, 0, 3, 5}, {2, 0, 3}},
        {"equal keys", {4, 4, 4}, {0, 1, 2}},
        {"0xFFFFFFFF is never fetched", {0xFFFFFFFF, 2, 0xFFFFFFFF}, {1}},
        {"top-bit keys come after all smaller ones",
         {0x80000001, 7, 0x80000000, 0x7FFFFFFF},
         {1, 3, 2, 0}},
        {"empty table", {0, 0, 0}, {}},
        {"0xFFFFFFFE is the largest fetched key", {0xFFFFFFFE, 1}, {1, 0}},
    };
    for (const Order_case& c : cases) {
        EXPECT_EQ(fetch_order(table_of(c.keys), static_cast<uint32_t>(c.keys.size())), c.order)
            << c.name;
    }
}

TEST(EntryTable, OnlySlotsBelowTheCountAreFetched) {
    EXPECT_EQ(fetch_order(table_of({9, 8, 1, 2}), 2), (std::vector<int64_t>{1, 0}));
}

TEST(EntryTable, ListingShowsPositiveKeysWithNotes) {
    std::vector<uint32_t> keys(10001, 0);
    keys[0] = 5;
    keys[2] = 3;
    keys[3] = 0x80000000; // negative when signed: fetched, yet not listed
    keys[4] = 0xFFFFFFFF;
    keys[12] = 7;
    keys[10000] = 2147483647;
    Capture c;
    vuxotest::print_entry_listing(c.file(), table_of(keys, {2, 12, 4}), 10001);
    EXPECT_EQ(c.text(), "    [0000] : 5 \n"
                        "    [0002] : 3  note\n"
                        "    [0012] : 7  note\n"
                        "    [10000] : 2147483647 \n");
}

TEST(EntryTable, ListingStopsAtTheCount) {
    Capture c;
    vuxotest::print_entry_listing(c.file(), table_of({1, 2, 3}), 2);
    EXPECT_EQ(c.text(), "    [0000] : 1 \n    [0001] : 2 \n");
}

TEST(EntryTable, FreshTableIsZeroFilled) {
    const Entry_table t = vuxotest::make_entry_table(128000);
    ASSERT_EQ(t.size(), 640000u);
    EXPECT_TRUE(std::all_of(t.begin(), t.end(), [](unsigned char b) { return b == 0; }));
}

struct Fit_case {
    uint32_t count, capacity, page, fits;
};

TEST(EntryTable, EntriesThatFitWholePages) {
    const Fit_case cases[] = {
        {0, 65536, 128, 0},
        {200, 65536, 128, 200},
        {65536, 65536, 128, 65536},
        {65537, 65536, 128, 65536},
        {0xFFFFFFFF, 65536, 128, 65536},
        {128000, 128000, 32, 128000},
        {128001, 128000, 32, 128000},
        {97, 100, 32, 96}, // the page at 96 would end past the table
        {90, 100, 32, 90},
    };
    for (const Fit_case& c : cases) {
        EXPECT_EQ(vuxotest::fitting_entries(c.count, c.capacity, c.page), c.fits)
            << c.count << " in " << c.capacity;
    }
}

} // namespace
