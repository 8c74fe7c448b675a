// Text handed back through the C functions: into the caller's buffer, cut to
// fit and always NUL-terminated (nothing is written where there is no room).
#ifndef VUXOD_C_TEXT_H
#define VUXOD_C_TEXT_H

#include <algorithm>
#include <cstring>
#include <string_view>

namespace vuxocli {

inline void copy_text(char* out, std::size_t size, std::string_view text) {
    if (out == nullptr || size == 0) {
        return;
    }
    const std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

} // namespace vuxocli

#endif
