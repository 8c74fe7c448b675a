// Memory: the peak RSS of vuxoint-test running a whole V2 session against the
// simulator (both as child processes), and the heap bytes that one open,
// identified connection costs (32 connections, mallinfo2 before and after).
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "child.h"
#include "report.h"
#include "vuxoint.h"

namespace {

constexpr int kConnections = 32;
constexpr auto kSessionLimit = std::chrono::seconds(120);

void session_rss() {
    // A log of 300 entries, as the download benchmark reads.
    child::Simulator sim(VUXO_SIM_EXE, {"--v2", "--data", "big", "--entries", "300"},
                         child::quiet());
    if (sim.port() == 0) {
        bench::row("peak RSS vuxoint-test, V2 session", "sim did not start", "-", "-", "<= 16 MB",
                   bench::Verdict::missed);
        return;
    }
    const pid_t pid =
        child::start({VUXO_TEST_EXE, "--net", "127.0.0.1:" + std::to_string(sim.port())});
    rusage usage{};
    const auto start = std::chrono::steady_clock::now();
    const int status = pid > 0 ? child::wait_for(pid, kSessionLimit, &usage) : -1;
    const bool ok = status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double mb = static_cast<double>(usage.ru_maxrss) / 1024.0; // ru_maxrss is in KB
    std::printf("vuxoint-test session: exit status 0x%x, %.1f s, peak RSS %ld KB\n", status, wall,
                usage.ru_maxrss);
    bench::row("peak RSS vuxoint-test, V2 session",
               ok ? bench::fmt("%.1f MB", mb) : "session failed", "limit 16 MB",
               bench::fmt("%.2f", mb / 16.0), "<= 16 MB",
               ok ? bench::at_most(mb, 16.0) : bench::Verdict::missed);
}

std::size_t heap_bytes() {
    const struct mallinfo2 m = mallinfo2();
    // Chunks in use plus the large ones malloc maps directly.
    return m.uordblks + m.hblkhd;
}

long rss_kb() {
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE) / 1024;
}

void per_connection_heap() {
    std::vector<std::unique_ptr<child::Simulator>> sims;
    for (int i = 0; i < kConnections; ++i) {
        sims.push_back(std::make_unique<child::Simulator>(
            VUXO_SIM_EXE, std::vector<std::string>{"--v2"}, child::quiet()));
    }
    std::vector<std::string> conns;
    for (const auto& s : sims) {
        char conn[VUXO_CONN_STRING_SIZE];
        vuxo_make_net_conn_string(conn, "127.0.0.1", s->port());
        conns.emplace_back(conn);
    }
    std::vector<int> ids;
    ids.reserve(kConnections);
    const std::size_t heap_before = heap_bytes();
    const long rss_before = rss_kb();
    for (const std::string& conn : conns) {
        int id = -1;
        if (vuxo_connect(conn.c_str(), &id, 5000, nullptr, nullptr, nullptr, nullptr, nullptr) ==
            0) {
            ids.push_back(id);
        }
    }
    const std::size_t heap_after = heap_bytes();
    const long rss_after = rss_kb();
    const int n = static_cast<int>(ids.size());
    for (int id : ids) {
        vuxo_disconnect(id);
    }
    if (heap_after <= heap_before) {
        // A sanitizer's allocator, for one, keeps no statistics mallinfo2 can see.
        bench::row("heap per open connection", "no malloc statistics", "-", "-", "<= 256 KB",
                   bench::Verdict::none);
        return;
    }
    if (n != kConnections) {
        bench::row("heap per open connection", "connections failed", "-", "-", "<= 256 KB",
                   bench::Verdict::missed);
        return;
    }
    const double kb = static_cast<double>(heap_after - heap_before) / n / 1024.0;
    std::printf("%d connections: heap +%zu bytes, RSS +%ld KB (%.1f KB each, thread stacks "
                "included)\n",
                n, heap_after - heap_before, rss_after - rss_before,
                static_cast<double>(rss_after - rss_before) / n);
    bench::row("heap per open connection", bench::fmt("%.1f KB", kb), "limit 256 KB",
               bench::fmt("%.2f", kb / 256.0), "<= 256 KB", bench::at_most(kb, 256.0));
}

} // namespace

int main() {
    session_rss();
    if (vuxo_library_init() != 0) {
        std::fprintf(stderr, "the transport did not start\n");
        return 1;
    }
    per_connection_heap();
    vuxo_library_shut();
    return 0;
}
