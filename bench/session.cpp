#include "session.h"

#include <cstdio>
#include <string>

#include "vuxoint.h"

namespace bench {

std::unique_ptr<vuxo::sim::Simulator> start_v2_sim(int records, uint32_t baud) {
    vuxo::sim::Config cfg;
    cfg.data.gen = vuxo::sim::Generation::v2;
    cfg.data.set = vuxo::sim::DataSet::big;
    // Room for the empty slots the data set leaves between records.
    cfg.data.entries = records + records / 4 + 16;
    cfg.faults.baud = baud;
    cfg.keep_frames = 0; // a benchmark has no use for the simulator's frame history
    auto sim = std::make_unique<vuxo::sim::Simulator>(cfg);
    std::string error;
    if (!sim->start(&error)) {
        std::fprintf(stderr, "simulator: %s\n", error.c_str());
        return nullptr;
    }
    return sim;
}

std::vector<uint32_t> record_slots(const vuxo::sim::Simulator& sim, int n) {
    std::vector<uint32_t> slots;
    for (uint32_t slot = 0; slot < sim.entry_count() && static_cast<int>(slots.size()) < n;
         ++slot) {
        if (sim.entry(slot).key != 0) {
            slots.push_back(slot);
        }
    }
    return slots;
}

int open_net(uint16_t port) {
    char conn[VUXO_CONN_STRING_SIZE];
    if (vuxo_make_net_conn_string(conn, "127.0.0.1", port) != 0) {
        return -1;
    }
    int id = -1;
    if (vuxo_connect(conn, &id, 5000, nullptr, nullptr, nullptr, nullptr, nullptr) != 0) {
        return -1;
    }
    return id;
}

bool download_record(int conn_id, uint32_t slot, std::vector<unsigned char>* out,
                     Traffic* traffic) {
    char name[40];
    std::snprintf(name, sizeof name, "meas/meas%.4u.dat", slot);
    out->assign(kV2Record + kChunk, 0);
    std::size_t got = 0;
    while (got < kV2Record) {
        int count = 0;
        const int rc = vuxov2_read_file(conn_id, name, out->data() + got, static_cast<int32_t>(got),
                                        kChunk, &count, 1);
        ++traffic->round_trips;
        traffic->wire_bytes += kChunkRequestBytes + kChunkAnswerOverhead +
                               static_cast<uint64_t>(count > 0 ? count : 0);
        if (rc != 0 || count <= 0) {
            std::fprintf(stderr, "%s at %zu: result %d, count %d\n", name, got, rc, count);
            out->resize(got);
            return false;
        }
        got += static_cast<std::size_t>(count);
    }
    out->resize(got);
    return true;
}

} // namespace bench
