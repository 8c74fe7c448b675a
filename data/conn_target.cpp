#include "conn_target.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstring>
#include <set>

#include "vuxodata.h"
#include "vuxoint.h"

namespace vuxocli {

namespace {

// A connection string holds at most 127 characters; longer text cannot be one.
constexpr std::size_t kConnStringMax = 127;

// Each raw prefix with its format, for the message about a string that is not one.
struct RawForm {
    std::string_view prefix;
    const char* format;
};
constexpr RawForm kRawForms[] = {
    {"SER:", "SER:PATH@BAUD,8N1"},
    {"NET:", "NET:HOST:PORT,TIMEOUT_MS"},
    {"BT:", "BT:XX:XX:XX:XX:XX:XX@CHANNEL,TIMEOUT_MS,PIN"},
    {"USBF:", "USBF:DEVICE/PRODUCT_HEX"},
    {"USBS:", "USBS:DEVICE/PRODUCT_HEX"},
    {"USBU:", "USBU:DEVICE/PRODUCT_HEX"},
};

bool is_hex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// XX:XX:XX:XX:XX:XX
bool is_bt_address(std::string_view a) {
    if (a.size() != 17) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (i % 3 == 2 ? a[i] != ':' : !is_hex(a[i])) {
            return false;
        }
    }
    return true;
}

// A Windows serial port by its name: COM3, or \\.\COM12 as Windows' own
// programs spell a port above COM9. Taken on every system, so that one form
// reads the same everywhere (elsewhere the port is simply not found).
bool is_com_port(std::string_view text) {
    if (text.starts_with("\\\\.\\")) {
        text.remove_prefix(4);
    }
    if (text.size() <= 3 || !std::equal(text.begin(), text.begin() + 3, "COM", [](char a, char b) {
            return std::toupper(static_cast<unsigned char>(a)) == b;
        })) {
        return false;
    }
    return std::all_of(text.begin() + 3, text.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

std::optional<ConnTarget> parse_tcp(ConnTarget target, std::string_view rest, std::string* why) {
    const std::size_t colon = rest.rfind(':');
    if (colon == std::string_view::npos) {
        *why = "tcp:// needs HOST:PORT";
        return std::nullopt;
    }
    std::string_view host = rest.substr(0, colon);
    const std::string_view digits = rest.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string_view::npos) {
        *why = "an IPv6 address goes in brackets: tcp://[ADDRESS]:PORT";
        return std::nullopt;
    }
    unsigned port = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (ec != std::errc() || end != digits.data() + digits.size() || port == 0 || port > 65535) {
        *why = "the port must be a number from 1 to 65535";
        return std::nullopt;
    }
    if (host.empty() || host.find_first_of(",/ ") != std::string_view::npos) {
        *why = "tcp:// needs a host name or address before the port";
        return std::nullopt;
    }
    target.kind = ConnKind::tcp;
    target.where = host;
    target.port = static_cast<uint16_t>(port);
    return target;
}

constexpr int kUsbListCapacity = 32;

std::vector<std::string> list_usb() {
    std::vector<char> list(static_cast<std::size_t>(kUsbListCapacity) * VUXO_CONN_STRING_SIZE, 0);
    int count = 0;
    vuxo_list_usb_devices(list.data(), kUsbListCapacity, &count);
    std::vector<std::string> out;
    for (int i = 0; i < count && i < kUsbListCapacity; ++i) {
        const char* entry = list.data() + static_cast<std::size_t>(i) * VUXO_CONN_STRING_SIZE;
        out.emplace_back(entry, strnlen(entry, VUXO_CONN_STRING_SIZE - 1));
    }
    return out;
}

// The listing names ports, not USB serial numbers, while a USB connection
// string may name either: the instrument with that serial number is looked for
// under each product id (and prefix) the listing shows.
std::vector<std::string> usb_serial_candidates(const std::string& serial) {
    std::set<std::string> seen;
    std::vector<std::string> out;
    for (const std::string& entry : list_usb()) {
        const std::size_t slash = entry.rfind('/');
        if (slash == std::string::npos || entry.size() < 4) {
            continue;
        }
        std::string text = entry.substr(0, 4) + ":" + serial + entry.substr(slash);
        if (seen.insert(text).second) {
            out.push_back(std::move(text));
        }
    }
    return out;
}

} // namespace

std::vector<std::string> conn_strings(const ConnTarget& target, int* code, std::string* error) {
    std::array<char, VUXO_CONN_STRING_SIZE> out{};
    int rc = 0;
    switch (target.kind) {
    case ConnKind::tcp:
        rc = vuxo_make_net_conn_string(out.data(), target.where.c_str(), target.port);
        break;
    case ConnKind::device:
        rc = vuxo_make_serial_path_conn_string(out.data(), target.where.c_str());
        break;
    case ConnKind::bluetooth:
        rc = vuxo_make_bt_conn_string(out.data(), target.where.c_str(), "");
        break;
    case ConnKind::raw:
        return {target.where};
    case ConnKind::usb_first: {
        std::vector<std::string> all = list_usb();
        if (all.empty()) {
            *code = VUXOD_E_NOT_FOUND;
            *error = target.text + ": list USB instruments: none found";
            return {};
        }
        return {all.front()};
    }
    case ConnKind::usb_serial: {
        std::vector<std::string> all = usb_serial_candidates(target.where);
        if (all.empty()) {
            *code = VUXOD_E_NOT_FOUND;
            *error = target.text + ": list USB instruments: none found";
        }
        return all;
    }
    }
    if (rc != 0) {
        *code = rc;
        *error = target.text + ": build the connection string: " + vuxod_result_text(rc) + " (" +
                 std::to_string(rc) + ")";
        return {};
    }
    out.back() = '\0';
    return {out.data()};
}

std::optional<ConnTarget> parse_conn(std::string_view text, std::string* why) {
    ConnTarget target;
    target.text = text;
    if (text.empty()) {
        *why = "empty";
        return std::nullopt;
    }
    if (text.size() > kConnStringMax) {
        *why = "longer than 127 characters";
        return std::nullopt;
    }
    if (text.starts_with("tcp://")) {
        return parse_tcp(std::move(target), text.substr(6), why);
    }
    if (text.starts_with("bt://")) {
        if (!is_bt_address(text.substr(5))) {
            *why = "bt:// needs an address of the form XX:XX:XX:XX:XX:XX";
            return std::nullopt;
        }
        target.kind = ConnKind::bluetooth;
        target.where = text.substr(5);
        return target;
    }
    if (text == "usb") {
        target.kind = ConnKind::usb_first;
        return target;
    }
    if (text.starts_with("usb:")) {
        const std::string_view serial = text.substr(4);
        // The serial number becomes the device part of a USB connection string,
        // which ends at the last "/".
        if (serial.empty() || serial.find_first_of("/ ") != std::string_view::npos) {
            *why = "usb: needs a USB serial number without spaces or slashes";
            return std::nullopt;
        }
        target.kind = ConnKind::usb_serial;
        target.where = serial;
        return target;
    }
    if (text.starts_with("/") || text.starts_with("./") || text.starts_with("../") ||
        is_com_port(text)) {
        target.kind = ConnKind::device;
        target.where = text;
        return target;
    }
    for (const RawForm& form : kRawForms) {
        if (text.starts_with(form.prefix)) {
            target.kind = ConnKind::raw;
            target.where = text;
            // The transport's own parser decides, so the tool never sends
            // anything over a string the transport would refuse anyway.
            if (vuxo_check_conn_string(target.where.c_str()) != 0) {
                *why = std::string("not a connection string the transport takes (the form is ") +
                       form.format + ")";
                return std::nullopt;
            }
            return target;
        }
    }
    *why = "not a form vuxoint knows (see vuxoint --help)";
    return std::nullopt;
}

const char* conn_forms_help() {
    return "CONN, the instrument, in one of these forms:\n"
           "  tcp://HOST:PORT          an instrument behind a TCP bridge, or vuxoint-sim\n"
           "                           (an IPv6 address in brackets: tcp://[::1]:5000)\n"
           "  /dev/ttyUSB0             a serial port or USB-serial adapter by its path\n"
           "  COM3                     the same on Windows (also \\\\.\\COM12)\n"
           "  bt://XX:XX:XX:XX:XX:XX   a paired instrument over Bluetooth\n"
           "  usb                      the first instrument found on USB\n"
           "  usb:SERIAL               the USB instrument with that USB serial number\n"
           "  SER:... NET:... BT:... USBS:... USBU:... USBF:...\n"
           "                           a connection string, used unchanged\n";
}

} // namespace vuxocli
