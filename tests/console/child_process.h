// Child processes for the end-to-end tests: the simulator as a peer on an ephemeral
// port, and a program run to its end under a deadline.
#ifndef VUXOTEST_CHILD_PROCESS_H
#define VUXOTEST_CHILD_PROCESS_H

#include <chrono>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace child {

struct Result {
    std::string out;
    std::string err;
    int exit_status = -1; // -1 unless the program exited on its own
    bool timed_out = false;
};

// Runs argv[0] with argv, `env` ("NAME=value") added to the environment; collects
// both output streams until it ends. Past `limit` it is killed and timed_out is set.
Result run(const std::vector<std::string>& argv, const std::vector<std::string>& env,
           std::chrono::seconds limit);

// A started vuxoint-sim; stopped (and reaped) on destruction.
class Simulator {
  public:
    // args after the program name; "--port 0" is added. Waits a bounded time for
    // the first output line "port <n>".
    Simulator(const std::string& program, const std::vector<std::string>& args);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // 0 when the simulator did not report a port.
    int port() const { return port_; }
    // What it wrote to standard output after the port line, once it has ended.
    std::string stop();

  private:
    pid_t pid_ = -1;
    int out_fd_ = -1;
    int port_ = 0;
    std::string rest_;
    std::thread drain_;
};

// A program left running with its standard output on a pipe, for tests that talk
// to it while it runs; killed and reaped on destruction.
class Process {
  public:
    explicit Process(const std::vector<std::string>& argv);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Reads standard output until it holds `marker` or `limit` passes; all read so far.
    const std::string& read_until(const std::string& marker, std::chrono::seconds limit);
    // Sends `sig`, reads the output to its end and reaps the program: its wait status.
    // A program still running 30 s later is killed.
    int stop_with(int sig);
    const std::string& out() const { return out_; }

  private:
    pid_t pid_ = -1;
    int out_fd_ = -1;
    std::string out_;
};

} // namespace child

#endif
