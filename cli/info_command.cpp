#include "info_command.h"

#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "clock_text.h"
#include "connect.h"
#include "exit_status.h"
#include "instrument_info.h"
#include "result_text.h"
#include "shown_text.h"
#include "vuxodata.h"

namespace vuxocli {

namespace {

void print(const InfoOptions& opt, const std::string& who, const Instrument& inst,
           const InstrumentState& info) {
    const char* generation = inst.generation == VUXOD_V1 ? "V1" : "V2";
    const std::string offset = info.clock.offset ? offset_text(*info.clock.offset) : "unknown";
    if (opt.json) {
        const nlohmann::ordered_json j = instrument_json(who, inst, info);
        std::printf("%s\n", j.dump().c_str());
        return;
    }
    std::printf("connection:      %s\n", who.c_str());
    std::printf("generation:      %s\n", generation);
    std::printf("serial:          %s\n", shown(inst.serial).c_str());
    std::printf("firmware:        %s\n", shown(inst.firmware).c_str());
    std::printf("model revision:  %d\n", info.model_revision);
    std::printf("entries used:    %u\n", info.entries);
    std::printf("memory usage:    %d (%s)\n", info.memory_usage, shown(info.memory_text).c_str());
    std::printf("clock:           %s (this computer %s, offset %s)\n",
                time_text(info.clock.instrument).c_str(), time_text(info.clock.computer).c_str(),
                offset.c_str());
}

} // namespace

CLI::App* add_info_command(CLI::App& app, InfoOptions* opt) {
    CLI::App* sub = app.add_subcommand("info", "Show what the instrument is and its clock");
    sub->add_option("CONN", opt->conn, "The instrument (see CONN below)")->required();
    sub->add_flag("--json", opt->json, "Print one JSON object");
    sub->footer(
        "Prints the generation, serial number, firmware version, model revision, entries\n"
        "used in the log, the memory usage (value and the instrument's own text) and the\n"
        "instrument's clock beside this computer's local time with the offset. With --json,\n"
        "one object (conn, generation, serial, firmware, model_revision, entries,\n"
        "memory_usage, memory_text, clock, computer_clock, clock_offset_s).\n"
        "\n"
        "A warning goes to standard error when the clocks differ by more than a minute:\n"
        "every measurement's time is the instrument's clock.\n"
        "\n"
        "Exit status: 0 shown, 1 something could not be read, 2 usage, 3 no instrument.\n"
        "\n" +
        std::string(conn_forms_help()));
    return sub;
}

int run_info(const InfoOptions& opt) {
    Library library;
    Instrument inst;
    std::string who;
    const int opened = open_for_command(opt.conn, library, &inst, &who);
    if (opened != kExitOk) {
        return opened;
    }
    InstrumentState info;
    std::string step;
    int rc = 0;
    const bool ok = read_instrument_state(inst, &info, &step, &rc);
    close_instrument(inst);
    if (!ok) {
        std::fprintf(stderr, "vuxoint: %s: %s: %s\n", who.c_str(), step.c_str(),
                     result_text(rc).c_str());
        return is_link_error(rc) ? kExitNoInstrument : kExitIncomplete;
    }
    print(opt, who, inst, info);
    std::fflush(stdout);
    warn_clock(who, info.clock);
    return kExitOk;
}

} // namespace vuxocli
