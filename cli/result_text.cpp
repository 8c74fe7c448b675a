#include "result_text.h"

#include "vuxodata.h"

namespace vuxocli {

std::string result_text(int code) {
    return std::string(vuxod_result_text(code)) + " (" + std::to_string(code) + ")";
}

} // namespace vuxocli
