// One entry of the list, read with the single page that holds it: what a watcher
// needs for the slot a new-measurement message names, without reading the list
// from its start.
#include <cstring>

#include "generation.h"
#include "layout.h"
#include "le.h"
#include "vuxodata.h"

extern "C" int vuxod_read_entry(const vuxod_session* s, int32_t slot, vuxod_entry* entry) {
    const vuxod::Log_commands* g = s != nullptr ? vuxod::log_commands(s->generation) : nullptr;
    if (g == nullptr || entry == nullptr || slot < 0 ||
        static_cast<uint32_t>(slot) >= g->max_entries) {
        return VUXOD_E_ARGUMENT;
    }
    namespace L = vuxod::layout;
    const uint32_t first = static_cast<uint32_t>(slot) / g->page_entries * g->page_entries;
    unsigned char page[L::kV1PageEntries * L::kEntrySize] = {};
    const int rc = g->get_page(s->conn_id, static_cast<int32_t>(first), page, 1);
    if (rc != 0) {
        return rc;
    }
    const unsigned char* e = page + (static_cast<uint32_t>(slot) - first) * L::kEntrySize;
    *entry = vuxod_entry{};
    entry->slot = slot;
    entry->key = vuxo::load_le<uint32_t>(e);
    entry->flags = e[L::kEntryFlags];
    return VUXOD_OK;
}
