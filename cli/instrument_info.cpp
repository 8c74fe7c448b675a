#include "instrument_info.h"

#include "shown_text.h"

#include <array>
#include <cstring>

#include "le.h"
#include "m17_comm.h"
#include "m20_comm.h"
#include "m21_comm.h"
#include "vuxodata.h"

namespace vuxocli {

namespace {

constexpr std::size_t kMemoryTextSize = 2048;

} // namespace

bool read_instrument_state(const Instrument& inst, InstrumentState* out, std::string* step,
                           int* rc) {
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

nlohmann::ordered_json instrument_json(const std::string& who, const Instrument& inst,
                                       const InstrumentState& state) {
    nlohmann::ordered_json j;
    j["conn"] = shown(who);
    j["generation"] = inst.generation == VUXOD_V1 ? "V1" : "V2";
    j["serial"] = shown(inst.serial);
    j["firmware"] = shown(inst.firmware);
    j["model_revision"] = state.model_revision;
    j["entries"] = state.entries;
    j["memory_usage"] = state.memory_usage;
    j["memory_text"] = shown(state.memory_text);
    j["clock"] = time_text(state.clock.instrument);
    j["computer_clock"] = time_text(state.clock.computer);
    j["clock_offset_s"] =
        state.clock.offset ? nlohmann::ordered_json(*state.clock.offset) : nlohmann::ordered_json();
    return j;
}

} // namespace vuxocli
