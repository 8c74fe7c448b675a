// What the sync benchmarks share: in-process simulators, the tool's sync run in
// process, and the record layer alone as the yardstick.
#ifndef VUXO_BENCH_SYNC_BENCH_H
#define VUXO_BENCH_SYNC_BENCH_H

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "simulator.h"

namespace sync_bench {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRecords = 300;
constexpr int kPacedRecords = 30;
constexpr uint32_t kResyncEntries = 10000;
constexpr uint32_t kBaud = 115200;
constexpr int kRounds = 5;

// The work's wall time; *ok becomes false when the work failed.
double seconds_of(const std::function<bool()>& work, bool* ok);
// The entry count whose log holds exactly `records` records worth fetching.
uint32_t entries_for(int records);
// A V2 simulator of the big set on the instrument's CPU; null when it did not start.
std::unique_ptr<vuxo::sim::Simulator> start_sim(uint32_t entries, uint32_t baud,
                                                uint32_t latency_ms, bool keep_frames);
std::string conn_of(const vuxo::sim::Simulator& sim);
// The whole tool run, as `vuxoint sync CONN --db DB` does it.
bool tool_sync(const vuxo::sim::Simulator& sim, const std::string& db);
// The same session with the record layer alone: connect, identify, read the
// log (or only its entry list, timed into *pages_s) and throw the records away.
bool library_session(const vuxo::sim::Simulator& sim, bool records, double* pages_s);

// The PostgreSQL rows (pg_bench.cpp).
void postgres(const fs::path& dir);

} // namespace sync_bench

#endif
