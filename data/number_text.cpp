#include "number_text.h"

#include <charconv>
#include <cmath>

namespace vuxocli {

std::string number_text(double value) {
    char text[64];
    const float narrow = static_cast<float>(value);
    const bool is_float = std::isnan(value) || static_cast<double>(narrow) == value;
    const auto [end, ec] = is_float ? std::to_chars(text, text + sizeof text, narrow)
                                    : std::to_chars(text, text + sizeof text, value);
    return ec == std::errc() ? std::string(text, end) : std::string("nan");
}

} // namespace vuxocli
