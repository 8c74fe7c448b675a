// vuxoint-test stopped by a signal while it waits for a new record on a serial
// port (the simulator's pseudo-terminal): the connection is closed, so the port is
// left without its exclusive flag, and everything printed so far arrives.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "child.h"

namespace {

constexpr auto kLimit = std::chrono::seconds(60);

class ConsoleStop : public ::testing::TestWithParam<int> {};

TEST_P(ConsoleStop, ClosesThePortAndFlushes) {
    const int sig = GetParam();
    // No measurement is ever stored, so the program waits until it is stopped.
    child::Process sim(
        {VUXOTEST_SIM_BIN, "--v1", "--pty", "--data", "basic", "--measure-after-idle", "0"});
    const std::string& first = sim.read_until("\n", kLimit);
    ASSERT_TRUE(first.starts_with("pty /dev/")) << first;
    const std::string path = first.substr(4, first.find('\n') - 4);

    child::Process console({VUXOTEST_CONSOLE_BIN, "--serial", path});
    const std::string waiting = "\n\nWaiting for new record...\n";
    ASSERT_NE(console.read_until(waiting, kLimit).find(waiting), std::string::npos)
        << console.out();

    const int status = console.stop_with(sig);
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), sig);
    EXPECT_TRUE(console.out().ends_with(waiting)) << console.out();
    EXPECT_NE(console.out().find("Device: VUXO V1\n"), std::string::npos) << console.out();

    // As root the flag would not keep this open out, so ask for the flag itself.
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0) << path;
    int exclusive = -1;
    EXPECT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << "the port kept its exclusive flag";
    close(fd);
}

INSTANTIATE_TEST_SUITE_P(Signals, ConsoleStop, ::testing::Values(SIGINT, SIGTERM),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

} // namespace
