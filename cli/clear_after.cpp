#include "clear_after.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <tuple>
#include <vector>

#include "program_io.h"
#include "result_text.h"
#include "shown_text.h"
#include "store.h"
#include "vuxodata.h"

namespace vuxocli {

namespace {

// The instrument's list as it is now, against what the database holds.
struct Check {
    uint32_t measurements = 0; // entries with a measurement in them
    std::string problem;       // "" when the database holds every one
    bool database = false;
};

bool before(const vuxod_slot_key& a, const vuxod_slot_key& b) {
    return std::tie(a.slot, a.key) < std::tie(b.slot, b.key);
}

std::string plural(uint32_t n, const char* word) {
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

Check check_all_held(const Instrument& inst, const std::string& db) {
    Check c;
    vuxod_session s;
    uint32_t count = 0;
    int rc = vuxod_session_open(&s, inst.conn_id);
    if (rc == VUXOD_OK) {
        rc = vuxod_entry_count(&s, &count);
    }
    const uint32_t largest =
        inst.generation == VUXOD_V1 ? VUXOD_V1_MAX_ENTRIES : VUXOD_V2_MAX_ENTRIES;
    // Entries past the largest log are never synced, so a count beyond it
    // cannot be vouched for.
    if (rc == VUXOD_OK && count > largest) {
        c.problem =
            "the instrument lists " + std::to_string(count) + " entries, more than its log holds";
        return c;
    }
    std::vector<vuxod_entry> entries(count);
    if (rc == VUXOD_OK) {
        rc = vuxod_read_entries(&s, count, entries.data(), count, nullptr, nullptr, nullptr);
    }
    if (rc != VUXOD_OK) {
        c.problem = "reading the entry list again: " + result_text(rc);
        return c;
    }

    std::string error;
    const std::unique_ptr<Store> store = Store::open(db, Store::Mode::read, &error);
    std::vector<vuxod_slot_key> held;
    if (!store || !store->held(inst.serial, &held, &error)) {
        c.problem = "database " + db + ": read what is held: " + error;
        c.database = true;
        return c;
    }
    std::sort(held.begin(), held.end(), before);
    uint32_t missing = 0;
    vuxod_slot_key first{};
    for (const vuxod_entry& e : entries) {
        if (e.key == 0 || e.key == 0xFFFFFFFFu) {
            continue;
        }
        ++c.measurements;
        const vuxod_slot_key pair{e.slot, e.key};
        if (!std::binary_search(held.begin(), held.end(), pair, before) && missing++ == 0) {
            first = pair;
        }
    }
    if (missing > 0) {
        c.problem = plural(missing, "measurement") +
                    " on the instrument not in the database (the first in slot " +
                    std::to_string(first.slot) + ", key " + std::to_string(first.key) +
                    "), taken after the sync read the list; sync again before clearing";
    }
    return c;
}

// Only "y" or "yes" agrees; anything else, end of input included, declines.
bool confirmed(const std::string& question) {
    std::fprintf(stderr, "%s [y/N] ", question.c_str());
    std::fflush(stderr);
    char line[64];
    if (std::fgets(line, sizeof line, stdin) == nullptr) {
        std::fputc('\n', stderr);
        return false;
    }
    std::string answer(line);
    answer.erase(std::remove_if(answer.begin(), answer.end(),
                                [](unsigned char ch) { return std::isspace(ch) != 0; }),
                 answer.end());
    std::transform(answer.begin(), answer.end(), answer.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    return answer == "y" || answer == "yes";
}

int clear_log(const Instrument& inst) {
    // The value's meaning is the instrument's own; no value but 0 is known to it.
    return inst.generation == VUXOD_V1 ? vuxov1_clear_logs(inst.conn_id, 0, 1)
                                       : vuxov2_clear_logs(inst.conn_id, 0, 1);
}

} // namespace

ClearOutcome clear_after_sync(const Instrument& inst, const std::string& db, bool yes) {
    ClearOutcome out;
    const bool terminal = vuxo::is_terminal(stdin) && vuxo::is_terminal(stderr);
    if (!yes && !terminal) {
        out.reason = "no terminal to ask on; --yes clears without asking";
        return out;
    }
    Check c = check_all_held(inst, db);
    if (c.problem.empty() && !yes) {
        if (!confirmed("Clear " + plural(c.measurements, "measurement") + " from " +
                       shown(inst.serial) + "?")) {
            out.reason = "not confirmed";
            return out;
        }
        // The instrument may have measured while the question waited.
        c = check_all_held(inst, db);
    }
    if (!c.problem.empty()) {
        out.reason = c.problem;
        out.database = c.database;
        return out;
    }
    const int rc = clear_log(inst);
    if (rc != 0) {
        out.reason = "clearing the log: " + result_text(rc);
        return out;
    }
    out.cleared = true;
    vuxod_session s;
    uint32_t count = 0;
    if (vuxod_session_open(&s, inst.conn_id) == VUXOD_OK &&
        vuxod_entry_count(&s, &count) == VUXOD_OK) {
        out.entries_after = count;
    }
    return out;
}

} // namespace vuxocli
