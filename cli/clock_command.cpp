#include "clock_command.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>

#include "clock_text.h"
#include "connect.h"
#include "exit_status.h"
#include "result_text.h"
#include "shown_text.h"
#include "vuxoint.h"

namespace vuxocli {

namespace {

void print(const ClockOptions& opt, const std::string& who, const std::string& serial,
           const std::optional<TimeRecord>& set, const ClockReading& clock) {
    const std::string offset = clock.offset ? offset_text(*clock.offset) : "unknown";
    if (opt.json) {
        nlohmann::ordered_json j;
        j["conn"] = shown(who);
        j["serial"] = shown(serial);
        if (set) {
            j["set"] = time_text(*set);
        }
        j["clock"] = time_text(clock.instrument);
        j["computer_clock"] = time_text(clock.computer);
        j["clock_offset_s"] =
            clock.offset ? nlohmann::ordered_json(*clock.offset) : nlohmann::ordered_json();
        std::printf("%s\n", j.dump().c_str());
        return;
    }
    if (set) {
        std::printf("set %s; reads back ", time_text(*set).c_str());
    }
    std::printf("%s (this computer %s, offset %s)\n", time_text(clock.instrument).c_str(),
                time_text(clock.computer).c_str(), offset.c_str());
}

} // namespace

CLI::App* add_clock_command(CLI::App& app, ClockOptions* opt) {
    CLI::App* sub = app.add_subcommand("clock", "Read or set the instrument's clock");
    sub->add_option("CONN", opt->conn, "The instrument (see CONN below)")->required();
    CLI::Option* now =
        sub->add_flag("--set-now", opt->set_now, "Set it to this computer's local time");
    sub->add_option("--set", opt->set, "Set it to TIME, YYYY-MM-DDTHH:MM[:SS]")
        ->type_name("TIME")
        ->excludes(now);
    sub->add_flag("--json", opt->json, "Print one JSON object");
    sub->footer(
        "Without an option, reads the clock and prints it beside this computer's local time\n"
        "with the offset (instrument minus computer); a warning goes to standard error when\n"
        "they differ by more than a minute. Every measurement's time is the instrument's\n"
        "clock, which keeps no time zone: set it to the local time of the survey.\n"
        "--set-now or --set TIME sets it, reads it back and prints both. With --json, one\n"
        "object (conn, serial, set, clock, computer_clock, clock_offset_s).\n"
        "\n"
        "Exit status: 0 done, 1 the instrument refused the time or reads back another,\n"
        "2 usage (TIME not a real date and time of day), 3 no instrument.\n"
        "\n" +
        std::string(conn_forms_help()));
    return sub;
}

int run_clock(const ClockOptions& opt) {
    std::optional<TimeRecord> wanted;
    if (!opt.set.empty()) {
        std::string why;
        wanted = parse_time(opt.set, &why);
        if (!wanted) {
            std::fprintf(stderr, "vuxoint: --set \"%s\": %s\n", opt.set.c_str(), why.c_str());
            return kExitUsage;
        }
    }
    Library library;
    Instrument inst;
    std::string who;
    const int opened = open_for_command(opt.conn, library, &inst, &who);
    if (opened != kExitOk) {
        return opened;
    }
    std::optional<TimeRecord> set = wanted;
    if (opt.set_now) {
        set = local_now();
    }
    if (set) {
        const int rc = vuxo_set_time(inst.conn_id, set->data());
        if (rc != 0) {
            close_instrument(inst);
            std::fprintf(stderr, "vuxoint: %s: set the clock to %s: %s\n", who.c_str(),
                         time_text(*set).c_str(), result_text(rc).c_str());
            return kExitIncomplete;
        }
    }
    ClockReading clock;
    const int rc = read_clock(inst.conn_id, &clock);
    close_instrument(inst);
    if (rc != 0) {
        std::fprintf(stderr, "vuxoint: %s: read the clock: %s\n", who.c_str(),
                     result_text(rc).c_str());
        return kExitIncomplete;
    }
    print(opt, who, inst.serial, set, clock);
    std::fflush(stdout);
    if (!set) {
        warn_clock(who, clock);
        return kExitOk;
    }
    if (!reads_back(clock.instrument, *set)) {
        std::fprintf(stderr, "vuxoint: %s: the clock reads back %s, not the time set (%s)\n",
                     who.c_str(), time_text(clock.instrument).c_str(), time_text(*set).c_str());
        return kExitIncomplete;
    }
    return kExitOk;
}

} // namespace vuxocli
