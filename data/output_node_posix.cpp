// Where -o's bytes go on POSIX: links followed by lstat, descriptors under /proc
// written where they stand.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "output_node.h"

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

} // namespace

std::optional<OutputNode> resolve_output(const std::string& path) {
    fs::path p = path;
    // The kernel's own limit on links in one lookup.
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (lstat(p.c_str(), &st) != 0) {
            if (errno == ENOENT) {
                return OutputNode{p.string(), true};
            }
            return std::nullopt;
        }
        if (S_ISREG(st.st_mode)) {
            return OutputNode{p.string(), true};
        }
        if (!S_ISLNK(st.st_mode) || names_descriptor(p)) {
            return OutputNode{path, false};
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

std::FILE* open_in_place(const std::string& path) {
    // No O_CREAT: the node exists and is not ours to make. O_NOCTTY keeps a
    // terminal from becoming the controlling one; O_APPEND keeps what a shell's
    // ">>" behind /dev/stdout already holds.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        const int saved = errno;
        close(fd);
        errno = saved;
    }
    return file;
}

} // namespace vuxocli
