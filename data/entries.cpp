// Sessions, the entry count, the entry list and the download order.
#include <algorithm>
#include <cstring>

#include "generation.h"
#include "layout.h"
#include "le.h"
#include "vuxodata.h"
#include "vuxoint.h"

namespace vuxod {

namespace L = layout;

const Log_commands* log_commands(int32_t generation) {
    // Command numbers and time-outs as the command sets have them.
    static const Log_commands v1 = {L::kV1ParamSize,      L::kV1CountOffset,  L::kV1PageEntries,
                                    VUXOD_V1_MAX_ENTRIES, L::v1::kRecordSize, {8201, 2000},
                                    {8204, 5000},         {8205, 5000}};
    static const Log_commands v2 = {L::kV2ParamSize,      L::kV2CountOffset,  L::kV2PageEntries,
                                    VUXOD_V2_MAX_ENTRIES, L::v2::kRecordSize, {8201, 800},
                                    {8204, 800},          {8211, 800}};
    switch (generation) {
    case VUXOD_V1:
        return &v1;
    case VUXOD_V2:
        return &v2;
    default:
        return nullptr;
    }
}

} // namespace vuxod

extern "C" {

int vuxod_session_open(vuxod_session* s, int conn_id) {
    if (s == nullptr) {
        return VUXOD_E_ARGUMENT;
    }
    std::memset(s, 0, sizeof *s);
    const int generation = vuxo_get_type(conn_id);
    if (vuxod::log_commands(generation) == nullptr) {
        s->conn_id = -1;
        s->generation = -1;
        return VUXOD_E_NO_DEVICE;
    }
    s->conn_id = conn_id;
    s->generation = generation;
    s->chunk = VUXOD_CHUNK_LARGE;
    return VUXOD_OK;
}

int vuxod_entry_count(const vuxod_session* s, uint32_t* count) {
    const vuxod::Log_commands* g = s != nullptr ? vuxod::log_commands(s->generation) : nullptr;
    if (g == nullptr || count == nullptr) {
        return VUXOD_E_ARGUMENT;
    }
    uint8_t params[vuxod::L::kV2ParamSize] = {};
    // A block too short to hold the count would read as an empty log.
    int len = 0;
    const int rc = vuxod::exchange_retried(s->conn_id, g->params, nullptr, 0, params,
                                           static_cast<int>(g->param_size),
                                           static_cast<int>(g->count_offset + 4), &len);
    if (rc != 0) {
        return rc;
    }
    *count = vuxo::load_le<uint32_t>(params + g->count_offset);
    return VUXOD_OK;
}

int vuxod_read_entries(const vuxod_session* s, uint32_t count, vuxod_entry* entries,
                       uint32_t capacity, uint32_t* pages_done, vuxod_progress_fn progress,
                       void* user) {
    const vuxod::Log_commands* g = s != nullptr ? vuxod::log_commands(s->generation) : nullptr;
    if (pages_done != nullptr) {
        *pages_done = 0;
    }
    if (g == nullptr || (entries == nullptr && count > 0)) {
        return VUXOD_E_ARGUMENT;
    }
    if (count > capacity) {
        return VUXOD_E_CAPACITY;
    }
    const uint32_t page = g->page_entries;
    const uint32_t pages = count / page + (count % page != 0 ? 1 : 0);
    // The last page may describe slots past the count; only those below it are kept, so
    // the caller's array needs no slack.
    uint8_t buffer[vuxod::L::kV1PageEntries * vuxod::L::kEntrySize];
    const auto page_bytes = static_cast<int>(page * vuxod::L::kEntrySize);
    for (uint32_t p = 0; p < pages; ++p) {
        const uint32_t first = p * page;
        const uint32_t end = std::min(count, first + page);
        uint8_t request[4];
        vuxo::store_le<int32_t>(request, static_cast<int32_t>(first));
        // Every entry below the count must come from this answer; a short page would
        // make the missing slots read as empty.
        const auto needed = static_cast<int>((end - first) * vuxod::L::kEntrySize);
        int len = 0;
        const int rc = vuxod::exchange_retried(s->conn_id, g->page, request, sizeof request, buffer,
                                               page_bytes, needed, &len);
        if (rc != 0) {
            return rc;
        }
        for (uint32_t i = first; i < end; ++i) {
            const unsigned char* e = buffer + (i - first) * vuxod::L::kEntrySize;
            entries[i] = vuxod_entry{};
            entries[i].slot = static_cast<int32_t>(i);
            entries[i].key = vuxo::load_le<uint32_t>(e);
            entries[i].flags = e[vuxod::L::kEntryFlags];
        }
        if (pages_done != nullptr) {
            *pages_done = p + 1;
        }
        if (progress != nullptr) {
            progress(VUXOD_PHASE_ENTRIES, p + 1, pages, user);
        }
    }
    return VUXOD_OK;
}

uint32_t vuxod_download_order(const vuxod_entry* entries, uint32_t count, int32_t* slots) {
    if (entries == nullptr || slots == nullptr) {
        return 0;
    }
    // Sorted as indices into entries first, then turned into the entries' slots.
    uint32_t n = 0;
    for (uint32_t i = 0; i < count; ++i) {
        // Key 0 marks an empty slot. The all-ones key was never reached by the console's
        // minimum search either, so every reader of a log agrees on what it holds.
        if (entries[i].key != 0 && entries[i].key != 0xFFFFFFFFu) {
            slots[n++] = static_cast<int32_t>(i);
        }
    }
    // Slots are distinct, so ordering by (key, slot) is total and needs no stable sort,
    // which would allocate.
    std::sort(slots, slots + n, [entries](int32_t a, int32_t b) {
        const uint32_t ka = entries[a].key;
        const uint32_t kb = entries[b].key;
        return ka != kb ? ka < kb : a < b;
    });
    for (uint32_t k = 0; k < n; ++k) {
        slots[k] = entries[slots[k]].slot;
    }
    return n;
}

void vuxod_sort_slot_keys(vuxod_slot_key* pairs, size_t count) {
    if (pairs == nullptr) {
        return;
    }
    std::sort(pairs, pairs + count, [](const vuxod_slot_key& a, const vuxod_slot_key& b) {
        return a.slot != b.slot ? a.slot < b.slot : a.key < b.key;
    });
}

} // extern "C"
