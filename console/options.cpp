#include "options.h"

#include <charconv>
#include <string_view>

namespace vuxotest {

namespace {

Options bad() {
    return Options{Link_kind::bad, {}, {}, 0};
}

// "HOST:PORT", split at the last colon; the port must be 1 to 65535.
Options net_options(std::string_view value) {
    const std::size_t colon = value.rfind(':');
    if (colon == std::string_view::npos || colon == 0) {
        return bad();
    }
    const std::string_view digits = value.substr(colon + 1);
    unsigned port = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (ec != std::errc() || end != digits.data() + digits.size() || port == 0 || port > 65535) {
        return bad();
    }
    return Options{Link_kind::net, std::string(value), std::string(value.substr(0, colon)),
                   static_cast<uint16_t>(port)};
}

} // namespace

Options parse_options(int argc, const char* const* argv) {
    if (argc < 2) {
        return Options{};
    }
    const std::string_view first = argv[1];
    if (!first.starts_with("--")) {
        return Options{Link_kind::bluetooth, std::string(first), {}, 0};
    }
    if (first == "--help") {
        return Options{Link_kind::help, {}, {}, 0};
    }
    if (first == "--version") {
        return Options{Link_kind::version, {}, {}, 0};
    }
    const bool has_value = argc >= 3 && argv[2][0] != '\0';
    if (first == "--net" && has_value) {
        return net_options(argv[2]);
    }
    if (first == "--serial" && has_value) {
        return Options{Link_kind::serial, argv[2], {}, 0};
    }
    return bad();
}

void print_usage(std::FILE* out, const char* program) {
    std::fprintf(out,
                 "Usage: %s [BT_ADDRESS | --net HOST:PORT | --serial PATH | --help | --version]\n"
                 "\n"
                 "Connects to a vuxo meter, prints what it is, downloads and prints every\n"
                 "stored measurement, then waits for the next measurement and prints it.\n"
                 "\n"
                 "  (no argument)     the first instrument found on USB\n"
                 "  BT_ADDRESS        an instrument over Bluetooth, XX:XX:XX:XX:XX:XX\n"
                 "  --net HOST:PORT   an instrument behind a TCP bridge, or the simulator\n"
                 "  --serial PATH     an instrument on a serial port, e.g. /dev/ttyUSB0\n"
                 "  --help            this text\n"
                 "  --version         the program's version\n"
                 "\n"
                 "Exit status: 255 when no USB instrument is found, 2 for a bad command\n"
                 "line, 0 otherwise. SIGINT or SIGTERM closes the connection and ends the\n"
                 "program by that signal.\n",
                 program);
}

} // namespace vuxotest
