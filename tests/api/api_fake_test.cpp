// The public API over the scripted transport, where timing must be forced.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake_comm.h"
#include "le.h"
#include "vuxoint.h"

namespace {

using fake::Bytes;

struct Seen {
    std::vector<std::string> events;
    int32_t code = 0;
    int32_t value = 0;
    float first = 0;
    float second = 0;
    int type_in_connected = -2;
};
Seen* g_seen = nullptr;

int on_connected(int conn_id, MXX_link*, void* user) {
    g_seen->events.push_back("connected");
    g_seen->type_in_connected = vuxo_get_type(conn_id);
    EXPECT_EQ(user, g_seen);
    return 0;
}
int on_error(int, MXX_link*, void*, int value) {
    g_seen->events.push_back("error:" + std::to_string(value));
    return 0;
}
void on_disconnected(int conn_id, MXX_link*, void*, int value) {
    g_seen->events.push_back("disconnected:" + std::to_string(value));
    // The transport unlists the connection before this last event.
    g_seen->type_in_connected = vuxo_get_type(conn_id);
}
void on_live(int, MXX_link*, int32_t code, int32_t value, float a, float b, void*) {
    g_seen->events.push_back("live");
    g_seen->code = code;
    g_seen->value = value;
    g_seen->first = a;
    g_seen->second = b;
}

class ApiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::reset();
        g_seen = &seen;
    }
    void TearDown() override {
        for (const fake::Conn& c : fake::state().conns) {
            if (c.live) {
                fake::disconnect(c.id);
            }
        }
        g_seen = nullptr;
    }
    int connect(int timeout_ms) {
        return vuxo_connect("fake", &id, timeout_ms, on_connected, on_error, on_disconnected,
                            on_live, &seen);
    }
    // The instrument answers every request with `answer` for its command.
    void answer_with(uint8_t status, const Bytes& payload) {
        fake::state().on_write = [status, payload](int conn, const Bytes& request) {
            const uint16_t command = vuxo::load_le<uint16_t>(request.data() + 4);
            fake::data(conn, fake::frame(static_cast<uint16_t>(command + 1000), status, payload));
        };
    }
    void identify(const char* serial) {
        fake::data(id, fake::frame(9007, 0, Bytes(serial, serial + std::strlen(serial))));
    }
    Seen seen;
    int id = 0;
};

TEST_F(ApiTest, EmptyConnectionStringFailsWithoutCallbacks) {
    EXPECT_EQ(vuxo_connect("", &id, 1000, on_connected, on_error, on_disconnected, on_live, &seen),
              255);
    EXPECT_EQ(id, -1);
    EXPECT_TRUE(seen.events.empty());
    EXPECT_TRUE(fake::state().conns.empty());
}

TEST_F(ApiTest, RefusedConnectionFails) {
    fake::state().connect_result = -111;
    EXPECT_EQ(connect(1000), 255);
    EXPECT_EQ(id, -1);
}

TEST_F(ApiTest, TimeoutZeroReturnsBeforeDetection) {
    ASSERT_EQ(connect(0), 0);
    EXPECT_GT(id, 0);
    EXPECT_EQ(vuxo_get_type(id), -1);
    for (const std::string& call : fake::state().calls) {
        EXPECT_NE(call, "comm_wait_connected");
    }
    identify("A0001234");
    EXPECT_EQ(seen.events, std::vector<std::string>{"connected"});
    EXPECT_EQ(seen.type_in_connected, 1);
    EXPECT_EQ(vuxo_get_type(id), 1);
}

TEST_F(ApiTest, WaitThatRunsOutFailsButDetectionMayStillCome) {
    EXPECT_EQ(connect(250), 255);
    EXPECT_EQ(id, -1);
    ASSERT_EQ(fake::state().conns.size(), 1u);
    id = fake::state().conns.front().id;
    EXPECT_EQ(fake::state().last_args, (std::vector<int>{id, 250}));
    identify("51234567");
    EXPECT_EQ(seen.events, std::vector<std::string>{"connected"});
    EXPECT_EQ(vuxo_get_type(id), 0);
}

TEST_F(ApiTest, GenerationFollowsTheSerialNumber) {
    struct Case {
        const char* serial;
        int generation;
    };
    for (const Case c : {Case{"5XXXXXXX", 0}, Case{"AXXXXXXX", 1}}) {
        ASSERT_EQ(connect(0), 0);
        fake::data(id, fake::frame(9100, 0, {'Z'})); // not an identification
        EXPECT_EQ(vuxo_get_type(id), -1) << c.serial;
        identify(c.serial);
        EXPECT_EQ(vuxo_get_type(id), c.generation) << c.serial;
        fake::disconnect(id);
    }
}

TEST_F(ApiTest, LiveDataDecodesCodeValueAndFloats) {
    ASSERT_EQ(connect(0), 0);
    Bytes payload(16);
    vuxo::store_le<int32_t>(payload.data(), 256);
    vuxo::store_le<int32_t>(payload.data() + 4, -7);
    vuxo::store_le<float>(payload.data() + 8, 1.5f);
    vuxo::store_le<float>(payload.data() + 12, -1234.25f);
    fake::data(id, fake::frame(9302, 0, payload));
    EXPECT_EQ(seen.events, std::vector<std::string>{"live"});
    EXPECT_EQ(seen.code, 256);
    EXPECT_EQ(seen.value, -7);
    EXPECT_EQ(seen.first, 1.5f);
    EXPECT_EQ(seen.second, -1234.25f);
    // A short live-data message reads as zeros, never past the frame.
    fake::data(id, fake::frame(9302, 0, {5, 0}));
    EXPECT_EQ(seen.code, 5);
    EXPECT_EQ(seen.value, 0);
}

TEST_F(ApiTest, FoldsFailuresOnlyWhereSpecifiedTo) {
    ASSERT_EQ(connect(0), 0);
    answer_with(4, {'x'});
    char text[9];
    int32_t record[6] = {};
    EXPECT_EQ(vuxo_get_fw_version(id, text), 255);
    EXPECT_EQ(vuxo_get_time(id, record), 255);
    EXPECT_EQ(vuxo_set_time(id, record), 255);
    EXPECT_EQ(vuxo_get_serial(id, text), 1);
    EXPECT_EQ(vuxov2_get_state(id, text, 1), 1);
    fake::state().on_write = nullptr;
    EXPECT_EQ(vuxo_get_fw_version(id, text), 255);
    EXPECT_EQ(vuxo_get_serial(id, text), 255);
    fake::state().write_results = {-32};
    EXPECT_EQ(vuxo_get_serial(id, text), -32);
    fake::state().write_results = {-32};
    EXPECT_EQ(vuxo_get_fw_version(id, text), 255);
}

TEST_F(ApiTest, GetTimeLeavesTheRecordOnFailureAndZerosAShortAnswer) {
    ASSERT_EQ(connect(0), 0);
    int32_t record[6] = {11, 22, 33, 44, 55, 66};
    answer_with(2, {});
    EXPECT_EQ(vuxo_get_time(id, record), 255);
    EXPECT_EQ(record[0], 11);
    EXPECT_EQ(record[5], 66);
    Bytes part(8);
    vuxo::store_le<int32_t>(part.data(), 6);
    vuxo::store_le<int32_t>(part.data() + 4, 12);
    answer_with(0, part);
    EXPECT_EQ(vuxo_get_time(id, record), 0);
    EXPECT_EQ(record[0], 6);
    EXPECT_EQ(record[1], 12);
    EXPECT_EQ(record[2], 0);
    EXPECT_EQ(record[5], 0);
}

TEST_F(ApiTest, SetTimeSendsTheRecordUnchanged) {
    ASSERT_EQ(connect(0), 0);
    answer_with(0, {});
    const int32_t record[6] = {6, 12, 2026, 9, 5, 7};
    EXPECT_EQ(vuxo_set_time(id, record), 0);
    const Bytes& sent = fake::state().writes.back().bytes;
    ASSERT_EQ(sent.size(), 24u + 13);
    EXPECT_EQ(vuxo::load_le<uint16_t>(sent.data() + 4), 8003);
    EXPECT_EQ(vuxo::load_le<int32_t>(sent.data() + 12 + 8), 2026);
}

TEST_F(ApiTest, DisconnectedCallbackComesLastAndTheIdNamesNothingAfter) {
    ASSERT_EQ(connect(0), 0);
    identify("A1");
    fake::conn_error(id, 104);
    fake::disconnect(id, 3);
    EXPECT_EQ(seen.events, (std::vector<std::string>{"connected", "error:104", "disconnected:3"}));
    EXPECT_EQ(seen.type_in_connected, -1); // the transport has already unlisted it
    EXPECT_EQ(vuxo_get_type(id), -1);
    EXPECT_EQ(vuxo_get_type(12345), -1);
}

TEST_F(ApiTest, UsbConnectionStringIsAlwaysForProduct3141) {
    char out[128];
    vuxo_make_usb_conn_string(out, "USBF:x/c44", 0);
    EXPECT_EQ(fake::state().last_args, (std::vector<int>{0, 6017, 3141}));
}

} // namespace
