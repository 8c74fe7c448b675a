// Connection strings: the text a caller hands to comm_connect, parsed into a
// target that names the kind of link and its settings.
#ifndef VUXO_COMM_CONN_STRING_H
#define VUXO_COMM_CONN_STRING_H

#include <cstdint>
#include <string>

namespace comm {

inline constexpr int kConnStringMax = 127; // characters, terminator not counted
inline constexpr int kInstrumentVendor = 0x1781;
inline constexpr int kUsbBaud = 115200;

enum class LinkKind { serial, usb, tcp, bluetooth };

struct SerialSettings {
    int baud = kUsbBaud;
    int data_bits = 8;
    int stop_bits = 1;
    int parity = 0; // 0 none, 1 odd, 2 even
    int flow = 0;   // 0 none, 1 RTS/CTS
};

struct ConnTarget {
    LinkKind kind = LinkKind::serial;
    std::string where; // serial path, USB device part, host, or Bluetooth address
    SerialSettings serial;
    int product_id = 0; // USB
    uint16_t port = 0;  // TCP
    int timeout_ms = 0; // TCP or Bluetooth connect
    int channel = 1;    // Bluetooth RFCOMM channel
};

// 0 and *out filled, or -COMM_EINVAL for text that is no connection string.
int parse_conn_string(const char* text, ConnTarget* out);

// Copies text into the caller's 128-byte buffer: 0, or -COMM_ENAMETOOLONG (out
// then holds the empty string) when it does not fit.
int store_conn_string(char* out, const std::string& text);

} // namespace comm

#endif
