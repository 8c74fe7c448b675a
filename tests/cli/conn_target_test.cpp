// The CONN parser every subcommand shares: each form a user types, and the
// mistakes it must refuse rather than hand to the library.
#include <gtest/gtest.h>

#include "conn_target.h"

namespace {

using vuxocli::ConnKind;

TEST(ConnTarget, Forms) {
    struct Case {
        const char* text;
        ConnKind kind;
        const char* where;
        uint16_t port;
    };
    const Case cases[] = {
        {"tcp://127.0.0.1:5000", ConnKind::tcp, "127.0.0.1", 5000},
        {"tcp://bridge.local:1", ConnKind::tcp, "bridge.local", 1},
        {"tcp://[::1]:65535", ConnKind::tcp, "::1", 65535},
        {"/dev/ttyUSB0", ConnKind::device, "/dev/ttyUSB0", 0},
        {"./pty", ConnKind::device, "./pty", 0},
        {"COM3", ConnKind::device, "COM3", 0},
        {"com4", ConnKind::device, "com4", 0},
        {"\\\\.\\COM12", ConnKind::device, "\\\\.\\COM12", 0},
        {"bt://00:11:22:aa:BB:cc", ConnKind::bluetooth, "00:11:22:aa:BB:cc", 0},
        {"usb", ConnKind::usb_first, "", 0},
        {"usb:FT1234AB", ConnKind::usb_serial, "FT1234AB", 0},
        {"NET:127.0.0.1:5000,1000", ConnKind::raw, "NET:127.0.0.1:5000,1000", 0},
        {"SER:/dev/ttyS0@115200,8N1", ConnKind::raw, "SER:/dev/ttyS0@115200,8N1", 0},
        {"USBS:/dev/ttyUSB0/c44", ConnKind::raw, "USBS:/dev/ttyUSB0/c44", 0},
    };
    for (const Case& c : cases) {
        std::string why;
        const auto target = vuxocli::parse_conn(c.text, &why);
        ASSERT_TRUE(target) << c.text << ": " << why;
        EXPECT_EQ(target->kind, c.kind) << c.text;
        EXPECT_EQ(target->where, c.where) << c.text;
        EXPECT_EQ(target->port, c.port) << c.text;
        EXPECT_EQ(target->text, c.text);
    }
}

TEST(ConnTarget, Refused) {
    const char* bad[] = {
        "",
        "tcp://127.0.0.1",       // no port
        "tcp://127.0.0.1:0",     // port out of range
        "tcp://127.0.0.1:65536", // port out of range
        "tcp://127.0.0.1:50x",   // trailing junk
        "tcp://:5000",           // no host
        "tcp://::1:5000",        // IPv6 without brackets
        "tcp://a,b:5000",        // would split the connection string
        "bt://00:11:22:33:44",   // too short
        "bt://00-11-22-33-44-55",
        "usb:",
        "usb:A/B", // would move the product id
        "USB",
        "ttyUSB0", // a path must say where it starts
        "COM",
        "COM3x",
        "net:127.0.0.1:5000,1000",
        // Raw strings the transport would refuse: caught here, before anything is sent.
        "NET:127.0.0.1:1,abc",
        "NET:127.0.0.1:5000",
        "SER:",
        "SER:/dev/ttyS0@115200,9X1",
        "BT:00:11:22:33:44:55",
        "USBS:/dev/ttyUSB0",
    };
    for (const char* text : bad) {
        std::string why;
        EXPECT_FALSE(vuxocli::parse_conn(text, &why)) << text;
        EXPECT_FALSE(why.empty()) << text;
    }
    std::string why;
    EXPECT_FALSE(vuxocli::parse_conn("/" + std::string(127, 'a'), &why)) << "128 characters";
}

} // namespace
