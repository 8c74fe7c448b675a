// Child processes for the benchmarks that must not count another program's
// work as their own: the simulator as a separate process (it prints
// "port <n>" first), and a program run to its end with its resource usage.
#ifndef VUXO_BENCH_CHILD_H
#define VUXO_BENCH_CHILD_H

#include <sys/resource.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace bench {

// Runs the simulator executable with `args` and "--port 0"; its output is
// read (and dropped) by a thread so it never blocks on a full pipe.
class SimProcess {
  public:
    SimProcess(const std::string& exe, const std::vector<std::string>& args);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // 0 when the simulator did not start or report its port.
    uint16_t port() const { return port_; }

  private:
    pid_t pid_ = -1;
    int out_fd_ = -1;
    uint16_t port_ = 0;
    std::thread drain_;
};

// Starts exe with args, stdout and stderr to /dev/null; -1 on failure.
pid_t spawn(const std::string& exe, const std::vector<std::string>& args);
// Waits for pid for at most timeout_s seconds (then kills it); true when it
// exited by itself with status 0. *usage receives its resource usage.
bool wait_child(pid_t pid, int timeout_s, rusage* usage, int* status);

} // namespace bench

#endif
