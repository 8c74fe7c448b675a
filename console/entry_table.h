// The program's copy of the instrument's entry list: 5-byte entries indexed by log
// slot (uint32 key, flags byte), and the order in which their records are fetched.
#ifndef VUXOTEST_ENTRY_TABLE_H
#define VUXOTEST_ENTRY_TABLE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "layout.h"

namespace vuxotest {

inline constexpr std::size_t kEntrySize = vuxod::layout::kEntrySize;

using Entry_table = std::vector<unsigned char>;

// A zero-filled table of `capacity` entries.
Entry_table make_entry_table(uint32_t capacity);

uint32_t entry_key(const Entry_table& table, uint32_t slot);
bool entry_has_note(const Entry_table& table, uint32_t slot);

// How many of `count` entries can be downloaded into a table of `capacity` entries
// when pages of `page` entries are stored whole: only pages that fit are requested.
uint32_t fitting_entries(uint32_t count, uint32_t capacity, uint32_t page);

// Lists slots 0 to count - 1 whose key, read as signed, is above 0.
void print_entry_listing(std::FILE* out, const Entry_table& table, uint32_t count);

// The slot to fetch next among slots 0 to count - 1: the smallest nonzero key
// (unsigned), the lowest slot among equal keys; its key is cleared so that it is
// taken once. A key of 0xFFFFFFFF is never taken. -1 when no slot is left.
int64_t take_next_slot(Entry_table& table, uint32_t count);

} // namespace vuxotest

#endif
