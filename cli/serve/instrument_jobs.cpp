#include "instrument_jobs.h"

#include <chrono>
#include <vector>

#include "clear_after.h"
#include "clock_text.h"
#include "instrument_info.h"
#include "result_text.h"
#include "shown_text.h"
#include "sync_run.h"
#include "vuxoint.h"

namespace vuxocli::serve {

namespace {

using Clock = std::chrono::steady_clock;

// A page needs no more progress than this; a fast sync would flood it.
constexpr auto kProgressEvery = std::chrono::milliseconds(100);

JobResult failure(int status, const std::string& error) {
    return JobResult{status, {{"error", error}}};
}

nlohmann::json clock_json(const ClockReading& clock) {
    return {{"clock", time_text(clock.instrument)},
            {"computer_clock", time_text(clock.computer)},
            {"clock_offset_s", clock.offset ? nlohmann::json(*clock.offset) : nlohmann::json()}};
}

nlohmann::json last_sync(const ServeContext& ctx, const std::string& serial) {
    std::string error;
    const std::unique_ptr<Store> store = Store::open(ctx.db, Store::Mode::read, &error);
    std::vector<StoredInstrument> rows;
    if (!store || !store->instruments(serial, &rows, &error) || rows.empty()) {
        return nullptr;
    }
    return rows.front().last_sync;
}

std::string who(InstrumentWorker& w) {
    return describe(w.target(), w.instrument().conn_string);
}

} // namespace

JobResult info_job(InstrumentWorker& w) {
    std::string error;
    if (!w.ensure_open(&error)) {
        return failure(502, error);
    }
    const Instrument& inst = w.instrument();
    InstrumentState state;
    std::string step;
    int rc = 0;
    if (!read_instrument_state(inst, &state, &step, &rc)) {
        return failure(502, who(w) + ": " + step + ": " + result_text(rc));
    }
    nlohmann::ordered_json j = instrument_json(who(w), inst, state);
    j["last_sync"] = last_sync(w.context(), inst.serial);
    return JobResult{200, j};
}

JobResult set_clock_job(InstrumentWorker& w) {
    std::string error;
    if (!w.ensure_open(&error)) {
        return failure(502, error);
    }
    const TimeRecord set = local_now();
    int rc = vuxo_set_time(w.instrument().conn_id, set.data());
    if (rc != 0) {
        return failure(502,
                       who(w) + ": set the clock to " + time_text(set) + ": " + result_text(rc));
    }
    ClockReading clock;
    if ((rc = read_clock(w.instrument().conn_id, &clock)) != 0) {
        return failure(502, who(w) + ": read the clock: " + result_text(rc));
    }
    if (!reads_back(clock.instrument, set)) {
        return failure(502, who(w) + ": the clock reads back " + time_text(clock.instrument) +
                                ", not the time set (" + time_text(set) + ")");
    }
    nlohmann::json j = clock_json(clock);
    j["set"] = time_text(set);
    return JobResult{200, j};
}

void sync_job(InstrumentWorker& w) {
    EventHub& hub = *w.context().hub;
    nlohmann::json done = {{"id", w.id()}};
    std::string error;
    if (!w.ensure_open(&error)) {
        done["error"] = error;
        done["complete"] = false;
        hub.publish("sync-done", done);
        return;
    }
    const std::string name = who(w);
    std::vector<std::string> problems;
    Clock::time_point started = Clock::now();
    Clock::time_point last = Clock::time_point{};
    SyncHooks hooks;
    hooks.progress = [&](int phase, uint32_t n, uint32_t total) {
        const Clock::time_point now = Clock::now();
        if (phase == VUXOD_PHASE_RECORDS && n == 0) {
            started = now;
        }
        if (now - last < kProgressEvery && n != total) {
            return;
        }
        last = now;
        const double seconds = std::chrono::duration<double>(now - started).count();
        nlohmann::json p = {{"id", w.id()},
                            {"phase", phase == VUXOD_PHASE_ENTRIES ? "entries" : "records"},
                            {"done", n},
                            {"total", total}};
        if (phase == VUXOD_PHASE_RECORDS && n > 0 && seconds > 0) {
            const double rate = n / seconds;
            p["rate"] = rate;
            p["eta_s"] = (total - n) / rate;
        }
        hub.publish("sync", p);
    };
    hooks.failure = [&](int32_t slot, uint32_t key, int code) {
        problems.push_back(name + ": fetching the " + record_name(slot, key) + ": " +
                           result_text(code));
    };
    hooks.reconnecting = [&](int attempt) {
        problems.push_back(name + ": the connection was lost; connecting again (" +
                           std::to_string(attempt) + ")");
    };
    hooks.reconnect_failed = [&](const std::string& text) { problems.push_back(text); };
    SyncSettings settings;
    settings.db = w.context().db;
    settings.events = w.events();
    vuxod_sync_summary sum{};
    const int rc = sync_instrument(w.target(), &w.instrument(), settings, hooks, &sum);
    if (const std::string text = sync_failure_text(rc, sum, name, settings.db); !text.empty()) {
        problems.push_back(text);
    }
    if (sum.failed + sum.not_fetched > 0) {
        const uint32_t left = sum.failed + sum.not_fetched;
        problems.push_back(name + ": " + std::to_string(left) + " record" + (left == 1 ? "" : "s") +
                           " not stored; the next sync fetches " + (left == 1 ? "it" : "them"));
    }
    const Instrument& inst = w.instrument();
    w.last_sync_complete = rc == VUXOD_OK && sum.failed == 0 && sum.not_fetched == 0;
    done.update(summary_json(inst, sum));
    done["complete"] = w.last_sync_complete;
    done["problems"] = problems;
    done["summary"] = summary_line(inst, sum);
    // A lost connection the sync could not bring back is closed for good.
    if (inst.conn_id < 0 || is_link_error(rc)) {
        w.drop_connection(inst.conn_id);
    }
    hub.publish("sync-done", done);
}

JobResult clear_job(InstrumentWorker& w) {
    if (!w.last_sync_complete) {
        return failure(409, "sync first: the log is cleared only after a sync that held "
                            "every measurement on the instrument");
    }
    std::string error;
    if (!w.ensure_open(&error)) {
        return failure(502, error);
    }
    const ClearOutcome clear = clear_after_sync(w.instrument(), w.context().db, true);
    w.last_sync_complete = false;
    nlohmann::json j = {{"cleared", clear.cleared}, {"clear_reason", clear.reason}};
    if (clear.entries_after) {
        j["entries_after_clear"] = *clear.entries_after;
    }
    return JobResult{clear.cleared ? 200 : 409, j};
}

void auto_sync_job(InstrumentWorker& w) {
    std::string error;
    if (!w.ensure_open(&error)) {
        return;
    }
    const std::unique_ptr<Store> store = Store::open(w.context().db, Store::Mode::read, &error);
    int64_t id = 0;
    std::string firmware;
    if (store && store->find_instrument(w.instrument().serial, &id, &firmware, &error)) {
        sync_job(w);
    }
}

} // namespace vuxocli::serve
