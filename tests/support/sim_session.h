// A simulated instrument on loopback TCP and one library connection to it. The
// connection is made with every fault switched off, so it is either made or the
// test fails; faults are set afterwards.
#ifndef VUXO_TEST_SUPPORT_SIM_SESSION_H
#define VUXO_TEST_SUPPORT_SIM_SESSION_H

#include <cstdint>
#include <string>

#include "simulator.h"

namespace simsession {

// A positive integer from the environment, or fallback.
long env_number(const char* name, long fallback);

// The connection string of the simulator listening on 127.0.0.1:port.
std::string net_conn_string(uint16_t port);

// A large log that keeps no frames: a long run must not grow memory.
vuxo::sim::Config big_log(vuxo::sim::Generation gen, uint32_t entries);

class SimSession {
  public:
    explicit SimSession(const vuxo::sim::Config& cfg);
    // Disconnects and stops the simulator.
    ~SimSession();
    SimSession(const SimSession&) = delete;
    SimSession& operator=(const SimSession&) = delete;

    // Starts the simulator and connects to it: "" or what failed.
    std::string open(int timeout_ms = 10000);

    vuxo::sim::Simulator& sim() { return sim_; }
    const vuxo::sim::Simulator& sim() const { return sim_; }
    // The connection's id, -1 before open() connected.
    int id() const { return id_; }

  private:
    vuxo::sim::Simulator sim_;
    int id_ = -1;
};

} // namespace simsession

#endif
