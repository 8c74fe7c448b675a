// Runs the vuxoint program as a child process for the end-to-end tests: to its
// end under a deadline, or started and left running so the test can kill it.
#ifndef VUXOCLI_TEST_TOOL_RUN_H
#define VUXOCLI_TEST_TOOL_RUN_H

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace tool {

struct Result {
    std::string out;
    std::string err;
    int exit_status = -1; // -1 unless it exited on its own
};

struct Options {
    std::string dir;        // working directory ("" keeps the test's)
    bool as_nobody = false; // drop root to uid/gid 65534 first (no effect unless root)
    // Standard input and standard error on a pseudo-terminal instead, with `typed`
    // typed into it; Result.err is then what the terminal showed (echo included).
    bool terminal = false;
    std::string typed;
    std::chrono::seconds limit{60};
};

// argv[0] is the program; runs it to the end.
Result run(const std::vector<std::string>& argv, const Options& opt = {});

// Started, output to /dev/null; the caller kills and reaps it with finish().
pid_t start(const std::vector<std::string>& argv, const Options& opt = {});
// Sends signo (0: none) and reaps: the exit status, or -signal when it was killed.
int finish(pid_t pid, int signo);

} // namespace tool

#endif
