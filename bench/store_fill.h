// A database filled with every record of a simulator's log, the way a sync
// stores them, without the link: the starting point of the benchmarks that read
// or re-sync a full store.
#ifndef VUXO_BENCH_STORE_FILL_H
#define VUXO_BENCH_STORE_FILL_H

#include <filesystem>

#include "simulator.h"

namespace bench {

struct StoreTimes {
    double open_s = 0;
    double put_s = 0;
    double close_s = 0;
    int stored = 0;
};

// False, with the reason on standard error, when the store refused a record.
bool fill_store(const vuxo::sim::Simulator& sim, const std::filesystem::path& db, StoreTimes* t);

} // namespace bench

#endif
