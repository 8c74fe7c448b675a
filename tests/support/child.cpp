#include "child.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>

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

// The input as a file of its own: no writer to keep up with the child, and no
// SIGPIPE in the test when the child does not read it all.
int input_fd(const Options& opt) {
    if (!opt.input) {
        return -1;
    }
    const int fd = memfd_create("child-input", MFD_CLOEXEC);
    if (fd >= 0 && (write(fd, opt.input->data(), opt.input->size()) !=
                        static_cast<ssize_t>(opt.input->size()) ||
                    lseek(fd, 0, SEEK_SET) != 0)) {
        close(fd);
        return -1;
    }
    return fd;
}

// Forks and execs; -1 for a stream keeps the test's own. Everything the child
// needs is built before fork: the test runs threads.
pid_t spawn(const std::vector<std::string>& argv, const Options& opt, int out_fd, int err_fd,
            int term_fd = -1) {
    std::vector<char*> args = c_strings(argv);
    std::vector<std::string> env_all;
    for (char** e = environ; *e != nullptr; ++e) {
        env_all.emplace_back(*e);
    }
    env_all.insert(env_all.end(), opt.env.begin(), opt.env.end());
    std::vector<char*> envp = c_strings(env_all);
    const bool drop = opt.as_nobody && geteuid() == 0;
    const int in_fd = term_fd >= 0 ? dup(term_fd) : input_fd(opt);
    if ((opt.input || term_fd >= 0) && in_fd < 0) {
        return -1;
    }
    const pid_t pid = fork();
    if (pid != 0) {
        if (in_fd >= 0) {
            close(in_fd);
        }
        return pid;
    }
    if ((in_fd >= 0 && dup2(in_fd, STDIN_FILENO) < 0) ||
        (out_fd >= 0 && dup2(out_fd, STDOUT_FILENO) < 0) ||
        (err_fd >= 0 && dup2(err_fd, STDERR_FILENO) < 0) ||
        (!opt.dir.empty() && chdir(opt.dir.c_str()) != 0) ||
        (drop && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))) {
        _exit(126);
    }
    execve(args[0], args.data(), envp.data());
    _exit(127);
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

int reap(pid_t pid, rusage* usage) {
    int status = 0;
    while (wait4(pid, &status, 0, usage) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return status;
}

int exit_code(int status) {
    if (status != -1 && WIFSIGNALED(status)) {
        return -WTERMSIG(status);
    }
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

Result run(const std::vector<std::string>& argv, const Options& opt) {
    int out_pipe[2];
    int err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0) {
        return {};
    }
    int term = -1;
    if (opt.terminal) {
        // The terminal stands in for the error pipe: once the program ends, reading
        // its master side fails (EIO) as a pipe would read its end.
        term = open_terminal(opt.input.value_or(""), &err_pipe[0]);
        err_pipe[1] = term >= 0 ? dup(term) : -1;
    } else if (pipe2(err_pipe, O_CLOEXEC) != 0) {
        err_pipe[0] = err_pipe[1] = -1;
    }
    if (err_pipe[0] < 0 || err_pipe[1] < 0) {
        for (const int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1], term}) {
            if (fd >= 0) {
                close(fd);
            }
        }
        return {};
    }
    const pid_t pid = spawn(argv, opt, out_pipe[1], err_pipe[1], term);
    if (term >= 0) {
        close(term);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    Result r;
    const Clock::time_point deadline = Clock::now() + opt.limit;
    std::array<pollfd, 2> fds = {pollfd{out_pipe[0], POLLIN, 0}, pollfd{err_pipe[0], POLLIN, 0}};
    std::array<std::string*, 2> into = {&r.out, &r.err};
    int open_streams = pid > 0 ? 2 : 0;
    while (open_streams > 0) {
        if (poll(fds.data(), fds.size(), remaining_ms(deadline)) == 0) {
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
    if (pid > 0) {
        const int code = exit_code(reap(pid, nullptr));
        r.exit_status = r.timed_out || code < 0 ? -1 : code;
    }
    return r;
}

pid_t start(const std::vector<std::string>& argv, const Options& opt) {
    const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t pid = spawn(argv, opt, null_fd, null_fd);
    close(null_fd);
    return pid;
}

int wait_for(pid_t pid, std::chrono::seconds limit, rusage* usage) {
    // A pidfd becomes readable when the child ends: a bounded wait without polling.
    const int pid_fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pid_fd >= 0) {
        pollfd pfd{pid_fd, POLLIN, 0};
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(limit);
        if (poll(&pfd, 1, static_cast<int>(ms.count())) <= 0) {
            kill(pid, SIGKILL);
        }
        close(pid_fd);
    }
    return reap(pid, usage);
}

int finish(pid_t pid, int signo) {
    if (signo != 0) {
        kill(pid, signo);
    }
    return exit_code(reap(pid, nullptr));
}

Process::Process(const std::vector<std::string>& argv, const Options& opt) {
    int out_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0) {
        return;
    }
    const int err_fd = opt.quiet ? open("/dev/null", O_WRONLY | O_CLOEXEC) : -1;
    pid_ = spawn(argv, opt, out_pipe[1], err_fd);
    if (err_fd >= 0) {
        close(err_fd);
    }
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

void Process::read_to_end() {
    while (out_fd_ >= 0 && read_some(out_fd_, out_)) {
    }
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
    const int status = reap(pid_, nullptr);
    pid_ = -1;
    return status;
}

// Asks politely, then insists: a program that ignores SIGTERM must not hang the test.
void Process::terminate() {
    if (pid_ <= 0) {
        return;
    }
    kill(pid_, SIGTERM);
    wait_for(pid_, std::chrono::seconds(5));
    pid_ = -1;
}

Process::~Process() {
    terminate();
    if (out_fd_ >= 0) {
        close(out_fd_);
    }
}

namespace {

std::vector<std::string> with_port(const std::string& program,
                                   const std::vector<std::string>& args) {
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.insert(argv.end(), {"--port", "0"});
    return argv;
}

} // namespace

Simulator::Simulator(const std::string& program, const std::vector<std::string>& args,
                     const Options& opt)
    : process_(with_port(program, args), opt) {
    const std::string& text = process_.read_until("\n", std::chrono::seconds(20));
    const std::size_t eol = text.find('\n');
    if (eol != std::string::npos && text.starts_with("port ")) {
        port_ = static_cast<uint16_t>(std::atoi(text.c_str() + 5));
        first_line_ = eol + 1;
    }
    drain_ = std::thread([this] { process_.read_to_end(); });
}

std::string Simulator::stop() {
    process_.terminate();
    if (drain_.joinable()) {
        drain_.join(); // the pipe ends with the simulator
    }
    return process_.out().substr(std::min(first_line_, process_.out().size()));
}

Simulator::~Simulator() {
    stop();
}

} // namespace child
