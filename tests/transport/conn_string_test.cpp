// Connection strings: what each builder writes, what it refuses, and that
// comm_connect accepts exactly what the builders make.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "comm.h"
#include "started.h"

namespace {

constexpr int kVendor = 0x1781;

// On-board serial ports are counted from 0 and named as the OS names them.
#ifdef _WIN32
constexpr const char* kFourthOnBoardPort = "SER:COM4@115200,8N1";
#else
constexpr const char* kFourthOnBoardPort = "SER:/dev/ttyS3@115200,8N1";
#endif

struct Built {
    int result;
    std::string text;
};

template <typename F> Built build(F&& make) {
    char out[128];
    std::memset(out, 'x', sizeof out);
    const int result = make(out);
    return {result, std::string(out, strnlen(out, sizeof out))};
}

TEST(ConnString, BuildersWriteTheDocumentedFormats) {
    struct Case {
        const char* what;
        Built built;
        const char* expected;
    } cases[] = {
        {"serial path", build([](char* o) {
             return comm_make_conn_string_serial_path(o, "/dev/ttyUSB0", 115200, 8, 1, 0, 0);
         }),
         "SER:/dev/ttyUSB0@115200,8N1"},
        {"serial path, even parity, two stop bits, RTS/CTS", build([](char* o) {
             return comm_make_conn_string_serial_path(o, "/dev/ttyS1", 9600, 7, 2, 2, 1);
         }),
         "SER:/dev/ttyS1@9600,7E2,rtscts"},
        {"serial number",
         build([](char* o) { return comm_make_conn_string_serial(o, 3, 115200, 8, 1, 0, 0); }),
         kFourthOnBoardPort},
        {"network",
         build([](char* o) { return comm_make_conn_string_net(o, "192.0.2.7", 4817, 1000); }),
         "NET:192.0.2.7:4817,1000"},
        {"network, IPv6",
         build([](char* o) { return comm_make_conn_string_net(o, "::1", 4817, 1000); }),
         "NET:[::1]:4817,1000"},
        {"bluetooth", build([](char* o) {
             return comm_make_conn_string_bt(o, "00:11:22:AA:BB:CC", "", 0xFFE050, 1, "4817",
                                             60000);
         }),
         "BT:00:11:22:AA:BB:CC@1,60000,4817"},
        {"bluetooth with a name", build([](char* o) {
             return comm_make_conn_string_bt(o, "00:11:22:AA:BB:CC", "Meter 7", 0xFFE050, 1, "4817",
                                             60000);
         }),
         "BT:00:11:22:AA:BB:CC@1,60000,4817#Meter 7"},
        {"usb from a bare prefix",
         build([](char* o) { return comm_make_conn_string_usb(o, "USBS", 0, kVendor, 3140); }),
         "USBS:/c44"},
        {"usb from a path", build([](char* o) {
             return comm_make_conn_string_usb(o, "USBU:/dev/ttyACM0", 0, kVendor, 3141);
         }),
         "USBU:/dev/ttyACM0/c45"},
        {"usb from a listing entry", build([](char* o) {
             return comm_make_conn_string_usb(o, "USBF:/dev/ttyUSB0/c44", 0, kVendor, 3140);
         }),
         "USBF:/dev/ttyUSB0/c44"},
        {"usb from a serial number",
         build([](char* o) { return comm_make_conn_string_usb(o, "USBS:A1B2", 0, kVendor, 3140); }),
         "USBS:A1B2/c44"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.built.result, 0);
        EXPECT_EQ(c.built.text, c.expected);
    }
}

TEST(ConnString, BuildersRefuseWhatTheyCannotCarry) {
    const std::string long_path = "/dev/" + std::string(130, 'p');
    const std::string almost = "/dev/" + std::string(100, 'p'); // fits alone, not with settings
    struct Case {
        const char* what;
        Built built;
        int expected;
    } cases[] = {
        {"path longer than a string", build([&](char* o) {
             return comm_make_conn_string_serial_path(o, long_path.c_str(), 115200, 8, 1, 0, 0);
         }),
         -COMM_ENAMETOOLONG},
        {"path that fits but not with its settings", build([&](char* o) {
             return comm_make_conn_string_serial_path(o, (almost + std::string(20, 'q')).c_str(),
                                                      115200, 8, 1, 0, 0);
         }),
         -COMM_ENAMETOOLONG},
        {"empty path", build([](char* o) {
             return comm_make_conn_string_serial_path(o, "", 115200, 8, 1, 0, 0);
         }),
         -COMM_EINVAL},
        {"nine data bits", build([](char* o) {
             return comm_make_conn_string_serial_path(o, "/dev/ttyS0", 115200, 9, 1, 0, 0);
         }),
         -COMM_EINVAL},
        {"unknown parity", build([](char* o) {
             return comm_make_conn_string_serial_path(o, "/dev/ttyS0", 115200, 8, 1, 5, 0);
         }),
         -COMM_EINVAL},
        {"port 0", build([](char* o) { return comm_make_conn_string_net(o, "h", 0, 1000); }),
         -COMM_EINVAL},
        {"empty host", build([](char* o) { return comm_make_conn_string_net(o, "", 1, 1000); }),
         -COMM_EINVAL},
        {"bluetooth address malformed", build([](char* o) {
             return comm_make_conn_string_bt(o, "00:11:22:AA:BB", "", 0xFFE050, 1, "4817", 1);
         }),
         -COMM_EINVAL},
        {"usb without a prefix", build([](char* o) {
             return comm_make_conn_string_usb(o, "/dev/ttyUSB0", 0, kVendor, 3140);
         }),
         -COMM_EINVAL},
        {"usb, lower-case prefix", build([](char* o) {
             return comm_make_conn_string_usb(o, "usbs:/dev/ttyUSB0", 0, kVendor, 3140);
         }),
         -COMM_EINVAL},
        {"usb, another vendor",
         build([](char* o) { return comm_make_conn_string_usb(o, "USBS", 0, 0x0403, 3140); }),
         -COMM_EINVAL},
        {"usb device text too long", build([&](char* o) {
             return comm_make_conn_string_usb(o, ("USBS:" + std::string(122, 'd')).c_str(), 0,
                                              kVendor, 3140);
         }),
         -COMM_ENAMETOOLONG},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.built.result, c.expected);
        EXPECT_EQ(c.built.text, "") << "a refused string leaves an empty buffer";
    }
}

TEST(ConnString, LongestStringStillFits) {
    // "SER:" (4) + path + "@115200,8N1" (11) = 127 characters.
    const std::string path = "/dev/" + std::string(127 - 4 - 11 - 5, 'p');
    const Built b = build([&](char* o) {
        return comm_make_conn_string_serial_path(o, path.c_str(), 115200, 8, 1, 0, 0);
    });
    EXPECT_EQ(b.result, 0);
    EXPECT_EQ(b.text.size(), 127u);
}

int ignore_events(int, int, unsigned char*, int, void*) {
    return 0;
}

TEST(ConnString, ConnectRefusesWhatIsNoConnectionString) {
    ttest::Started started;
    const char* refused[] = {
        "",
        "/dev/ttyUSB0",
        "SER:/dev/ttyS0",               // no settings
        "SER:/dev/ttyS0@115200,8X1",    // unknown parity
        "SER:@115200,8N1",              // no path
        "NET:127.0.0.1,1000",           // no port
        "NET:127.0.0.1:70000,1000",     // port out of range
        "USBS/dev/ttyUSB0/c44",         // no colon after the prefix
        "USBS:/dev/ttyUSB0",            // no product id
        "usbs:/dev/ttyUSB0/c44",        // prefixes are upper case
        "BT:00:11:22:33:44@1,100,4817", // short address
    };
    for (const char* text : refused) {
        SCOPED_TRACE(text);
        int id = -1;
        EXPECT_EQ(comm_connect(&id, text, ignore_events, 4096, 200, nullptr), -COMM_EINVAL);
    }
    const std::string too_long = "SER:/dev/" + std::string(120, 'p') + "@115200,8N1";
    int id = -1;
    EXPECT_EQ(comm_connect(&id, too_long.c_str(), ignore_events, 4096, 200, nullptr), -COMM_EINVAL);
}

// Without an adapter (or without Bluetooth in the build) discovery is refused, and
// cancelling or waiting for a discovery that never ran answers at once. A BT:
// string is refused by a build without Bluetooth; a build with it accepts the
// connection and fails it by events (bluetooth_test.cpp).
TEST(ConnString, BluetoothIsRefusedCleanlyWhereTheSystemHasNone) {
    if (comm_bt_is_available() == 0) {
        GTEST_SKIP() << "this machine has Bluetooth";
    }
    ttest::Started started;
    EXPECT_LT(comm_bt_discover([](const char*, const char*, void*) {}, 0xFFE050, nullptr), 0);
    EXPECT_LE(comm_bt_discover_cancel(), 0);
    EXPECT_LE(comm_bt_discover_wait(10), 0);
    char out[128];
    ASSERT_EQ(comm_make_conn_string_bt(out, "00:11:22:33:44:55", "", 0xFFE050, 1, "4817", 60000),
              0);
    int id = -1;
    EXPECT_LE(comm_connect(&id, out, ignore_events, 4096, 200, nullptr), 0);
}

} // namespace
