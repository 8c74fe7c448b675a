#include "store_fill.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "store.h"
#include "vuxodata.h"

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

bool fill_store(const vuxo::sim::Simulator& sim, const std::filesystem::path& db, StoreTimes* t) {
    std::string error;
    auto start = Clock::now();
    auto store = vuxocli::Store::open(db, vuxocli::Store::Mode::write, &error);
    t->open_s = since(start);
    int64_t id = 0;
    if (!store || !store->note_sync({sim.serial(), VUXOD_V2, "bench"}, &id, &error)) {
        std::fprintf(stderr, "database: %s\n", error.c_str());
        return false;
    }
    auto m = std::make_unique<vuxod_measurement>();
    for (uint32_t slot = 0; slot < sim.entry_count(); ++slot) {
        const vuxo::sim::Entry e = sim.entry(slot);
        if (e.key == 0 || e.key == 0xFFFFFFFFu) {
            continue;
        }
        const std::vector<unsigned char> raw = sim.record_bytes(slot);
        vuxod_decode(VUXOD_V2, raw.data(), raw.size(), m.get());
        const vuxod_record rec{
            static_cast<int32_t>(slot), e.key, e.flags, m->raw, m->raw_size, m.get(), nullptr, 0};
        start = Clock::now();
        const vuxocli::PutResult put = store->put(id, rec, &error);
        t->put_s += since(start);
        if (put != vuxocli::PutResult::stored) {
            std::fprintf(stderr, "database: %s\n", error.c_str());
            return false;
        }
        ++t->stored;
    }
    start = Clock::now();
    store.reset();
    t->close_s = since(start);
    return true;
}

} // namespace bench
