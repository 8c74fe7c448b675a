// vuxoint-test end to end: the program against the simulated instrument over TCP,
// its whole standard output compared with golden files, and its exit statuses.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

#include "child_process.h"

namespace {

constexpr auto kRunLimit = std::chrono::seconds(90);

// The lines that carry the simulator's port, the transport's connection string and
// the simulator's clock change from run to run.
std::string normalise(const std::string& text) {
    std::istringstream in(text);
    std::string out;
    std::string line;
    bool conn_string_next = false;
    while (std::getline(in, line)) {
        if (conn_string_next) {
            line = "<connection string>";
            conn_string_next = false;
        } else if (line.starts_with("Connecting to network (")) {
            line = "Connecting to network (<address>)...";
            conn_string_next = true;
        } else if (line.starts_with("Date:")) {
            line = "Date:<clock>";
        } else if (line.starts_with("Time:")) {
            line = "Time:<clock>";
        }
        out += line + (in.eof() ? "" : "\n");
    }
    return out;
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void expect_golden(const std::string& name, const std::string& actual) {
    const std::filesystem::path path = std::filesystem::path(VUXOTEST_GOLDEN_DIR) / (name + ".txt");
    if (std::getenv("VUXO_UPDATE_GOLDEN") != nullptr) {
        std::ofstream(path, std::ios::binary) << actual;
        return;
    }
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
    EXPECT_EQ(actual, read_file(path)) << "golden file " << path;
}

child::Result run_console(const std::vector<std::string>& args,
                          const std::vector<std::string>& env = {}) {
    std::vector<std::string> argv = {VUXOTEST_CONSOLE_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return child::run(argv, env, kRunLimit);
}

struct Run_case {
    const char* name; // also the golden file's name
    std::vector<std::string> sim_args;
};

void PrintTo(const Run_case& c, std::ostream* os) {
    *os << c.name;
}

class ConsoleRun : public ::testing::TestWithParam<Run_case> {};

TEST_P(ConsoleRun, OutputMatchesGolden) {
    const Run_case& c = GetParam();
    child::Simulator sim(VUXOTEST_SIM_BIN, c.sim_args);
    ASSERT_NE(sim.port(), 0) << "the simulator reported no port";
    const child::Result r = run_console({"--net", "127.0.0.1:" + std::to_string(sim.port())});
    sim.stop();
    ASSERT_FALSE(r.timed_out) << r.out;
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "");
    expect_golden(c.name, normalise(r.out));
}

const Run_case kRuns[] = {
    {"v1_basic", {"--v1", "--data", "basic"}}, {"v2_basic", {"--v2", "--data", "basic"}},
    {"v1_edge", {"--v1", "--data", "edge"}},   {"v2_edge", {"--v2", "--data", "edge"}},
    {"v1_empty", {"--v1", "--data", "empty"}}, {"v2_empty", {"--v2", "--data", "empty"}},
};

INSTANTIATE_TEST_SUITE_P(Sim, ConsoleRun, ::testing::ValuesIn(kRuns),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ConsoleExit, NoUsbInstrumentEndsWith255) {
    const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("vuxotest-sysfs-" + std::to_string(getpid()));
    std::filesystem::create_directories(root);
    const child::Result r = run_console({}, {"VUXO_SYSFS_ROOT=" + root.string()});
    std::filesystem::remove_all(root);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.out, "No device found!\n");
    EXPECT_EQ(r.exit_status, 255);
}

TEST(ConsoleExit, HelpAndBadOptions) {
    const child::Result help = run_console({"--help"});
    EXPECT_EQ(help.exit_status, 0);
    EXPECT_TRUE(help.out.starts_with("Usage: ")) << help.out;
    EXPECT_EQ(help.err, "");

    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--bogus"}, {"--net"}, {"--net", "127.0.0.1"}, {"--serial"}}) {
        const child::Result bad = run_console(args);
        EXPECT_EQ(bad.exit_status, 2) << args[0];
        EXPECT_EQ(bad.out, "") << args[0];
        EXPECT_TRUE(bad.err.starts_with("Usage: ")) << bad.err;
    }
}

// A port nobody listens on: bound, then released.
int closed_port() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

TEST(ConsoleExit, FailedConnectionEndsWithZero) {
    const child::Result r = run_console({"--net", "127.0.0.1:" + std::to_string(closed_port())});
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(normalise(r.out), "Connecting to network (<address>)...\n<connection string>\n"
                                "Device connection error!\n");
    EXPECT_EQ(r.exit_status, 0);
}

} // namespace
