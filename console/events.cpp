#include "events.h"

namespace vuxotest {

namespace {
constexpr int32_t kEventMeasStored = 133;
constexpr int32_t kEventMeasStoredV2 = 256;
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
    if (code == kEventMeasStored || code == kEventMeasStoredV2) {
        last_meas_index.store(value);
    }
}

} // namespace vuxotest
