// Where -o's bytes go on Windows: a regular file (or a new name) is replaced,
// anything else (NUL, CON, a named pipe) is written through.
#include <cerrno>
#include <filesystem>

#include "output_node.h"

namespace vuxocli {

std::optional<OutputNode> resolve_output(const std::string& path) {
    std::error_code ec;
    // Follows links itself; they are rare here and need privileges to make.
    const std::filesystem::file_status st = std::filesystem::status(path, ec);
    if (st.type() == std::filesystem::file_type::not_found) {
        return OutputNode{path, true};
    }
    if (ec) {
        errno = ec.default_error_condition().value();
        return std::nullopt;
    }
    return OutputNode{path, std::filesystem::is_regular_file(st)};
}

std::FILE* open_in_place(const std::string& path) {
    return std::fopen(path.c_str(), "ab");
}

} // namespace vuxocli
