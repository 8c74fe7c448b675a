#include "child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

namespace bench {
namespace {

std::vector<char*> argv_of(const std::string& exe, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(exe.c_str()));
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    return argv;
}

// Reads one line from fd within timeout_ms; false on time-out or end.
bool read_line(int fd, std::string* line, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    line->clear();
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            return false;
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) {
            continue;
        }
        char c = 0;
        const ssize_t n = read(fd, &c, 1);
        if (n <= 0) {
            return false;
        }
        if (c == '\n') {
            return true;
        }
        line->push_back(c);
    }
}

} // namespace

SimProcess::SimProcess(const std::string& exe, const std::vector<std::string>& args) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        return;
    }
    std::vector<std::string> all = args;
    all.push_back("--port");
    all.push_back("0");
    const std::vector<char*> argv = argv_of(exe, all);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    out_fd_ = out[0];
    if (pid_ < 0) {
        return;
    }
    std::string line;
    if (read_line(out_fd_, &line, 20000) && line.rfind("port ", 0) == 0) {
        port_ = static_cast<uint16_t>(std::atoi(line.c_str() + 5));
    }
    drain_ = std::thread([fd = out_fd_] {
        char buf[4096];
        while (read(fd, buf, sizeof buf) > 0) {
        }
    });
}

SimProcess::~SimProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    if (drain_.joinable()) {
        drain_.join(); // the pipe ends with the child
    }
    if (out_fd_ >= 0) {
        close(out_fd_);
    }
}

pid_t spawn(const std::string& exe, const std::vector<std::string>& args) {
    const std::vector<char*> argv = argv_of(exe, args);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

bool wait_child(pid_t pid, int timeout_s, rusage* usage, int* status) {
    // A pidfd becomes readable when the child ends: a bounded wait without polling.
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        const int ready = poll(&p, 1, timeout_s * 1000);
        close(pidfd);
        if (ready <= 0) {
            kill(pid, SIGKILL);
        }
    }
    if (wait4(pid, status, 0, usage) != pid) {
        return false;
    }
    return WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

} // namespace bench
