// Connection strings, one readable format per kind of link:
//   SER:<path>@<baud>,<data bits><parity N|O|E><stop bits>[,rtscts]
//   USBF:<device>/<product id hex>   (also USBS, USBU; device: tty path,
//                                     USB serial number, or empty = first found)
//   NET:<host>:<port>,<connect time-out ms>   (IPv6 host in brackets)
//   BT:<address>@<channel>,<connect time-out ms>,<PIN>[#<name>]
#include "conn_string.h"

#include <charconv>
#include <cstring>
#include <string_view>

#include "comm.h"
#include "transport.h"
#include "usb_ports.h"

namespace comm {
namespace {

constexpr std::string_view kSerialPrefix = "SER:";
constexpr std::string_view kNetPrefix = "NET:";
constexpr std::string_view kBtPrefix = "BT:";
constexpr std::string_view kUsbPrefixes[] = {"USBF", "USBS", "USBU"};
constexpr int kMaxPort = 0xFFFF;

bool to_int(std::string_view text, int* value, int base = 10) {
    if (text.empty()) {
        return false;
    }
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, *value, base);
    return ec == std::errc() && ptr == end;
}

bool is_hex_digits(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (std::strchr("0123456789abcdefABCDEF", c) == nullptr) {
            return false;
        }
    }
    return true;
}

char parity_letter(int parity) {
    return "NOE"[parity];
}

bool valid_serial(const SerialSettings& s) {
    return s.baud > 0 && s.data_bits >= 5 && s.data_bits <= 8 &&
           (s.stop_bits == 1 || s.stop_bits == 2) && s.parity >= 0 && s.parity <= 2 &&
           (s.flow == 0 || s.flow == 1);
}

// "115200,8N1" or "115200,8N1,rtscts".
bool parse_serial_settings(std::string_view text, SerialSettings* s) {
    const auto comma = text.find(',');
    if (comma == std::string_view::npos || !to_int(text.substr(0, comma), &s->baud)) {
        return false;
    }
    std::string_view rest = text.substr(comma + 1);
    std::string_view format = rest.substr(0, rest.find(','));
    if (format.size() != 3) {
        return false;
    }
    s->data_bits = format[0] - '0';
    const char* parity = std::strchr("NOE", format[1]);
    s->parity = parity == nullptr ? -1 : static_cast<int>(parity - "NOE");
    s->stop_bits = format[2] - '0';
    s->flow = 0;
    if (format.size() < rest.size()) {
        if (rest.substr(format.size() + 1) != "rtscts") {
            return false;
        }
        s->flow = 1;
    }
    return valid_serial(*s);
}

bool parse_serial(std::string_view body, ConnTarget* out) {
    const auto at = body.rfind('@');
    if (at == std::string_view::npos || at == 0) {
        return false;
    }
    out->kind = LinkKind::serial;
    out->where = std::string(body.substr(0, at));
    return parse_serial_settings(body.substr(at + 1), &out->serial);
}

bool parse_usb(std::string_view text, ConnTarget* out) {
    if (text.size() < 5 || text[4] != ':') {
        return false;
    }
    const std::string_view body = text.substr(5);
    const auto slash = body.rfind('/');
    if (slash == std::string_view::npos) {
        return false;
    }
    const std::string_view pid = body.substr(slash + 1);
    if (!is_hex_digits(pid) || pid.size() > 4 || !to_int(pid, &out->product_id, 16)) {
        return false;
    }
    out->kind = LinkKind::usb;
    out->where = std::string(body.substr(0, slash));
    out->serial = SerialSettings{};
    return true;
}

bool parse_net(std::string_view body, ConnTarget* out) {
    const auto comma = body.rfind(',');
    if (comma == std::string_view::npos || !to_int(body.substr(comma + 1), &out->timeout_ms) ||
        out->timeout_ms < 0) {
        return false;
    }
    const std::string_view address = body.substr(0, comma);
    const auto colon = address.rfind(':');
    int port = 0;
    if (colon == std::string_view::npos || !to_int(address.substr(colon + 1), &port) || port <= 0 ||
        port > kMaxPort) {
        return false;
    }
    std::string_view host = address.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    if (host.empty()) {
        return false;
    }
    out->kind = LinkKind::tcp;
    out->where = std::string(host);
    out->port = static_cast<uint16_t>(port);
    return true;
}

bool valid_bt_address(std::string_view text) {
    if (text.size() != 17) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool colon_place = i % 3 == 2;
        if (colon_place ? text[i] != ':' : !is_hex_digits(text.substr(i, 1))) {
            return false;
        }
    }
    return true;
}

bool parse_bt(std::string_view body, ConnTarget* out) {
    body = body.substr(0, body.find('#')); // the name is for people only
    const auto at = body.find('@');
    if (at == std::string_view::npos || !valid_bt_address(body.substr(0, at))) {
        return false;
    }
    std::string_view params = body.substr(at + 1);
    const auto c1 = params.find(',');
    const auto c2 = c1 == std::string_view::npos ? c1 : params.find(',', c1 + 1);
    if (c2 == std::string_view::npos || !to_int(params.substr(0, c1), &out->channel) ||
        !to_int(params.substr(c1 + 1, c2 - c1 - 1), &out->timeout_ms) || out->channel < 1 ||
        out->channel > 30 || out->timeout_ms < 0) {
        return false;
    }
    out->kind = LinkKind::bluetooth;
    out->where = std::string(body.substr(0, at));
    return true;
}

bool has_usb_prefix(std::string_view text) {
    for (std::string_view prefix : kUsbPrefixes) {
        if (text.substr(0, prefix.size()) == prefix) {
            return true;
        }
    }
    return false;
}

// The device part of a device text: what follows the prefix and its colon,
// without a trailing "/<product id>" when the text is a listing entry.
std::string_view usb_device_part(std::string_view text) {
    std::string_view body = text.substr(4);
    if (!body.empty() && body.front() == ':') {
        body.remove_prefix(1);
    }
    const auto slash = body.rfind('/');
    if (slash != std::string_view::npos && slash > 0) {
        const std::string_view tail = body.substr(slash + 1);
        if (is_hex_digits(tail) && tail.size() <= 4) {
            body = body.substr(0, slash);
        }
    }
    return body;
}

std::string serial_text(const char* path, const SerialSettings& s) {
    std::string text(kSerialPrefix);
    text += path;
    text += '@' + std::to_string(s.baud) + ',' + std::to_string(s.data_bits) +
            parity_letter(s.parity) + std::to_string(s.stop_bits);
    if (s.flow == 1) {
        text += ",rtscts";
    }
    return text;
}

int fail(char* out, int error) {
    if (out != nullptr) {
        out[0] = '\0';
    }
    return -error;
}

int make_serial(char* out, const char* path, int baud, int data_bits, int stop_bits, int parity,
                int flow) {
    const SerialSettings s{baud, data_bits, stop_bits, parity, flow};
    if (out == nullptr || path == nullptr || path[0] == '\0' || !valid_serial(s)) {
        return fail(out, COMM_EINVAL);
    }
    return store_conn_string(out, serial_text(path, s));
}

} // namespace

int store_conn_string(char* out, const std::string& text) {
    if (text.size() > static_cast<std::size_t>(kConnStringMax)) {
        return fail(out, COMM_ENAMETOOLONG);
    }
    std::memcpy(out, text.c_str(), text.size() + 1);
    return 0;
}

int parse_conn_string(const char* text, ConnTarget* out) {
    if (text == nullptr || std::strlen(text) > static_cast<std::size_t>(kConnStringMax)) {
        return -COMM_EINVAL;
    }
    const std::string_view t(text);
    bool ok = false;
    if (t.substr(0, kSerialPrefix.size()) == kSerialPrefix) {
        ok = parse_serial(t.substr(kSerialPrefix.size()), out);
    } else if (t.substr(0, kNetPrefix.size()) == kNetPrefix) {
        ok = parse_net(t.substr(kNetPrefix.size()), out);
    } else if (t.substr(0, kBtPrefix.size()) == kBtPrefix) {
        ok = parse_bt(t.substr(kBtPrefix.size()), out);
    } else if (has_usb_prefix(t)) {
        ok = parse_usb(t, out);
    }
    return ok ? 0 : -COMM_EINVAL;
}

} // namespace comm

using namespace comm;

extern "C" {

COMM_API int comm_check_conn_string(const char* text) {
    ConnTarget target;
    return parse_conn_string(text, &target);
}

COMM_API int comm_make_conn_string_usb(char* out, const char* device, int flags, int vid, int pid) {
    (void)flags; // USB links need no option beyond their identity
    if (out == nullptr || device == nullptr || !has_usb_prefix(device) ||
        vid != kInstrumentVendor || pid <= 0 || pid > kMaxPort) {
        return fail(out, COMM_EINVAL);
    }
    char pid_text[8];
    const auto [end, ec] = std::to_chars(pid_text, pid_text + sizeof pid_text, pid, 16);
    (void)ec;
    std::string text(device, 4);
    text += ':';
    text += usb_device_part(device);
    text += '/';
    text.append(pid_text, end);
    return store_conn_string(out, text);
}

COMM_API int comm_make_conn_string_serial(char* out, uint16_t port, int baud, int data_bits,
                                          int stop_bits, int parity, int flow) {
    // Port n is the n-th on-board UART, counted from 0.
    const std::string path = numbered_serial_port(port);
    return make_serial(out, path.c_str(), baud, data_bits, stop_bits, parity, flow);
}

COMM_API int comm_make_conn_string_serial_path(char* out, const char* path, int baud, int data_bits,
                                               int stop_bits, int parity, int flow) {
    return make_serial(out, path, baud, data_bits, stop_bits, parity, flow);
}

COMM_API int comm_make_conn_string_bt(char* out, const char* device, const char* name,
                                      int class_of_device, int channel, const char* pin,
                                      int timeout_ms) {
    (void)class_of_device; // only discovery filters on it
    if (out == nullptr || device == nullptr || !valid_bt_address(device) || channel < 1 ||
        channel > 30 || timeout_ms < 0 || pin == nullptr || std::strpbrk(pin, ",#@") != nullptr) {
        return fail(out, COMM_EINVAL);
    }
    std::string text(kBtPrefix);
    text += device;
    text += '@' + std::to_string(channel) + ',' + std::to_string(timeout_ms) + ',' + pin;
    if (name != nullptr && name[0] != '\0') {
        text += '#';
        text += name;
    }
    return store_conn_string(out, text);
}

COMM_API int comm_make_conn_string_net(char* out, const char* address, uint16_t port,
                                       int timeout_ms) {
    if (out == nullptr || address == nullptr || address[0] == '\0' || port == 0 || timeout_ms < 0 ||
        std::strchr(address, ',') != nullptr) {
        return fail(out, COMM_EINVAL);
    }
    std::string text(kNetPrefix);
    const bool bare_v6 = std::strchr(address, ':') != nullptr && address[0] != '[';
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on the
    // concatenated form at -O3.
    text.append(bare_v6 ? "[" : "").append(address).append(bare_v6 ? "]" : "");
    text.append(":").append(std::to_string(port));
    text.append(",").append(std::to_string(timeout_ms));
    return store_conn_string(out, text);
}

} // extern "C"
