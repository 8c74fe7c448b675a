// The setup layer against the scripted transport: which transport call each
// operation makes, with which fixed values, and what it does on its own.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake_comm.h"
#include "mxx_comm.h"

namespace {

using fake::state;

class Setup : public ::testing::Test {
  protected:
    void SetUp() override { fake::reset(); }
    void TearDown() override { MXX_shut(); }
};

std::vector<char> entries(const std::vector<std::string>& texts) {
    std::vector<char> buf(128 * texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        std::strncpy(buf.data() + 128 * i, texts[i].c_str(), 127);
    }
    return buf;
}

TEST_F(Setup, ListingRewritesOnlyEntriesOfProduct3140) {
    const std::vector<std::string> listed = {"USBS:/dev/ttyUSB0/c44",   "USBS:/dev/ttyUSB1/C44",
                                             "USBS:/dev/ttyUSB2/0c44",  "USBS:/dev/ttyUSB3/c45",
                                             "USBU:/dev/ttyUSB4/0xc44", "USBS-no-slash-c44",
                                             "USBS:/dev/ttyUSB5/ c44",  "USBS:/dev/ttyUSB6/c44junk",
                                             "USBS:/dev/ttyUSB7/",      "/c44"};
    state().usb_entries = listed;
    state().list_result = -7;
    std::vector<char> buf(128 * listed.size());
    int count = -1;
    EXPECT_EQ(MXX_list_usb_devices(buf.data(), static_cast<int>(listed.size()), &count), -7)
        << "the transport's result, after the rewrite";
    ASSERT_EQ(count, static_cast<int>(listed.size()));
    const std::vector<std::string> expected = {
        "USBF:/dev/ttyUSB0/c44",   "USBF:/dev/ttyUSB1/C44",
        "USBF:/dev/ttyUSB2/0c44",  "USBS:/dev/ttyUSB3/c45",
        "USBF:/dev/ttyUSB4/0xc44", "USBS-no-slash-c44",
        "USBF:/dev/ttyUSB5/ c44",  "USBF:/dev/ttyUSB6/c44junk",
        "USBS:/dev/ttyUSB7/",      "USBF"};
    for (size_t i = 0; i < listed.size(); ++i) {
        EXPECT_EQ(std::string(buf.data() + 128 * i), expected[i]) << listed[i];
    }
    EXPECT_EQ(state().last_args,
              (std::vector<int>{0, static_cast<int>(listed.size()), 6017, 6017, 3140, 3149, 0, 0}));
}

TEST_F(Setup, AnEmptyListingChangesNothing) {
    state().list_result = 0;
    std::vector<char> buf = entries({"USBS:/dev/ttyUSB0/c44"});
    int count = -1;
    EXPECT_EQ(MXX_list_usb_devices(buf.data(), 0, &count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(std::string(buf.data()), "USBS:/dev/ttyUSB0/c44");
}

TEST_F(Setup, UsbPrefixesChooseTheProductOrRefuseWithoutCallingTheTransport) {
    struct Case {
        const char* device;
        int product; // -1: refused
    } cases[] = {
        {"USBS:/dev/ttyUSB0", 3140},
        {"USBF:/dev/ttyUSB0/c44", 3140},
        {"USBU", 3141},
        {"usbs:/dev/ttyUSB0", -1},
        {"Usbf", -1},
        {"USB", -1},
        {"", -1},
        {"USBX:/dev/ttyUSB0", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        fake::reset();
        char out[128];
        const int result = MXX_make_usb_conn_string(out, c.device, 5);
        if (c.product < 0) {
            EXPECT_EQ(result, -1);
            EXPECT_TRUE(state().calls.empty());
        } else {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(state().calls, std::vector<std::string>{"comm_make_conn_string_usb"});
            EXPECT_EQ(state().last_args, (std::vector<int>{5, 6017, c.product}));
            EXPECT_EQ(std::string(out), std::string("usb:") + c.device) << "passed unchanged";
        }
    }
}

TEST_F(Setup, StringBuildersPassTheFixedLineValues) {
    char out[128];
    MXX_make_serial_conn_string(out, 4);
    EXPECT_EQ(state().last_args, (std::vector<int>{4, 115200, 8, 1, 0, 0}));
    MXX_make_serial_path_conn_string(out, "/dev/ttyUSB0");
    EXPECT_EQ(state().last_args, (std::vector<int>{115200, 8, 1, 0, 0}));
    MXX_make_bt_conn_string(out, "00:11:22:33:44:55", "meter");
    EXPECT_EQ(state().last_args, (std::vector<int>{0xFFE050, 1, 60000}));
    EXPECT_EQ(std::string(out), "bt:00:11:22:33:44:55/meter/4817");
    MXX_make_net_conn_string(out, "127.0.0.1", 4817);
    EXPECT_EQ(state().last_args, (std::vector<int>{4817, 1000}));
    MXX_comm_bt_discover(nullptr, nullptr);
    EXPECT_EQ(state().last_args, std::vector<int>{0xFFE050});
}

int g_seen_a = 0;
int g_seen_b = 0;
int remember(int a, int b) {
    g_seen_a = a;
    g_seen_b = b;
    return 42;
}

TEST_F(Setup, IdleWaitForwardsOnlyWhileACallbackIsStored) {
    EXPECT_EQ(MXX_idle_wait(1, 2), 0) << "before init";
    ASSERT_EQ(MXX_init(remember, 3, 4), 0);
    EXPECT_EQ(MXX_idle_wait(7, 65537), 42);
    EXPECT_EQ(g_seen_a, 7);
    EXPECT_EQ(g_seen_b, 1) << "the second value is cut to 16 bits";
    EXPECT_EQ(MXX_idle_wait(7, -1), 42);
    EXPECT_EQ(g_seen_b, 65535);
    EXPECT_EQ(MXX_shut(), 0);
    EXPECT_EQ(MXX_idle_wait(1, 2), 0) << "after shut";
    ASSERT_EQ(MXX_init(nullptr, 0, 0), 0);
    EXPECT_EQ(MXX_idle_wait(1, 2), 0) << "a null callback";
}

TEST_F(Setup, InitStoresNothingWhenTheTransportFails) {
    state().init_result = -5;
    EXPECT_EQ(MXX_init(remember, 1, 2), -1);
    EXPECT_EQ(state().calls, std::vector<std::string>{"comm_init"});
    EXPECT_EQ(MXX_idle_wait(1, 2), 0);

    fake::reset();
    state().usb_register_result = -9;
    EXPECT_EQ(MXX_init(remember, 1, 2), -9);
    EXPECT_EQ(state().last_args, (std::vector<int>{1, 2}));
    EXPECT_EQ(MXX_idle_wait(1, 2), 42) << "stored although the registration failed";
}

TEST_F(Setup, ShutAnswersZeroWhateverTheTransportSays) {
    // The scripted transport fails both shutdown calls.
    EXPECT_EQ(MXX_shut(), 0);
    EXPECT_EQ(state().calls, (std::vector<std::string>{"comm_usb_deregister", "comm_shut"}));
}

} // namespace
