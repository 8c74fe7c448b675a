// The live-data callback records only stored-measurement events.
#include <gtest/gtest.h>

#include "events.h"

namespace {

struct Case {
    int32_t code;
    int32_t value;
    int32_t recorded;
};

TEST(Events, LiveDataRecordsStoredMeasurements) {
    const Case cases[] = {
        {133, 7, 7},  {256, 12345, 12345}, {256, 0, 0},   {9, 5, -1},
        {134, 5, -1}, {255, 5, -1},        {133, -1, -1},
    };
    for (const Case& c : cases) {
        vuxotest::last_meas_index.store(-1);
        vuxotest::event_live_data(4, nullptr, c.code, c.value, 1.0f, 2.0f, nullptr);
        EXPECT_EQ(vuxotest::last_meas_index.load(), c.recorded) << c.code << " " << c.value;
    }
}

TEST(Events, OtherCallbacksLeaveTheIndexAlone) {
    vuxotest::last_meas_index.store(-1);
    EXPECT_EQ(vuxotest::event_connected(1, nullptr, nullptr), 0);
    EXPECT_EQ(vuxotest::event_connection_error(1, nullptr, nullptr, 111), 0);
    vuxotest::event_disconnected(1, nullptr, nullptr, 0);
    EXPECT_EQ(vuxotest::last_meas_index.load(), -1);
}

} // namespace
