// Programs run as child processes by the end-to-end tests and the benchmarks:
// run to their end under a deadline, left running to be signalled, or the
// simulator as a separate process on an ephemeral port.
#ifndef VUXO_TEST_SUPPORT_CHILD_H
#define VUXO_TEST_SUPPORT_CHILD_H

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace child {

struct Options {
    std::vector<std::string> env;     // "NAME=value", added to the test's environment
    std::string dir;                  // working directory ("" keeps the test's)
    bool as_nobody = false;           // drop root to uid/gid 65534 first (no effect unless root)
    std::optional<std::string> input; // standard input; unset, the test's own
    // run(): standard input and standard error on a pseudo-terminal instead, `input`
    // typed into it; Result.err is then what the terminal showed (echo included).
    bool terminal = false;
    bool quiet = false;             // Process, Simulator: standard error to /dev/null
    std::chrono::seconds limit{60}; // run(): killed past it
};

// Options with standard error silenced (GCC 12 warns on a designated initializer
// that leaves members to their defaults).
inline Options quiet() {
    Options o;
    o.quiet = true;
    return o;
}

struct Result {
    std::string out;
    std::string err;
    int exit_status = -1; // -1 unless it exited on its own
    bool timed_out = false;
};

// argv[0] is the program; runs it to its end, collecting both output streams.
Result run(const std::vector<std::string>& argv, const Options& opt = {});

// Started with its output to /dev/null; -1 when it could not be.
pid_t start(const std::vector<std::string>& argv, const Options& opt = {});
// Waits for pid at most `limit` (then kills it) and reaps it: its wait status,
// -1 when it could not be reaped. `usage` receives its resource usage.
int wait_for(pid_t pid, std::chrono::seconds limit, rusage* usage = nullptr);
// Sends signo (0: none) and reaps: the exit status, or -signal when it was killed.
int finish(pid_t pid, int signo);

// A program left running with its standard output on a pipe, for tests that
// talk to it while it runs; stopped and reaped on destruction.
class Process {
  public:
    explicit Process(const std::vector<std::string>& argv, const Options& opt = {});
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Reads standard output until it holds `marker` or `limit` passes; all read so far.
    const std::string& read_until(const std::string& marker, std::chrono::seconds limit);
    // Reads standard output to its end, with no deadline: for a reader thread.
    void read_to_end();
    // Sends `sig`, reads the output to its end and reaps the program: its wait status.
    // A program still running 30 s later is killed.
    int stop_with(int sig);
    // SIGTERM, then SIGKILL 5 s later, and reaped; nothing when it already was.
    void terminate();
    const std::string& out() const { return out_; }

  private:
    pid_t pid_ = -1;
    int out_fd_ = -1;
    std::string out_;
};

// A started vuxoint-sim; stopped (and reaped) on destruction. Its output is read
// all along, so it never blocks on a full pipe.
class Simulator {
  public:
    // args after the program name; "--port 0" is added. Waits a bounded time for
    // the first output line "port <n>".
    Simulator(const std::string& program, const std::vector<std::string>& args,
              const Options& opt = {});
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // 0 when the simulator did not report a port.
    uint16_t port() const { return port_; }
    // What it wrote to standard output after the port line, once it has ended.
    std::string stop();

  private:
    Process process_;
    uint16_t port_ = 0;
    std::size_t first_line_ = 0;
    std::thread drain_;
};

} // namespace child

#endif
