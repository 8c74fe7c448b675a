// The command line of vuxoint-test.
#ifndef VUXOTEST_OPTIONS_H
#define VUXOTEST_OPTIONS_H

#include <cstdint>
#include <cstdio>
#include <string>

namespace vuxotest {

enum class Link_kind { usb, bluetooth, net, serial, help, version, bad };

struct Options {
    Link_kind kind = Link_kind::usb;
    // Bluetooth address, "HOST:PORT" as given, or the serial port's path.
    std::string target;
    std::string host;  // net only
    uint16_t port = 0; // net only
};

// No argument: USB. "--help", "--version", "--net HOST:PORT", "--serial PATH"; any other first
// argument beginning with "--" is bad; anything else is a Bluetooth address.
// Arguments after the ones used are ignored.
Options parse_options(int argc, const char* const* argv);

void print_usage(std::FILE* out, const char* program);

} // namespace vuxotest

#endif
