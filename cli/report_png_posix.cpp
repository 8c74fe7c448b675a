#include "report_png.h"

#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace vuxocli {

namespace {

constexpr const char* kRenderer = "rsvg-convert";

bool send_all(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        // MSG_NOSIGNAL: a renderer that quit early is a failed figure, not SIGPIPE.
        const ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool convert(const std::string& svg, const std::string& path, std::string* error) {
    // A socket rather than a pipe, for MSG_NOSIGNAL.
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        *error = std::string("socketpair: ") + std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
    std::string args[] = {kRenderer, "--format", "png", "--output", path};
    char* argv[] = {args[0].data(), args[1].data(), args[2].data(),
                    args[3].data(), args[4].data(), nullptr};
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, kRenderer, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[0]);
    if (rc != 0) {
        close(fds[1]);
        *error = std::string(kRenderer) + ": " +
                 (rc == ENOENT ? "not found (Debian package librsvg2-bin)" : std::strerror(rc));
        return false;
    }
    const bool sent = send_all(fds[1], svg);
    close(fds[1]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!sent || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        *error = path + ": " + kRenderer + " failed";
        return false;
    }
    return true;
}

} // namespace

bool write_pngs(const std::vector<ReportFigure>& figures, const std::string& dir,
                std::string* error) {
    if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
        *error = dir + ": " + std::strerror(errno);
        return false;
    }
    for (const ReportFigure& f : figures) {
        if (!convert(f.svg, dir + "/" + f.name + ".png", error)) {
            return false;
        }
    }
    return true;
}

} // namespace vuxocli
