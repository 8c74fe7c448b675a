#include "sim_session.h"

#include <cstdlib>

#include "vuxoint.h"

namespace simsession {

long env_number(const char* name, long fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return fallback;
    }
    const long v = std::strtol(text, nullptr, 10);
    return v > 0 ? v : fallback;
}

std::string net_conn_string(uint16_t port) {
    char out[VUXO_CONN_STRING_SIZE] = {};
    vuxo_make_net_conn_string(out, "127.0.0.1", port);
    return out;
}

vuxo::sim::Config big_log(vuxo::sim::Generation gen, uint32_t entries) {
    vuxo::sim::Config cfg;
    cfg.data.gen = gen;
    cfg.data.set = vuxo::sim::DataSet::big;
    cfg.data.seed = 7;
    cfg.data.entries = entries;
    cfg.keep_frames = 0;
    return cfg;
}

SimSession::SimSession(const vuxo::sim::Config& cfg) : sim_(cfg) {}

SimSession::~SimSession() {
    if (id_ >= 0) {
        vuxo_disconnect(id_);
    }
    sim_.stop();
}

std::string SimSession::open(int timeout_ms) {
    std::string error;
    if (!sim_.start(&error)) {
        return "the simulator did not start: " + error;
    }
    const std::string cs = net_conn_string(sim_.port());
    const int r =
        vuxo_connect(cs.c_str(), &id_, timeout_ms, nullptr, nullptr, nullptr, nullptr, nullptr);
    return r == 0 ? "" : "vuxo_connect " + cs + " returned " + std::to_string(r);
}

} // namespace simsession
