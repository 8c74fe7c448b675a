// Command line: USB, Bluetooth, network, serial, help and refusals.
#include <gtest/gtest.h>

#include <vector>

#include "options.h"

namespace {

using vuxotest::Link_kind;

struct Case {
    std::vector<const char*> args;
    Link_kind kind;
    const char* target;
    const char* host;
    uint16_t port;
};

TEST(Options, Table) {
    const Case cases[] = {
        {{}, Link_kind::usb, "", "", 0},
        {{"00:11:22:33:44:55"}, Link_kind::bluetooth, "00:11:22:33:44:55", "", 0},
        {{"00:11:22:33:44:55", "ignored"}, Link_kind::bluetooth, "00:11:22:33:44:55", "", 0},
        {{"-x"}, Link_kind::bluetooth, "-x", "", 0},
        {{"--help"}, Link_kind::help, "", "", 0},
        {{"--version"}, Link_kind::version, "", "", 0},
        {{"--net", "127.0.0.1:4000"}, Link_kind::net, "127.0.0.1:4000", "127.0.0.1", 4000},
        {{"--net", "::1:65535"}, Link_kind::net, "::1:65535", "::1", 65535},
        {{"--net", "host:0"}, Link_kind::bad, "", "", 0},
        {{"--net", "host:65536"}, Link_kind::bad, "", "", 0},
        {{"--net", "host:12x"}, Link_kind::bad, "", "", 0},
        {{"--net", "host"}, Link_kind::bad, "", "", 0},
        {{"--net", ":5000"}, Link_kind::bad, "", "", 0},
        {{"--net"}, Link_kind::bad, "", "", 0},
        {{"--serial", "/dev/ttyUSB0"}, Link_kind::serial, "/dev/ttyUSB0", "", 0},
        {{"--serial", ""}, Link_kind::bad, "", "", 0},
        {{"--serial"}, Link_kind::bad, "", "", 0},
        {{"--bogus"}, Link_kind::bad, "", "", 0},
        {{"--"}, Link_kind::bad, "", "", 0},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv = {"vuxoint-test"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const vuxotest::Options o =
            vuxotest::parse_options(static_cast<int>(argv.size()), argv.data());
        const std::string shown = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(o.kind, c.kind) << shown;
        EXPECT_EQ(o.target, c.target) << shown;
        EXPECT_EQ(o.host, c.host) << shown;
        EXPECT_EQ(o.port, c.port) << shown;
    }
}

} // namespace
