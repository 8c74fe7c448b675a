#include "child_process.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace child {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> c_strings(const std::vector<std::string>& strings) {
    std::vector<char*> out;
    out.reserve(strings.size() + 1);
    for (const std::string& s : strings) {
        out.push_back(const_cast<char*>(s.c_str()));
    }
    out.push_back(nullptr);
    return out;
}

// Forks and execs; the child's stdout (and stderr when err_fd is set) go to the pipes.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, int out_fd,
            int err_fd, const std::vector<int>& close_fds) {
    // Everything the child needs is built before fork: the test runs threads.
    std::vector<char*> args = c_strings(argv);
    std::vector<std::string> env_all;
    for (char** e = environ; *e != nullptr; ++e) {
        env_all.emplace_back(*e);
    }
    env_all.insert(env_all.end(), env.begin(), env.end());
    std::vector<char*> envp = c_strings(env_all);
    const pid_t pid = fork();
    if (pid != 0) {
        return pid;
    }
    dup2(out_fd, STDOUT_FILENO);
    if (err_fd >= 0) {
        dup2(err_fd, STDERR_FILENO);
    }
    for (int fd : close_fds) {
        close(fd);
    }
    execve(args[0], args.data(), envp.data());
    _exit(127);
}

int remaining_ms(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}

// Appends what is readable; false at end of stream.
bool read_some(int fd, std::string& into) {
    std::array<char, 4096> buf;
    const ssize_t n = read(fd, buf.data(), buf.size());
    if (n > 0) {
        into.append(buf.data(), static_cast<std::size_t>(n));
        return true;
    }
    return n < 0 && errno == EINTR;
}

int wait_status(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Asks politely, then insists: a simulator that ignores SIGTERM must not hang the test.
void terminate(pid_t pid) {
    const int pid_fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    kill(pid, SIGTERM);
    pollfd pfd{pid_fd, POLLIN, 0};
    if (pid_fd < 0 || poll(&pfd, 1, 5000) <= 0) {
        kill(pid, SIGKILL);
    }
    if (pid_fd >= 0) {
        close(pid_fd);
    }
    wait_status(pid);
}

} // namespace

Result run(const std::vector<std::string>& argv, const std::vector<std::string>& env,
           std::chrono::seconds limit) {
    int out_pipe[2];
    int err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
        return {};
    }
    const pid_t pid = spawn(argv, env, out_pipe[1], err_pipe[1], {out_pipe[0], err_pipe[0]});
    close(out_pipe[1]);
    close(err_pipe[1]);

    Result r;
    const Clock::time_point deadline = Clock::now() + limit;
    std::array<pollfd, 2> fds = {pollfd{out_pipe[0], POLLIN, 0}, pollfd{err_pipe[0], POLLIN, 0}};
    std::array<std::string*, 2> into = {&r.out, &r.err};
    int open_streams = 2;
    while (open_streams > 0) {
        const int ready = poll(fds.data(), fds.size(), remaining_ms(deadline));
        if (ready == 0) {
            r.timed_out = true;
            kill(pid, SIGKILL);
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
    const int status = wait_status(pid);
    r.exit_status = r.timed_out ? -1 : status;
    return r;
}

Simulator::Simulator(const std::string& program, const std::vector<std::string>& args) {
    int out_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0) {
        return;
    }
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.insert(argv.end(), {"--port", "0"});
    pid_ = spawn(argv, {}, out_pipe[1], -1, {out_pipe[0]});
    close(out_pipe[1]);
    out_fd_ = out_pipe[0];

    std::string text;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(20);
    pollfd pfd{out_fd_, POLLIN, 0};
    while (text.find('\n') == std::string::npos && poll(&pfd, 1, remaining_ms(deadline)) > 0 &&
           read_some(out_fd_, text)) {
    }
    const std::size_t eol = text.find('\n');
    if (eol != std::string::npos && text.starts_with("port ")) {
        port_ = std::atoi(text.c_str() + 5);
        rest_ = text.substr(eol + 1);
    }
    // Keep reading, so the simulator never blocks on a full pipe.
    drain_ = std::thread([this] {
        while (read_some(out_fd_, rest_)) {
        }
    });
}

std::string Simulator::stop() {
    if (pid_ > 0) {
        terminate(pid_);
        pid_ = -1;
    }
    if (drain_.joinable()) {
        drain_.join();
    }
    if (out_fd_ >= 0) {
        close(out_fd_);
        out_fd_ = -1;
    }
    return rest_;
}

Simulator::~Simulator() {
    stop();
}

Process::Process(const std::vector<std::string>& argv) {
    int out_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0) {
        return;
    }
    pid_ = spawn(argv, {}, out_pipe[1], -1, {out_pipe[0]});
    close(out_pipe[1]);
    out_fd_ = out_pipe[0];
}

const std::string& Process::read_until(const std::string& marker, std::chrono::seconds limit) {
    const Clock::time_point deadline = Clock::now() + limit;
    pollfd pfd{out_fd_, POLLIN, 0};
    while (out_.find(marker) == std::string::npos && poll(&pfd, 1, remaining_ms(deadline)) > 0 &&
           read_some(out_fd_, out_)) {
    }
    return out_;
}

int Process::stop_with(int sig) {
    if (pid_ <= 0) {
        return -1;
    }
    kill(pid_, sig);
    // A program that does not end within the limit is killed: the test fails, not hangs.
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(30);
    pollfd pfd{out_fd_, POLLIN, 0};
    while (true) {
        if (poll(&pfd, 1, remaining_ms(deadline)) <= 0) {
            kill(pid_, SIGKILL);
            break;
        }
        if (!read_some(out_fd_, out_)) {
            break;
        }
    }
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return status;
}

Process::~Process() {
    if (pid_ > 0) {
        terminate(pid_);
    }
    if (out_fd_ >= 0) {
        close(out_fd_);
    }
}

} // namespace child
