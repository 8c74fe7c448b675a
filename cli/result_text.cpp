#include "result_text.h"

#include "vuxodata.h"

namespace vuxocli {

std::string result_text(int code) {
    return std::string(vuxod_result_text(code)) + " (" + std::to_string(code) + ")";
}

bool is_link_error(int code) {
    // Negated transport error numbers (COMM_E*), all well below 4096.
    return code <= -2 && code > -4096;
}

} // namespace vuxocli
