// vuxoint-sim: the simulated instrument as a program, for hosts in other processes.
#include <cstdio>
#include <string>
#include <vector>

#include "program_io.h"
#include "sim_describe.h"
#include "sim_options.h"
#include "simulator.h"
#include "stop_request.h"

int main(int argc, char** argv) {
    vuxo::set_binary_stdout();
    using namespace vuxo::sim;
    Config cfg;
    std::string message;
    const std::vector<std::string> args(argv + 1, argv + argc);
    switch (parse_options(args, &cfg, &message)) {
    case ParseResult::help:
        std::fputs(usage_text(), stdout);
        return 0;
    case ParseResult::version:
        std::printf("vuxoint-sim %s\n", VUXO_VERSION);
        return 0;
    case ParseResult::error:
        std::fprintf(stderr, "vuxoint-sim: %s\n%s", message.c_str(), usage_text());
        return 2;
    case ParseResult::describe:
        std::fputs(describe_data_set(cfg.data).c_str(), stdout);
        return 0;
    case ParseResult::run:
        break;
    }

    // Before the serving thread starts, so that it never takes a stop request itself.
    hold_stop_requests();

    Simulator sim(cfg);
    if (!sim.start(&message)) {
        std::fprintf(stderr, "vuxoint-sim: %s\n", message.c_str());
        return 1;
    }
    if (cfg.link == LinkKind::tcp) {
        std::printf("port %u\n", static_cast<unsigned>(sim.port()));
    } else {
        std::printf("pty %s\n", sim.pty_path().c_str());
    }
    std::fflush(stdout);

    wait_for_stop_request();
    sim.stop();
    return 0;
}
