#include "output_file.h"

#include <cerrno>
#include <optional>

#include "output_node.h"

namespace vuxocli {

namespace {

bool is_standard_output(const std::string& path) {
    return path.empty() || path == "-";
}

} // namespace

std::string output_name(const std::string& path) {
    return is_standard_output(path) ? "standard output" : path;
}

OutputFile::~OutputFile() {
    if (file_ != nullptr && file_ != stdout) {
        std::fclose(file_);
        if (!temp_.empty()) {
            std::remove(temp_.c_str());
        }
    }
}

std::FILE* OutputFile::open() {
    if (is_standard_output(path_)) {
        file_ = stdout;
        return file_;
    }
    const std::optional<OutputNode> target = resolve_output(path_);
    if (!target) {
        return nullptr;
    }
    if (target->replace) {
        target_ = target->path;
        temp_ = target_ + ".part";
        file_ = std::fopen(temp_.c_str(), "wb");
        return file_;
    }
    file_ = open_in_place(path_);
    return file_;
}

bool OutputFile::commit() {
    if (file_ == stdout) {
        return std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    }
    errno = 0;
    const bool written = std::fflush(file_) == 0 && std::ferror(file_) == 0;
    const int saved = errno;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (written && closed && (temp_.empty() || std::rename(temp_.c_str(), target_.c_str()) == 0)) {
        return true;
    }
    const int reason = errno != 0 ? errno : saved;
    if (!temp_.empty()) {
        std::remove(temp_.c_str());
    }
    errno = reason;
    return false;
}

bool write_output(const std::string& path, const std::string& text) {
    OutputFile out(path);
    std::FILE* f = out.open();
    if (f == nullptr) {
        return false;
    }
    std::fwrite(text.data(), 1, text.size(), f);
    return out.commit();
}

} // namespace vuxocli
