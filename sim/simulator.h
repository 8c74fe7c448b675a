// The simulated instrument (V1 or V2) for in-process use by tests and benchmarks, and the
// engine of the vuxoint-sim program.
//
// A Simulator owns one thread that listens on 127.0.0.1 (or serves a pseudo-terminal),
// serves one host at a time, finds request frames with the library's own receiver and
// answers them as the instrument would. Every public method may be called from any thread
// at any time between construction and destruction; the inspection methods return copies.
//
//   vuxo::sim::Config cfg;
//   cfg.data.gen = vuxo::sim::Generation::v1;
//   vuxo::sim::Simulator sim(cfg);
//   sim.start();                       // false (and *error) when the port cannot be opened
//   connect_to("127.0.0.1", sim.port());
//   sim.wait_for_count(8007, 1, std::chrono::seconds(5));
//   sim.stop();                        // joins the thread; the destructor does it too
#ifndef VUXO_SIM_SIMULATOR_H
#define VUXO_SIM_SIMULATOR_H

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim_data.h"
#include "sim_device.h"
#include "sim_faults.h"

namespace vuxo::sim {

enum class LinkKind { tcp, pty };

struct Config {
    DataSpec data;
    LinkKind link = LinkKind::tcp;
    // TCP port on 127.0.0.1; 0 picks a free one (read it back with port()).
    uint16_t port = 0;
    // Seconds of host silence, after the host read the parameter block, the entry list or a
    // record, before a new measurement is stored; 0 disables. The program defaults to 1.5,
    // the library to 0 so that in-process tests see no measurement they did not ask for.
    double measure_after_idle = 0;
    // A new measurement every so many seconds while a host is connected; 0 disables.
    double measure_every = 0;
    // The instrument's clock; unset answers the host's clock until the host sets it.
    std::optional<ClockRecord> clock;
    // Every received request frame as a line of hex, when not empty.
    std::string log_path;
    // How many received frames received_frames() keeps; counts go on past it.
    std::size_t keep_frames = 100000;
    Faults faults;
};

class Simulator {
  public:
    explicit Simulator(const Config& config);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens the link and starts serving. Returns false with a reason in *error on failure.
    bool start(std::string* error = nullptr);
    // Stops serving, closes every descriptor and joins the thread. Idempotent.
    void stop();

    uint16_t port() const;
    // The slave side of the pseudo-terminal for the host to open (pty links).
    std::string pty_path() const;
    Generation generation() const;

    // What the host sent: every request frame whole (header first), in order of arrival.
    std::vector<std::vector<unsigned char>> received_frames() const;
    uint64_t received_count() const;
    uint64_t count(uint16_t command) const;
    std::map<uint16_t, uint64_t> counts() const;
    // Bounded waits: true once the condition holds, false after the time-out.
    bool wait_for_count(uint16_t command, uint64_t n, std::chrono::milliseconds timeout) const;
    bool wait_for_frames(uint64_t n, std::chrono::milliseconds timeout) const;
    bool wait_for_connections(uint64_t n, std::chrono::milliseconds timeout) const;
    // Hosts accepted so far (a pty counts each time its slave side is opened).
    uint64_t connections() const;
    uint64_t hangups() const;

    // The instrument's data, exactly as it would send it.
    uint32_t entry_count() const;
    Entry entry(uint32_t slot) const;
    std::vector<unsigned char> record_bytes(uint32_t slot) const;
    std::vector<unsigned char> param_block() const;
    std::vector<unsigned char> entry_page(int32_t first) const;
    std::optional<std::vector<unsigned char>> file(const std::string& name) const;
    ClockRecord clock() const;
    int32_t state() const;
    std::vector<int32_t> events() const;
    std::vector<unsigned char> flash() const;
    std::string serial() const;

    // Stores a new measurement in the next free slot and, when a host is connected, sends
    // it message 9302 (event 256, the slot). Returns the slot, or -1 when the log is full.
    int64_t store_measurement();
    // Sends any frame to the connected host (dropped when none is connected).
    void send_frame(std::vector<unsigned char> frame);

    Faults faults() const;
    // Replaces the fault switches; the per-command "first"/"from K" counts restart.
    void set_faults(const Faults& faults);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The 9302 frame that reports a stored measurement.
std::vector<unsigned char> live_data_frame(int32_t code, int32_t value, float a, float b);

} // namespace vuxo::sim

#endif
