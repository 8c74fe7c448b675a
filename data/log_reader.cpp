// Reading a whole log: entry count, entry list, then every wanted record in key order,
// each handed to the caller as it arrives.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "exchange.h"
#include "generation.h"
#include "vuxodata.h"

namespace {

bool pairs_sorted(const vuxod_slot_key* pairs, size_t count) {
    for (size_t i = 1; i < count; ++i) {
        const vuxod_slot_key& a = pairs[i - 1];
        const vuxod_slot_key& b = pairs[i];
        if (a.slot > b.slot || (a.slot == b.slot && a.key > b.key)) {
            return false;
        }
    }
    return true;
}

bool skipped(const vuxod_log_options& o, int32_t slot, uint32_t key) {
    if (o.skip_count > 0) {
        const vuxod_slot_key wanted{slot, key};
        if (std::binary_search(o.skip_pairs, o.skip_pairs + o.skip_count, wanted,
                               [](const vuxod_slot_key& a, const vuxod_slot_key& b) {
                                   return a.slot != b.slot ? a.slot < b.slot : a.key < b.key;
                               })) {
            return true;
        }
    }
    return o.skip != nullptr && o.skip(slot, key, o.user) != 0;
}

// Records in a row left unanswered (each followed by a version answer) before the
// instrument counts as gone: one that answers nothing but its version would otherwise
// cost a time-out and a resynchronisation for every record left.
constexpr int kSilentRecords = 3;

void stop_at(vuxod_log_report* r, int code, int step, int32_t slot, uint32_t key) {
    r->code = code;
    r->step = step;
    r->slot = slot;
    r->key = key;
}

struct Work {
    std::vector<vuxod_entry> entries;
    std::vector<int32_t> order;
    std::unique_ptr<vuxod_measurement> m;
};

int read_records(vuxod_session* s, const vuxod_log_options& o, Work& w, uint32_t wanted,
                 vuxod_log_report* r) {
    int first_failure = VUXOD_OK;
    uint32_t done = 0;
    int silent = 0;
    if (o.progress != nullptr) {
        o.progress(VUXOD_PHASE_RECORDS, 0, r->to_fetch, o.user);
    }
    for (uint32_t k = 0; k < wanted; ++k) {
        const int32_t slot = w.order[k];
        const vuxod_entry& e = w.entries[static_cast<uint32_t>(slot)];
        int rc = vuxod_fetch_measurement(s, slot, w.m.get());
        silent = rc == VUXOD_NO_ANSWER ? silent + 1 : 0;
        if (silent >= kSilentRecords) {
            rc = VUXOD_E_GONE;
        }
        if (rc != VUXOD_OK) {
            ++r->failed;
            if ((o.flags & VUXOD_LOG_KEEP_GOING) == 0 || !vuxod::record_failure(rc)) {
                stop_at(r, rc, VUXOD_STEP_RECORD, slot, e.key);
                return rc;
            }
            if (first_failure == VUXOD_OK) {
                first_failure = rc;
                stop_at(r, rc, VUXOD_STEP_RECORD, slot, e.key);
            }
            if (o.on_failure != nullptr && o.on_failure(slot, e.key, rc, o.user) != 0) {
                stop_at(r, VUXOD_E_STOPPED, VUXOD_STEP_CALLBACK, slot, e.key);
                return VUXOD_E_STOPPED;
            }
        } else {
            ++r->fetched;
            const vuxod_record record{slot, e.key, e.flags, w.m->raw, w.m->raw_size, w.m.get()};
            if (o.on_record != nullptr && o.on_record(&record, o.user) != 0) {
                stop_at(r, VUXOD_E_STOPPED, VUXOD_STEP_CALLBACK, slot, e.key);
                return VUXOD_E_STOPPED;
            }
        }
        ++done;
        if (o.progress != nullptr) {
            o.progress(VUXOD_PHASE_RECORDS, done, r->to_fetch, o.user);
        }
    }
    r->code = first_failure;
    return first_failure;
}

int read_log(vuxod_session* s, const vuxod_log_options& o, vuxod_log_report* r) {
    const vuxod::Log_commands* g = vuxod::log_commands(s->generation);
    if (g == nullptr) {
        return VUXOD_E_ARGUMENT;
    }
    if (o.skip_count > 0 &&
        (o.skip_pairs == nullptr || !pairs_sorted(o.skip_pairs, o.skip_count))) {
        stop_at(r, VUXOD_E_UNSORTED, VUXOD_STEP_NONE, -1, 0);
        return VUXOD_E_UNSORTED;
    }
    int rc = vuxod_entry_count(s, &r->entry_count);
    if (rc != VUXOD_OK) {
        stop_at(r, rc, VUXOD_STEP_ENTRY_COUNT, -1, 0);
        return rc;
    }
    // An instrument claiming more entries than its largest log would have us allocate
    // whatever it says; its real log fits the largest one.
    r->entries_read = std::min(r->entry_count, g->max_entries);
    Work w;
    try {
        w.entries.resize(r->entries_read);
        w.order.resize(r->entries_read);
        w.m = std::make_unique<vuxod_measurement>();
    } catch (const std::bad_alloc&) {
        stop_at(r, VUXOD_E_NO_MEMORY, VUXOD_STEP_NONE, -1, 0);
        return VUXOD_E_NO_MEMORY;
    }
    uint32_t pages = 0;
    rc = vuxod_read_entries(s, r->entries_read, w.entries.data(), r->entries_read, &pages,
                            o.progress, o.user);
    if (rc != VUXOD_OK) {
        stop_at(r, rc, VUXOD_STEP_ENTRY_LIST, static_cast<int32_t>(pages * g->page_entries), 0);
        return rc;
    }
    const uint32_t listed = vuxod_download_order(w.entries.data(), r->entries_read, w.order.data());
    uint32_t wanted = 0;
    for (uint32_t k = 0; k < listed; ++k) {
        const int32_t slot = w.order[k];
        if (skipped(o, slot, w.entries[static_cast<uint32_t>(slot)].key)) {
            ++r->skipped;
        } else {
            w.order[wanted++] = slot;
        }
    }
    r->to_fetch = wanted;
    return read_records(s, o, w, wanted, r);
}

} // namespace

extern "C" {

void vuxod_log_options_init(vuxod_log_options* o) {
    if (o != nullptr) {
        std::memset(o, 0, sizeof *o);
        o->struct_size = sizeof *o;
    }
}

int vuxod_read_log(vuxod_session* s, const vuxod_log_options* o, vuxod_log_report* report) {
    vuxod_log_report local;
    vuxod_log_report* r = report != nullptr ? report : &local;
    std::memset(r, 0, sizeof *r);
    r->slot = -1;
    if (s == nullptr || o == nullptr || o->struct_size < sizeof(vuxod_log_options)) {
        r->code = VUXOD_E_ARGUMENT;
        return VUXOD_E_ARGUMENT;
    }
    const int rc = read_log(s, *o, r);
    r->code = rc;
    return rc;
}

} // extern "C"
