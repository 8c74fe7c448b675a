// -o of export and report pointed at what is not a plain file: a link keeps
// being a link and its target gets the bytes; a FIFO, a terminal and an open
// descriptor get them written through, and the node stays what it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "child.h"
#include "simulator.h"

namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// What arrives on a non-blocking fd until `done` and the writer are both through.
std::string drain(int fd, const std::atomic<bool>& done) {
    std::string got;
    char buf[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, 50);
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            got.append(buf, static_cast<std::size_t>(n));
        } else if (done.load()) {
            return got;
        } else {
            // A FIFO without a writer reads as ended at once: do not spin.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
}

class OutputTarget : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/vuxoint-out-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        db = (dir / "v.db").string();
        vuxo::sim::Config cfg;
        sim = std::make_unique<vuxo::sim::Simulator>(cfg);
        ASSERT_TRUE(sim->start());
        const child::Result r = child::run(
            {VUXOCLI_BIN, "sync", "tcp://127.0.0.1:" + std::to_string(sim->port()), "--db", db});
        ASSERT_EQ(r.exit_status, 0) << r.err;
        sim->stop();
        plain = child::run({VUXOCLI_BIN, "export", "--db", db}).out;
        ASSERT_FALSE(plain.empty());
    }
    void TearDown() override { fs::remove_all(dir); }

    child::Result export_to(const fs::path& out) {
        return child::run({VUXOCLI_BIN, "export", "--db", db, "-o", out.string()});
    }
    // The export while `read_fd` is drained, as a reader of a FIFO or a terminal would.
    std::string export_read_by(const fs::path& out, int read_fd, child::Result* r) {
        std::atomic<bool> done{false};
        std::thread run([&] {
            *r = export_to(out);
            done = true;
        });
        std::string got = drain(read_fd, done);
        run.join();
        return got;
    }

    fs::path dir;
    std::string db;
    std::string plain; // the export on standard output
    std::unique_ptr<vuxo::sim::Simulator> sim;
};

TEST_F(OutputTarget, LinksKeepBeingLinks) {
    fs::create_directory(dir / "sub");
    std::ofstream(dir / "sub" / "old.csv") << "an older export";
    struct Case {
        const char* name;
        fs::path link;
        fs::path target; // relative to the link's directory
    };
    const std::vector<Case> cases = {
        {"to a file", dir / "a.csv", "sub/old.csv"},
        {"to a missing name", dir / "b.csv", "sub/new.csv"},
        {"to a link to a file", dir / "c.csv", "a.csv"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::create_symlink(c.target, c.link);
        const child::Result r = export_to(c.link);
        ASSERT_EQ(r.exit_status, 0) << r.err;
        EXPECT_TRUE(fs::is_symlink(c.link));
        EXPECT_EQ(fs::read_symlink(c.link), c.target);
        EXPECT_EQ(read_file(c.link), plain);
    }
    EXPECT_EQ(read_file(dir / "sub" / "old.csv"), plain);
    EXPECT_EQ(read_file(dir / "sub" / "new.csv"), plain);
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        EXPECT_NE(e.path().extension(), ".part") << "left behind: " << e.path();
    }

    // The report writes through the same rule.
    fs::create_symlink("sub/report.html", dir / "report.html");
    const child::Result r =
        child::run({VUXOCLI_BIN, "report", "--db", db, "-o", (dir / "report.html").string()});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(dir / "report.html"));
    EXPECT_NE(read_file(dir / "sub" / "report.html").find("</html>"), std::string::npos);
}

TEST_F(OutputTarget, FifoIsWrittenThrough) {
    const fs::path fifo = dir / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int fd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    child::Result r;
    EXPECT_EQ(export_read_by(fifo, fd, &r), plain);
    close(fd);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST_F(OutputTarget, TerminalIsWrittenThrough) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const fs::path slave = ptsname(master);
    // Raw, so that the terminal hands on the CRLF lines unchanged; held open so
    // that the master does not read as hung up between writers.
    const int keep = open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(keep, 0);
    termios t{};
    tcgetattr(keep, &t);
    cfmakeraw(&t);
    tcsetattr(keep, TCSANOW, &t);
    fcntl(master, F_SETFL, O_NONBLOCK);
    child::Result r;
    EXPECT_EQ(export_read_by(slave, master, &r), plain);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_TRUE(fs::is_character_file(slave));
    close(keep);
    close(master);
}

// What /dev/stdout is: a link to the program's own open descriptor.
TEST_F(OutputTarget, LinkToAnOpenDescriptorIsWrittenThrough) {
    const fs::path out = dir / "stdout";
    fs::create_symlink("/proc/self/fd/1", out);
    const child::Result r = export_to(out);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out, plain);
    EXPECT_TRUE(fs::is_symlink(out));
}

} // namespace
