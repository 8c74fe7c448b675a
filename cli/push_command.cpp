#include "push_command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "exit_status.h"
#include "export_rows.h"
#include "interrupts.h"
#include "shared_options.h"
#include "shown_text.h"
#include "store.h"
#include "vuxodata.h"

namespace vuxocli {

CLI::App* add_push_command(CLI::App& app, PushOptions* opt) {
    CLI::App* sub = app.add_subcommand(
        "push", "Copy a local database's measurements the shared database does not hold yet");
    sub->add_option("--from", opt->from, "The local database file")->required();
    sub->add_option("--to", opt->to,
                    "The shared database: postgresql://USER@HOST[:PORT]/DBNAME (the password "
                    "from PGPASSWORD or ~/.pgpass), or another file")
        ->required();
    sub->footer("Each measurement is copied whole (its record as the instrument sent it, its\n"
                "decoded fields, scan values and note) in a transaction of its own, so an\n"
                "interrupted push keeps what it copied and the next one copies the rest;\n"
                "a push of what is held already copies nothing. Prints \"N copied, M already\n"
                "held\".\n");
    return sub;
}

namespace {

struct Counts {
    long copied = 0;
    long held = 0;
    long unreadable = 0; // a stored record that no longer decodes
};

void say(const std::string& text) {
    std::fprintf(stderr, "vuxoint: %s\n", text.c_str());
}

// One instrument's records the destination lacks. False with *error when a
// database failed; an interruption stops it quietly between records.
bool push_instrument(Store& from, Store& to, const StoredInstrument& inst, Counts* counts,
                     std::string* error) {
    std::vector<vuxod_slot_key> held;
    if (!to.held(inst.serial, &held, error)) {
        return false;
    }
    const auto is_held = [&](int64_t slot, int64_t key) {
        return std::binary_search(
            held.begin(), held.end(),
            vuxod_slot_key{static_cast<int32_t>(slot), static_cast<uint32_t>(key)},
            [](const vuxod_slot_key& a, const vuxod_slot_key& b) {
                return a.slot != b.slot ? a.slot < b.slot : a.key < b.key;
            });
    };
    InstrumentRecords records;
    records.store = &to;
    records.info.serial = inst.serial;
    records.info.firmware = inst.firmware;
    records.info.generation = inst.generation == "V1" ? VUXOD_V1 : VUXOD_V2;
    QueryFilter filter;
    filter.serial = inst.serial;
    filter.key_order = true;
    auto m = std::make_unique<vuxod_measurement>();
    bool good = true;
    const bool read = from.records(
        filter,
        [&](const StoredRecord& r) {
            if (interrupted() != 0) {
                return false;
            }
            if (is_held(r.slot, r.key)) {
                ++counts->held;
                return true;
            }
            if (vuxod_decode(r.generation, r.raw.data(), r.raw.size(), m.get()) != VUXOD_OK) {
                ++counts->unreadable;
                return true;
            }
            vuxod_record record{};
            record.slot = static_cast<int32_t>(r.slot);
            record.key = static_cast<uint32_t>(r.key);
            record.entry_flags = static_cast<uint8_t>(r.entry_flags);
            record.raw = m->raw;
            record.raw_size = m->raw_size;
            record.m = m.get();
            if (r.note) {
                record.note = reinterpret_cast<const uint8_t*>(r.note->data());
                record.note_size = r.note->size();
            }
            switch (records.keep(record, error)) {
            case PutResult::stored:
                ++counts->copied;
                return true;
            case PutResult::already_held: // another push or sync stored it meanwhile
                ++counts->held;
                return true;
            case PutResult::failed:
                good = false;
                return false;
            }
            return false;
        },
        error);
    return read && good;
}

} // namespace

int run_push(const PushOptions& opt) {
    std::unique_ptr<Store> from;
    std::string message;
    if (const int rc = open_to_read(opt.from, "", &from, &message, say); rc != VUXOD_OK) {
        say(message);
        return vuxod_exit_status(rc);
    }
    std::string error;
    std::unique_ptr<Store> to = Store::open(opt.to, Store::Mode::write, &error);
    if (!to) {
        say("database " + opt.to + ": open: " + error);
        return kExitDatabase;
    }
    std::vector<StoredInstrument> instruments;
    if (!from->instruments(std::nullopt, &instruments, &error)) {
        say("database " + opt.from + ": " + error);
        return kExitDatabase;
    }
    catch_interrupts();
    Counts counts;
    bool good = true;
    for (const StoredInstrument& inst : instruments) {
        if (interrupted() != 0 || !(good = push_instrument(*from, *to, inst, &counts, &error))) {
            break;
        }
    }
    const bool stopped = interrupted() != 0;
    release_interrupts();
    std::printf("%ld copied, %ld already held\n", counts.copied, counts.held);
    if (!good) {
        say("database " + opt.to + ": " + error + " (what was copied is kept; push again)");
        return kExitDatabase;
    }
    if (stopped) {
        say("interrupted; what was copied is kept, the next push copies the rest");
        return kExitInterrupted;
    }
    if (counts.unreadable > 0) {
        say(std::to_string(counts.unreadable) + " stored records could not be decoded and were "
                                                "not copied");
        return kExitIncomplete;
    }
    return kExitOk;
}

} // namespace vuxocli
