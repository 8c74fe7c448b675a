// A simulated instrument on loopback TCP and one library connection to it,
// for the reliability tests. Connecting happens with every fault switched off,
// so a connection is either made or the test fails; faults are set afterwards.
#ifndef VUXO_RELIABILITY_SIM_SESSION_H
#define VUXO_RELIABILITY_SIM_SESSION_H

#include <cstdint>
#include <cstdlib>
#include <string>

#include "simulator.h"
#include "vuxoint.h"

namespace reliability {

// A positive integer from the environment, or fallback.
inline long env_number(const char* name, long fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return fallback;
    }
    const long v = std::strtol(text, nullptr, 10);
    return v > 0 ? v : fallback;
}

inline std::string net_conn_string(uint16_t port) {
    char out[VUXO_CONN_STRING_SIZE] = {};
    vuxo_make_net_conn_string(out, "127.0.0.1", port);
    return out;
}

inline vuxo::sim::Config sim_config(vuxo::sim::Generation gen, uint32_t entries) {
    vuxo::sim::Config cfg;
    cfg.data.gen = gen;
    cfg.data.set = vuxo::sim::DataSet::big;
    cfg.data.seed = 7;
    cfg.data.entries = entries;
    cfg.keep_frames = 0; // counts only: a long soak must not grow memory
    return cfg;
}

} // namespace reliability

#endif
