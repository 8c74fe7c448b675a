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

} // namespace child

#endif
