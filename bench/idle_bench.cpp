// Idle cost: CPU time of this process (every thread, getrusage) over 10 s with
// one identified, idle connection. The simulator runs as a child process so
// that only the library's and the transport's work is counted.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "child.h"
#include "report.h"
#include "vuxoint.h"

namespace {

constexpr auto kIdle = std::chrono::seconds(10);

double seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double cpu_seconds(const rusage& u) {
    return seconds(u.ru_utime) + seconds(u.ru_stime);
}

} // namespace

int main() {
    child::Simulator sim(VUXO_SIM_EXE, {"--v2"}, child::quiet());
    if (sim.port() == 0 || vuxo_library_init() != 0) {
        std::fprintf(stderr, "the simulator or the transport did not start\n");
        return 1;
    }
    char conn[VUXO_CONN_STRING_SIZE];
    vuxo_make_net_conn_string(conn, "127.0.0.1", sim.port());
    int id = -1;
    if (vuxo_connect(conn, &id, 5000, nullptr, nullptr, nullptr, nullptr, nullptr) != 0) {
        std::fprintf(stderr, "the simulator was not identified\n");
        return 1;
    }

    rusage before{};
    rusage after{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(kIdle);
    getrusage(RUSAGE_SELF, &after);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = cpu_seconds(after) - cpu_seconds(before);
    const double share = cpu / wall; // of one core

    std::printf("idle %.2f s: user %.6f s, system %.6f s, voluntary switches %ld, "
                "involuntary %ld\n",
                wall, seconds(after.ru_utime) - seconds(before.ru_utime),
                seconds(after.ru_stime) - seconds(before.ru_stime),
                after.ru_nvcsw - before.ru_nvcsw, after.ru_nivcsw - before.ru_nivcsw);
    bench::row("idle CPU, 1 identified conn", bench::fmt("%.2f ms CPU", cpu * 1000),
               bench::fmt("wall %.1f s", wall), bench::fmt("%.4f %%", share * 100),
               "<= 0.1 % of a core", bench::at_most(share, 0.001));

    vuxo_disconnect(id);
    vuxo_library_shut();
    return 0;
}
