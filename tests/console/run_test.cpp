// vuxoint-test end to end: the program against the simulated instrument over TCP,
// its whole standard output compared with golden files, and its exit statuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

#include "child.h"

namespace {

constexpr auto kRunLimit = std::chrono::seconds(90);

// The simulator's port and with it the transport's connection string change from run
// to run; the instrument's clock is fixed by the simulator's --clock.
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

// VUXOTEST_CONSOLE, when set, runs another build of the program instead (the
// Windows one under Wine, through a wrapper), against the same golden files.
std::string console_bin() {
    const char* other = std::getenv("VUXOTEST_CONSOLE");
    return other != nullptr && other[0] != '\0' ? other : VUXOTEST_CONSOLE_BIN;
}

child::Result run_console(const std::vector<std::string>& args,
                          const std::vector<std::string>& env = {}) {
    std::vector<std::string> argv = {console_bin()};
    argv.insert(argv.end(), args.begin(), args.end());
    child::Options opt;
    opt.env = env;
    opt.limit = kRunLimit;
    return child::run(argv, opt);
}

struct Run_case {
    const char* name; // also the golden file's name
    std::vector<std::string> sim_args;
};

void PrintTo(const Run_case& c, std::ostream* os) {
    *os << c.name;
}

// Date:2026/12/6 and Time:9:05:07.
const std::vector<std::string> kClock = {"--clock", "6/12/2026-9:5:7"};

child::Result run_against_sim(const std::vector<std::string>& sim_args) {
    std::vector<std::string> args = kClock;
    args.insert(args.end(), sim_args.begin(), sim_args.end());
    child::Simulator sim(VUXOTEST_SIM_BIN, args);
    if (sim.port() == 0) {
        ADD_FAILURE() << "the simulator reported no port";
        return {};
    }
    child::Result r = run_console({"--net", "127.0.0.1:" + std::to_string(sim.port())});
    sim.stop();
    return r;
}

class ConsoleRun : public ::testing::TestWithParam<Run_case> {};

TEST_P(ConsoleRun, OutputMatchesGolden) {
    const Run_case& c = GetParam();
    const child::Result r = run_against_sim(c.sim_args);
    ASSERT_FALSE(r.timed_out) << r.out;
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "");
    expect_golden(c.name, normalise(r.out));
}

// Command numbers the faults name: 8001 firmware version, 8002 clock, 8007 serial
// number, 8201 parameters, 8204 entry-list page, 8205 V1 log entry, 8211 file chunk.
// A download that stops early still leaves the host idle after reading log data, so
// the simulator stores a new measurement; where nothing was read, --measure-every
// provides it. A fault that holds for later requests fails the final fetch too.
const Run_case kRuns[] = {
    {"v1_basic", {"--v1", "--data", "basic"}},
    {"v2_basic", {"--v2", "--data", "basic"}},
    {"v1_edge", {"--v1", "--data", "edge"}},
    {"v2_edge", {"--v2", "--data", "edge"}},
    {"v1_empty", {"--v1", "--data", "empty"}},
    {"v2_empty", {"--v2", "--data", "empty"}},
    {"v1_identity_failures",
     {"--v1", "--data", "empty", "--fail", "8001", "--fail", "8002", "--fail", "8007:2"}},
    {"v1_params_failure", {"--v1", "--fail", "8201", "--measure-every", "5"}},
    {"v2_params_failure", {"--v2", "--fail", "8201", "--measure-every", "5"}},
    {"v1_page_failure", {"--v1", "--data", "edge", "--fail", "8204:2"}},
    {"v2_page_failure", {"--v2", "--data", "edge", "--fail", "8204:3"}},
    {"v1_record_failure", {"--v1", "--data", "basic", "--fail", "8205:3"}},
    {"v2_chunk_failure", {"--v2", "--data", "basic", "--fail", "8211:12"}},
    {"v2_empty_chunk", {"--v2", "--data", "basic", "--empty-chunk-from", "15"}},
};

INSTANTIATE_TEST_SUITE_P(Sim, ConsoleRun, ::testing::ValuesIn(kRuns),
                         [](const auto& info) { return std::string(info.param.name); });

// New measurements stored while the log is read (each answer delayed, one stored every
// 1.5 s) change nothing in the download, and the run still ends with one new record.
TEST(ConsoleEvents, MeasurementsDuringTheDownload) {
    const child::Result r =
        run_against_sim({"--v2", "--data", "basic", "--latency", "80", "--measure-every", "1.5"});
    ASSERT_FALSE(r.timed_out) << r.out;
    EXPECT_EQ(r.exit_status, 0);
    const std::string out = normalise(r.out);
    const std::string waiting = "\n\nWaiting for new record...\n";
    const std::size_t at = out.find(waiting);
    ASSERT_NE(at, std::string::npos) << out;
    const std::string golden =
        read_file(std::filesystem::path(VUXOTEST_GOLDEN_DIR) / "v2_basic.txt");
    EXPECT_EQ(out.substr(0, at + waiting.size()),
              golden.substr(0, golden.find(waiting) + waiting.size()));
    const std::string rest = out.substr(at + waiting.size());
    // One single measurement line, then the end.
    EXPECT_EQ(std::count(rest.begin(), rest.end(), '\n'), 4) << rest;
    EXPECT_NE(rest.find("Type=1,"), std::string::npos) << rest;
    EXPECT_TRUE(rest.ends_with("\n\nDevice disconnected.\n")) << rest;
}

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

// A fake sysfs tree: each tty's device link leads into a USB device directory.
void add_usb_tty(const std::filesystem::path& root, const std::string& tty, const char* vendor,
                 const char* product) {
    namespace fs = std::filesystem;
    const fs::path usb = root / "devices" / ("usb-" + tty);
    const fs::path interface = usb / "1-1:1.0" / tty;
    fs::create_directories(interface);
    std::ofstream(usb / "idVendor") << vendor << "\n";
    std::ofstream(usb / "idProduct") << product << "\n";
    std::ofstream(usb / "serial") << "S" << tty << "\n";
    fs::create_directories(root / "class" / "tty" / tty);
    fs::create_directory_symlink(interface, root / "class" / "tty" / tty / "device");
}

// Three instruments and a foreign device: the three are listed in the transport's
// order and the first is used; its port does not exist, so the connection fails.
TEST(ConsoleExit, UsbInstrumentsListedAndFirstUsed) {
    const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("vuxotest-usb-" + std::to_string(getpid()));
    add_usb_tty(root, "ttyUSB99", "1781", "c44");
    add_usb_tty(root, "ttyACM98", "1781", "c44");
    add_usb_tty(root, "ttyUSB97", "1781", "c45");
    add_usb_tty(root, "ttyUSB96", "0403", "6001");
    const child::Result r = run_console({}, {"VUXO_SYSFS_ROOT=" + root.string()});
    std::filesystem::remove_all(root);
    ASSERT_FALSE(r.timed_out);
    // Which of the USB prefixes a product gets is the transport's business.
    std::string out = r.out;
    for (std::size_t at = out.find("USB"); at != std::string::npos; at = out.find("USB", at + 1)) {
        if (at + 4 < out.size() && out[at + 4] == ':') {
            out[at + 3] = '?';
        }
    }
    EXPECT_EQ(out, "Found devices:\n"
                   "   USB?:/dev/ttyACM98/c44\n"
                   "   USB?:/dev/ttyUSB97/c45\n"
                   "   USB?:/dev/ttyUSB99/c44\n"
                   "Connecting to USB...\n"
                   "Device connection error!\n");
    EXPECT_EQ(r.exit_status, 0);
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
    const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                       getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
    close(fd);
    return bound ? ntohs(addr.sin_port) : 1; // port 1 is closed as well
}

// Each link announces itself, prints its connection string on a line of its own and
// then connects; none of these instruments exists, so each connection fails.
TEST(ConsoleExit, OtherLinksAnnounceThemselves) {
    struct Link {
        std::vector<std::string> args;
        const char* announced;
    };
    const Link links[] = {
        {{"00:11:22:33:44:55", "ignored"}, "Connecting to Bluetooth (00:11:22:33:44:55)...\n"},
        {{"--serial", "/dev/vuxotest-no-such-tty"},
         "Connecting to serial port (/dev/vuxotest-no-such-tty)...\n"},
    };
    for (const Link& link : links) {
        const child::Result r = run_console(link.args);
        ASSERT_FALSE(r.timed_out);
        EXPECT_EQ(r.exit_status, 0);
        ASSERT_TRUE(r.out.starts_with(link.announced)) << r.out;
        const std::string rest = r.out.substr(std::strlen(link.announced));
        const std::size_t eol = rest.find('\n');
        ASSERT_NE(eol, std::string::npos) << r.out;
        EXPECT_GT(eol, 0u) << "empty connection string";
        EXPECT_EQ(rest.substr(eol + 1), "Device connection error!\n");
    }
}

TEST(ConsoleExit, FailedConnectionEndsWithZero) {
    const child::Result r = run_console({"--net", "127.0.0.1:" + std::to_string(closed_port())});
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(normalise(r.out), "Connecting to network (<address>)...\n<connection string>\n"
                                "Device connection error!\n");
    EXPECT_EQ(r.exit_status, 0);
}

} // namespace
