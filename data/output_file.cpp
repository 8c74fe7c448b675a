#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>

namespace vuxocli {

namespace {

namespace fs = std::filesystem;

// A link under /proc names an open descriptor (/dev/stdout ends in one), not a
// file: its target text may be "pipe:[4711]", and even a file behind it is
// someone's open descriptor, to be written where it stands.
bool names_descriptor(const fs::path& link) {
    std::error_code ec;
    const std::string dir = fs::weakly_canonical(fs::absolute(link, ec).parent_path(), ec);
    return !ec && dir.starts_with("/proc/");
}

struct Target {
    std::string path;
    bool replace = false; // atomically; else written through
};

// Follows path's chain of links to where the bytes belong. Empty with errno
// set when a step cannot be read.
std::optional<Target> resolve(const std::string& path) {
    fs::path p = path;
    // The kernel's own limit on links in one lookup.
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (lstat(p.c_str(), &st) != 0) {
            if (errno == ENOENT) {
                return Target{p.string(), true};
            }
            return std::nullopt;
        }
        if (S_ISREG(st.st_mode)) {
            return Target{p.string(), true};
        }
        if (!S_ISLNK(st.st_mode) || names_descriptor(p)) {
            return Target{path, false};
        }
        std::error_code ec;
        const fs::path next = fs::read_symlink(p, ec);
        if (ec) {
            errno = ec.value();
            return std::nullopt;
        }
        p = next.is_absolute() ? next : p.parent_path() / next;
    }
    errno = ELOOP;
    return std::nullopt;
}

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
    const std::optional<Target> target = resolve(path_);
    if (!target) {
        return nullptr;
    }
    if (target->replace) {
        target_ = target->path;
        temp_ = target_ + ".part";
        file_ = std::fopen(temp_.c_str(), "wb");
        return file_;
    }
    // No O_CREAT: the node exists and is not ours to make. O_NOCTTY keeps a
    // terminal from becoming the controlling one; O_APPEND keeps what a shell's
    // ">>" behind /dev/stdout already holds.
    const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    file_ = fdopen(fd, "wb");
    if (file_ == nullptr) {
        const int saved = errno;
        close(fd);
        errno = saved;
    }
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
