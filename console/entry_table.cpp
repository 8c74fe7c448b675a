#include "entry_table.h"

#include <algorithm>

#include "le.h"

namespace vuxotest {

Entry_table make_entry_table(uint32_t capacity) {
    return Entry_table(static_cast<std::size_t>(capacity) * kEntrySize, 0);
}

uint32_t entry_key(const Entry_table& table, uint32_t slot) {
    return vuxo::load_le<uint32_t>(table.data() + static_cast<std::size_t>(slot) * kEntrySize);
}

bool entry_has_note(const Entry_table& table, uint32_t slot) {
    return (table[static_cast<std::size_t>(slot) * kEntrySize + vuxod::layout::kEntryFlags] & 1) !=
           0;
}

uint32_t fitting_entries(uint32_t count, uint32_t capacity, uint32_t page) {
    const uint32_t whole_pages = capacity / page;
    return std::min(count, whole_pages * page);
}

void print_entry_listing(std::FILE* out, const Entry_table& table, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        const auto key = static_cast<int32_t>(entry_key(table, i));
        if (key <= 0) {
            continue;
        }
        std::fprintf(out, "    [%.4d] : %d ", static_cast<int>(i), key);
        if (entry_has_note(table, i)) {
            std::fputs(" note", out);
        }
        std::fputc('\n', out);
    }
}

int64_t take_next_slot(Entry_table& table, uint32_t count) {
    uint32_t best = 0xFFFFFFFFu;
    int64_t chosen = -1;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t key = entry_key(table, i);
        if (key != 0 && key < best) {
            best = key;
            chosen = i;
        }
    }
    if (chosen >= 0) {
        vuxo::store_le<uint32_t>(table.data() + static_cast<std::size_t>(chosen) * kEntrySize, 0);
    }
    return chosen;
}

} // namespace vuxotest
