#include "usb_instance_id.h"

#include <cctype>
#include <charconv>
#include <string_view>

namespace comm {
namespace {

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& ch : out) {
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    }
    return out;
}

// The four hex digits after key ("VID_") in the id's middle part.
bool hex_field(const std::string& part, std::string_view key, int* value) {
    const auto at = part.find(key);
    if (at == std::string::npos || part.size() < at + key.size() + 4) {
        return false;
    }
    const char* first = part.data() + at + key.size();
    const auto [end, ec] = std::from_chars(first, first + 4, *value, 16);
    return ec == std::errc() && end == first + 4;
}

} // namespace

bool parse_usb_instance_id(const std::string& id, UsbIds* out) {
    const auto first = id.find('\\');
    const auto second = first == std::string::npos ? first : id.find('\\', first + 1);
    if (second == std::string::npos || upper(id.substr(0, first)) != "USB") {
        return false;
    }
    const std::string ids = upper(id.substr(first + 1, second - first - 1));
    if (ids.find("&MI_") != std::string::npos) {
        return false;
    }
    UsbIds parsed;
    if (!hex_field(ids, "VID_", &parsed.vid) || !hex_field(ids, "PID_", &parsed.pid)) {
        return false;
    }
    const std::string serial = id.substr(second + 1);
    parsed.serial = serial.find('&') == std::string::npos ? serial : std::string();
    *out = parsed;
    return true;
}

} // namespace comm
