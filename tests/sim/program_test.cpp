// The vuxoint-sim program: its command line, its first line of output, serving over TCP and
// a pty, and its end on SIGTERM.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "raw_client.h"
#include "sim_options.h"

using namespace simtest;
using namespace vuxo::sim;

namespace {

// The program running with stdout on a pipe; killed if a test leaves it running.
class Program {
  public:
    explicit Program(std::vector<std::string> args) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        args.insert(args.begin(), VUXO_SIM_PROGRAM);
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, VUXO_SIM_PROGRAM, &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        out_ = fds[0];
    }
    ~Program() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) {
            ::close(out_);
        }
    }

    // The first line of stdout, read within a bounded time.
    std::string first_line() {
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) {
                continue;
            }
            char c = 0;
            if (::read(out_, &c, 1) != 1) {
                break;
            }
            if (c == '\n') {
                return line;
            }
            line += c;
        }
        return line;
    }

    // Sends the signal and returns the exit status, or -1 if it did not end in time.
    int stop(int sig) {
        ::kill(pid_, sig);
        for (int i = 0; i < 500; ++i) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }

    bool running() const { return pid_ > 0; }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
};

} // namespace

TEST(SimProgram, TcpPortLineServesAndEndsOnSigterm) {
    Program p({"--v2", "--port", "0"});
    ASSERT_TRUE(p.running());
    const std::string line = p.first_line();
    ASSERT_EQ(line.rfind("port ", 0), 0u) << line;
    const int port = std::stoi(line.substr(5));
    ASSERT_GT(port, 0);
    RawClient host;
    ASSERT_TRUE(host.connect_tcp(static_cast<uint16_t>(port)));
    const auto a = host.ask(8007);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->payload[0], 'A');
    EXPECT_EQ(p.stop(SIGTERM), 0);
}

TEST(SimProgram, PtyLineServesAndEndsOnSigint) {
    Program p({"--v1", "--pty", "--data", "empty"});
    const std::string line = p.first_line();
    ASSERT_EQ(line.rfind("pty ", 0), 0u) << line;
    RawClient host;
    ASSERT_TRUE(host.open_pty(line.substr(4)));
    const auto a = host.ask(8201);
    ASSERT_TRUE(a);
    ASSERT_EQ(a->payload.size(), 4096u);
    EXPECT_EQ(a->payload[88], 0);
    EXPECT_EQ(p.stop(SIGINT), 0);
}

TEST(SimProgram, HelpAndBadOptions) {
    Program help({"--help"});
    EXPECT_EQ(help.first_line().rfind("Usage: vuxoint-sim", 0), 0u);
    EXPECT_EQ(help.stop(0), 0);
    Program bad({"--no-such-option"});
    EXPECT_EQ(bad.stop(0), 2);
}

TEST(SimOptions, ParsesEveryOption) {
    Config c;
    std::string msg;
    const std::vector<std::string> args = {"--v1",
                                           "--port=5555",
                                           "--data",
                                           "edge",
                                           "--seed",
                                           "9",
                                           "--entries",
                                           "300",
                                           "--clock",
                                           "6/12/2026-9:05:07",
                                           "--measure-after-idle",
                                           "0",
                                           "--measure-every",
                                           "2.5",
                                           "--resend-first",
                                           "8201",
                                           "--error-first",
                                           "8204",
                                           "--fail",
                                           "8205:3",
                                           "--fail",
                                           "8001",
                                           "--empty-chunk-from",
                                           "4",
                                           "--drop",
                                           "2",
                                           "--corrupt-header",
                                           "1",
                                           "--corrupt-body",
                                           "3",
                                           "--byte-by-byte",
                                           "--garbage",
                                           "--latency",
                                           "15",
                                           "--baud",
                                           "9600",
                                           "--silent",
                                           "--hangup-after",
                                           "7",
                                           "--chaos",
                                           "11:0.25",
                                           "--small-reads",
                                           "fail",
                                           "--log",
                                           "/tmp/x.log",
                                           "--serial",
                                           "5\\xe9\\\\00012"};
    ASSERT_EQ(parse_options(args, &c, &msg), ParseResult::run) << msg;
    EXPECT_EQ(c.data.gen, Generation::v1);
    EXPECT_EQ(c.port, 5555);
    EXPECT_EQ(c.data.set, DataSet::edge);
    EXPECT_EQ(c.data.seed, 9u);
    EXPECT_EQ(c.data.entries, 300);
    EXPECT_EQ(c.clock, (ClockRecord{6, 12, 2026, 9, 5, 7}));
    EXPECT_EQ(c.measure_after_idle, 0.0);
    EXPECT_EQ(c.measure_every, 2.5);
    const Faults& f = c.faults;
    EXPECT_EQ(f.resend_first, std::set<uint16_t>{8201});
    EXPECT_EQ(f.error_first, std::set<uint16_t>{8204});
    EXPECT_EQ(f.fail_from, (std::map<uint16_t, uint32_t>{{8205, 3}, {8001, 1}}));
    EXPECT_EQ(f.empty_chunk_from, 4u);
    EXPECT_EQ(f.drop_next, 2u);
    EXPECT_EQ(f.corrupt_header_next, 1u);
    EXPECT_EQ(f.corrupt_body_next, 3u);
    EXPECT_TRUE(f.byte_by_byte && f.garbage && f.silent && f.chaos);
    EXPECT_EQ(f.latency_ms, 15u);
    EXPECT_EQ(f.baud, 9600u);
    EXPECT_EQ(f.hangup_after, 7u);
    EXPECT_EQ(f.chaos_seed, 11u);
    EXPECT_EQ(f.chaos_rate, 0.25);
    EXPECT_EQ(f.large_reads, Faults::LargeReads::fail);
    EXPECT_EQ(c.log_path, "/tmp/x.log");
    EXPECT_EQ(c.data.serial, "5\351\\00012");
}

TEST(SimOptions, DefaultsAndRefusals) {
    Config c;
    std::string msg;
    ASSERT_EQ(parse_options({}, &c, &msg), ParseResult::run);
    EXPECT_EQ(c.data.gen, Generation::v2);
    EXPECT_EQ(c.link, LinkKind::tcp);
    EXPECT_EQ(c.measure_after_idle, 1.5);
    EXPECT_EQ(c.data.set, DataSet::basic);
    ASSERT_EQ(parse_options({"--empty-chunk"}, &c, &msg), ParseResult::run);
    EXPECT_EQ(c.faults.empty_chunk_from, 1u);
    ASSERT_EQ(parse_options({"--small-reads", "error"}, &c, &msg), ParseResult::run);
    EXPECT_EQ(c.faults.large_reads, Faults::LargeReads::error);
    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{"--port", "70000"},
                                               {"--data", "huge"},
                                               {"--v1", "--entries", "65537"},
                                               {"--entries", "128001"},
                                               {"--fail", "8205:0"},
                                               {"--clock", "yesterday"},
                                               {"--clock", "31/4/2026-9:5:7"},
                                               {"--clock", "29/2/2100-9:5:7"},
                                               {"--clock", "0/1/2026-9:5:7"},
                                               {"--clock", "1/13/2026-9:5:7"},
                                               {"--clock", "1/1/0-9:5:7"},
                                               {"--clock", "1/1/2026-24:0:0"},
                                               {"--clock", "1/1/2026-23:60:0"},
                                               {"--clock", "1/1/2026-23:59:60"},
                                               {"--clock", "1/1/2026--1:0:0"},
                                               {"--chaos", "1:2"},
                                               {"--latency"},
                                               {"--small-reads", "sometimes"},
                                               {"--serial", "A200045"},
                                               {"--v1", "--serial", "A2000456"},
                                               {"--bogus"}}) {
        Config d;
        EXPECT_EQ(parse_options(bad, &d, &msg), ParseResult::error) << bad[0];
    }
    for (const char* possible : {"29/2/2028-0:0:0", "31/12/9999-23:59:59", "29/2/2000-12:0:0"}) {
        Config d;
        EXPECT_EQ(parse_options({"--clock", possible}, &d, &msg), ParseResult::run) << possible;
    }
    Config h;
    EXPECT_EQ(parse_options({"--v2", "--help"}, &h, &msg), ParseResult::help);
    EXPECT_EQ(parse_options({"--version"}, &h, &msg), ParseResult::version);
}
