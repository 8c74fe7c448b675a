// CONN, the instrument address every subcommand takes, in the forms a user types:
//
//   tcp://HOST:PORT          an instrument behind a TCP bridge, or vuxoint-sim
//                            (an IPv6 HOST in brackets: tcp://[::1]:5000)
//   /dev/ttyUSB0             a serial port or USB-serial adapter by its path
//                            (any text that begins with "/", "./" or "../")
//   bt://XX:XX:XX:XX:XX:XX   a paired instrument over Bluetooth
//   usb                      the first instrument found on USB
//   usb:SERIAL               the USB instrument with that USB serial number
//   SER:... NET:... BT:... USBF:... USBS:... USBU:...
//                            a connection string, handed to the library unchanged
//
// Parsing is text work (a raw connection string is checked by the transport's own
// parser, which opens nothing); turning a target into connection strings may list
// the USB instruments. vuxod_conn_strings is this for every front.
#ifndef VUXOD_CONN_TARGET_H
#define VUXOD_CONN_TARGET_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vuxocli {

enum class ConnKind { tcp, device, bluetooth, usb_first, usb_serial, raw };

struct ConnTarget {
    ConnKind kind = ConnKind::raw;
    std::string text;  // as the user typed it, for messages
    std::string where; // host, device path, Bluetooth address, USB serial or raw string
    uint16_t port = 0; // tcp only
};

// The target, or nullopt with the reason in *why.
std::optional<ConnTarget> parse_conn(std::string_view text, std::string* why);

// The connection strings to try, in order. Empty with the result in *code
// (VUXOD_E_NOT_FOUND, or libvuxoint's for a string it would not build) and the
// whole message in *error ("usb: list USB instruments: none found").
std::vector<std::string> conn_strings(const ConnTarget& target, int* code, std::string* error);

// The forms above as lines for --help.
const char* conn_forms_help();

} // namespace vuxocli

#endif
