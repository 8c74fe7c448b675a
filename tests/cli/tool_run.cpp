#include "tool_run.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <grp.h>
#include <stdlib.h>

#include <array>
#include <cerrno>
#include <csignal>

namespace tool {

namespace {

using Clock = std::chrono::steady_clock;

// Everything the child needs is built before fork: the test runs threads.
// in_fd -1 leaves standard input as it is.
pid_t spawn(const std::vector<std::string>& argv, const Options& opt, int in_fd, int out_fd,
            int err_fd) {
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    const bool drop = opt.as_nobody && geteuid() == 0;
    const pid_t pid = fork();
    if (pid != 0) {
        return pid;
    }
    if (in_fd >= 0) {
        dup2(in_fd, STDIN_FILENO);
    }
    dup2(out_fd, STDOUT_FILENO);
    dup2(err_fd, STDERR_FILENO);
    if ((!opt.dir.empty() && chdir(opt.dir.c_str()) != 0) ||
        (drop && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))) {
        _exit(126);
    }
    execv(args[0], args.data());
    _exit(127);
}

int reap(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
        return -WTERMSIG(status);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool read_some(int fd, std::string& into) {
    std::array<char, 4096> buf;
    const ssize_t n = read(fd, buf.data(), buf.size());
    if (n > 0) {
        into.append(buf.data(), static_cast<std::size_t>(n));
        return true;
    }
    return n < 0 && errno == EINTR;
}

// A pseudo-terminal with `typed` waiting in its input: the master side in
// *master, the terminal side returned (-1 on failure).
int open_terminal(const std::string& typed, int* master) {
    *master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (*master < 0 || grantpt(*master) != 0 || unlockpt(*master) != 0) {
        return -1;
    }
    const int term = open(ptsname(*master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (term >= 0 &&
        write(*master, typed.data(), typed.size()) != static_cast<ssize_t>(typed.size())) {
        close(term);
        return -1;
    }
    return term;
}

} // namespace

Result run(const std::vector<std::string>& argv, const Options& opt) {
    int out_pipe[2];
    int err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
        return {};
    }
    int in_fd = -1;
    if (opt.terminal) {
        // The terminal stands in for the error pipe: once the program ends,
        // reading its master side fails (EIO) as a pipe would read its end.
        close(err_pipe[0]);
        close(err_pipe[1]);
        in_fd = open_terminal(opt.typed, &err_pipe[0]);
        err_pipe[1] = in_fd;
        if (in_fd < 0) {
            close(out_pipe[0]);
            close(out_pipe[1]);
            if (err_pipe[0] >= 0) {
                close(err_pipe[0]);
            }
            return {};
        }
    }
    const pid_t pid = spawn(argv, opt, in_fd, out_pipe[1], err_pipe[1]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    Result r;
    const Clock::time_point deadline = Clock::now() + opt.limit;
    std::array<pollfd, 2> fds = {pollfd{out_pipe[0], POLLIN, 0}, pollfd{err_pipe[0], POLLIN, 0}};
    std::array<std::string*, 2> into = {&r.out, &r.err};
    int open_streams = 2;
    bool killed = false;
    while (open_streams > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(0, left.count()))) ==
            0) {
            kill(pid, SIGKILL);
            killed = true;
            break;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd >= 0 && fds[i].revents != 0 && !read_some(fds[i].fd, *into[i])) {
                fds[i].fd = -1;
                --open_streams;
            }
        }
    }
    close(out_pipe[0]);
    close(err_pipe[0]);
    const int status = reap(pid);
    r.exit_status = killed || status < 0 ? -1 : status;
    return r;
}

pid_t start(const std::vector<std::string>& argv, const Options& opt) {
    const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t pid = spawn(argv, opt, -1, null_fd, null_fd);
    close(null_fd);
    return pid;
}

int finish(pid_t pid, int signo) {
    if (signo != 0) {
        kill(pid, signo);
    }
    return reap(pid);
}

} // namespace tool
