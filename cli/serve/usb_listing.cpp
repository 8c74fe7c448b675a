#include <vector>

#include "usb_watch.h"
#include "vuxodata.h"
#include "vuxoint.h"

namespace vuxocli::serve {

std::vector<std::string> list_usb_instruments() {
    constexpr int kCapacity = 32;
    std::vector<char> out(static_cast<std::size_t>(kCapacity) * VUXO_CONN_STRING_SIZE, 0);
    int count = 0;
    // None found is an empty list, not a failure worth a word.
    if (vuxod_conn_strings("usb", out.data(), kCapacity, &count, nullptr, 0) != VUXOD_OK) {
        return {};
    }
    std::vector<std::string> found;
    for (int i = 0; i < count; ++i) {
        found.emplace_back(out.data() + static_cast<std::size_t>(i) * VUXO_CONN_STRING_SIZE);
    }
    return found;
}

} // namespace vuxocli::serve
