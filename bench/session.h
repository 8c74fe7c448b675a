// Library-side helpers shared by the benchmarks that talk to simulators: open
// an identified connection over loopback TCP, and download one V2 record the
// way vuxoint-test does (vuxov2_read_file, 450 bytes at a time).
#ifndef VUXO_BENCH_SESSION_H
#define VUXO_BENCH_SESSION_H

#include <cstdint>
#include <memory>
#include <vector>

#include "simulator.h"

namespace bench {

inline constexpr int kChunk = 450;
inline constexpr std::size_t kV2Record = 4063;
// A file-chunk request on the wire: header, 40-byte payload, check.
inline constexpr uint64_t kChunkRequestBytes = 12 + 40 + 1;
// A chunk answer around its data: header, 4-byte count, check.
inline constexpr uint64_t kChunkAnswerOverhead = 12 + 4 + 1;

// A started V2 simulator (the "big" data set) whose log holds at least
// `records` records; null when it did not start. baud paces its writes.
std::unique_ptr<vuxo::sim::Simulator> start_v2_sim(int records, uint32_t baud = 0);
// The first n slots of its log that hold a record (about one slot in twenty is empty).
std::vector<uint32_t> record_slots(const vuxo::sim::Simulator& sim, int n);

// vuxo_connect to 127.0.0.1:port, waiting for detection; -1 on failure.
int open_net(uint16_t port);

struct Traffic {
    int round_trips = 0;
    uint64_t wire_bytes = 0; // request and answer frames, both directions
};

// Downloads "meas/meas%.4d.dat" of slot into *out (resized to what arrived).
// False when a chunk fails or comes back empty before the record is whole.
bool download_record(int conn_id, uint32_t slot, std::vector<unsigned char>* out, Traffic* traffic);

} // namespace bench

#endif
