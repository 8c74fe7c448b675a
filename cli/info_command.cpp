#include "info_command.h"

#include <CLI/CLI.hpp>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "clock_text.h"
#include "connect.h"
#include "exit_status.h"
#include "le.h"
#include "m17_comm.h"
#include "m20_comm.h"
#include "m21_comm.h"
#include "result_text.h"
#include "shown_text.h"
#include "vuxodata.h"

namespace vuxocli {

namespace {

constexpr std::size_t kMemoryTextSize = 2048;

struct Info {
    int32_t model_revision = 0;
    uint32_t entries = 0;
    int memory_usage = 0;
    std::string memory_text;
    ClockReading clock;
};

// Every read after the connection, in order; the first failure names its step.
bool read_info(const Instrument& inst, Info* out, std::string* step, int* rc) {
    *step = "read the model revision";
    std::array<unsigned char, 4> rev{};
    if ((*rc = M17_get_model_rev(inst.conn_id, rev.data(), 1)) != 0) {
        return false;
    }
    out->model_revision = vuxo::load_le<int32_t>(rev.data());
    *step = "read the entry count";
    vuxod_session s;
    if ((*rc = vuxod_session_open(&s, inst.conn_id)) != 0 ||
        (*rc = vuxod_entry_count(&s, &out->entries)) != 0) {
        return false;
    }
    *step = "read the memory usage";
    std::array<char, kMemoryTextSize> text{};
    *rc = inst.generation == VUXOD_V1
              ? M20_Memory_Usage(inst.conn_id, &out->memory_usage, text.data(), text.size(), 1)
              : M21_Memory_Usage(inst.conn_id, &out->memory_usage, text.data(), text.size(), 1);
    if (*rc != 0) {
        return false;
    }
    out->memory_text.assign(text.data(), strnlen(text.data(), text.size()));
    *step = "read the clock";
    return (*rc = read_clock(inst.conn_id, &out->clock)) == 0;
}

void print(const InfoOptions& opt, const std::string& who, const Instrument& inst,
           const Info& info) {
    const char* generation = inst.generation == VUXOD_V1 ? "V1" : "V2";
    const std::string offset = info.clock.offset ? offset_text(*info.clock.offset) : "unknown";
    if (opt.json) {
        nlohmann::ordered_json j;
        j["conn"] = shown(who);
        j["generation"] = generation;
        j["serial"] = shown(inst.serial);
        j["firmware"] = shown(inst.firmware);
        j["model_revision"] = info.model_revision;
        j["entries"] = info.entries;
        j["memory_usage"] = info.memory_usage;
        j["memory_text"] = shown(info.memory_text);
        j["clock"] = time_text(info.clock.instrument);
        j["computer_clock"] = time_text(info.clock.computer);
        j["clock_offset_s"] = info.clock.offset ? nlohmann::ordered_json(*info.clock.offset)
                                                : nlohmann::ordered_json();
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
    Info info;
    std::string step;
    int rc = 0;
    const bool ok = read_info(inst, &info, &step, &rc);
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
