#include "fake_api.h"

#include <algorithm>
#include <cstring>

#include "le.h"
#include "vuxoint.h"

namespace fake_api {

namespace {

Instrument g_instrument;

int get_params(void* params, std::size_t size, std::size_t count_offset) {
    if (g_instrument.params_rc != 0) {
        return g_instrument.params_rc;
    }
    auto* p = static_cast<unsigned char*>(params);
    std::memset(p, 0x5A, size);
    vuxo::store_le<uint32_t>(p + count_offset, g_instrument.entry_count);
    return 0;
}

// Like the instrument: a whole page, slots without an entry empty.
int get_page(int32_t first, void* list, uint32_t page) {
    g_instrument.pages.push_back(first);
    if (first == g_instrument.failing_page) {
        return g_instrument.page_rc;
    }
    auto* p = static_cast<unsigned char*>(list);
    std::memset(p, 0, std::size_t{page} * 5);
    for (std::size_t i = 0; i < page; ++i) {
        const auto slot = static_cast<uint32_t>(first + static_cast<int32_t>(i));
        const auto it = g_instrument.entries.find(slot);
        if (it != g_instrument.entries.end()) {
            vuxo::store_le<uint32_t>(p + i * 5, it->second.first);
            p[i * 5 + 4] = it->second.second;
        }
    }
    return 0;
}

} // namespace

Instrument& instrument() {
    return g_instrument;
}

void reset() {
    g_instrument = Instrument{};
}

} // namespace fake_api

using fake_api::g_instrument;

extern "C" {

int vuxov1_get_params(int, void* params, int) {
    return fake_api::get_params(params, 4096, 88);
}

int vuxov2_get_params(int, void* params, int) {
    return fake_api::get_params(params, 4319, 94);
}

int vuxov1_get_meas_log_entry_list(int, int32_t first, void* list, int) {
    return fake_api::get_page(first, list, 128);
}

int vuxov2_get_meas_log_entry_list(int, int32_t first, void* list, int) {
    return fake_api::get_page(first, list, 32);
}

int vuxov1_get_meas_log_entry(int, int32_t index, int32_t, void* entry, int) {
    g_instrument.v1_fetches.push_back(index);
    if (index == g_instrument.failing_record) {
        return g_instrument.record_rc;
    }
    const auto it = g_instrument.v1_records.find(index);
    if (it == g_instrument.v1_records.end()) {
        return 1;
    }
    std::memcpy(entry, it->second.data(), std::min<std::size_t>(it->second.size(), 828));
    return 0;
}

// Stores at most `length` bytes, as the library does, whatever count it reports.
int vuxov2_read_file(int, const char* name, void* dest, int32_t offset, int32_t length, int* count,
                     int) {
    g_instrument.chunks.push_back({name, offset, length});
    if (offset == g_instrument.failing_chunk_offset) {
        return g_instrument.chunk_rc;
    }
    const auto it = g_instrument.files.find(name);
    if (it == g_instrument.files.end()) {
        return 1;
    }
    const auto size = static_cast<int32_t>(it->second.size());
    int32_t n = std::clamp(size - offset, int32_t{0}, length);
    if (offset == g_instrument.empty_chunk_offset) {
        n = 0;
    }
    if (n > 0) {
        std::memcpy(dest, it->second.data() + offset, static_cast<std::size_t>(n));
    }
    *count = n == 0 ? 0 : n + g_instrument.claimed_extra;
    return 0;
}

} // extern "C"
