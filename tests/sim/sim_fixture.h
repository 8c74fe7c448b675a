// Starts an in-process simulator and connects a raw host to it.
#ifndef VUXO_TESTS_SIM_FIXTURE_H
#define VUXO_TESTS_SIM_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>

#include "raw_client.h"
#include "simulator.h"

namespace simtest {

inline vuxo::sim::Config config_for(vuxo::sim::Generation gen) {
    vuxo::sim::Config cfg;
    cfg.data.gen = gen;
    cfg.clock = vuxo::sim::ClockRecord{6, 12, 2026, 9, 5, 7};
    return cfg;
}

class SimTest : public ::testing::Test {
  protected:
    void start(const vuxo::sim::Config& cfg) {
        sim = std::make_unique<vuxo::sim::Simulator>(cfg);
        std::string error;
        ASSERT_TRUE(sim->start(&error)) << error;
        ASSERT_TRUE(host.connect_tcp(sim->port()));
    }
    void start(vuxo::sim::Generation gen) { start(config_for(gen)); }
    void TearDown() override {
        host.close();
        if (sim) {
            sim->stop();
        }
    }

    std::unique_ptr<vuxo::sim::Simulator> sim;
    RawClient host;
};

} // namespace simtest

#endif
