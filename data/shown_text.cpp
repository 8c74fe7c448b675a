#include "shown_text.h"

#include "vuxodata.h"

namespace vuxocli {

std::string shown(std::string_view bytes) {
    std::string out(bytes.size() * 4 + 1, '\0');
    out.resize(vuxod_escape_text(bytes.data(), bytes.size(), out.data(), out.size()));
    return out;
}

std::string typed(const std::string& text) {
    std::string out(text.size() + 1, '\0');
    out.resize(vuxod_unescape_text(text.c_str(), out.data(), out.size()));
    return out;
}

} // namespace vuxocli
