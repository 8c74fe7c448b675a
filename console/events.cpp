#include "events.h"

#include <chrono>
#include <thread>

namespace vuxotest {

namespace {
// Both codes report a newly stored measurement; instruments differ in which they send.
constexpr int32_t kEventStored = 133;
constexpr int32_t kEventStoredToo = 256;
constexpr auto kPollInterval = std::chrono::milliseconds(1000);
} // namespace

std::atomic<int32_t> last_meas_index{-1};

int event_connected(int, MXX_link*, void*) {
    return 0;
}

int event_connection_error(int, MXX_link*, void*, int) {
    return 0;
}

void event_disconnected(int, MXX_link*, void*, int) {}

void event_live_data(int, MXX_link*, int32_t code, int32_t value, float, float, void*) {
    if (code == kEventStored || code == kEventStoredToo) {
        last_meas_index.store(value);
    }
}

int32_t wait_for_new_record(std::FILE* out) {
    std::fputs("\n\nWaiting for new record...\n", out);
    last_meas_index.store(-1);
    // Flushed only after the reset, so whoever sees the line knows older events are gone.
    std::fflush(out);
    int32_t index = -1;
    while (index == -1) {
        std::this_thread::sleep_for(kPollInterval);
        index = last_meas_index.load();
    }
    return index;
}

} // namespace vuxotest
