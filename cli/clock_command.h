// vuxoint clock CONN [--set-now | --set TIME] [--json]: the instrument's clock,
// read, or set and read back.
#ifndef VUXOCLI_CLOCK_COMMAND_H
#define VUXOCLI_CLOCK_COMMAND_H

#include <string>

namespace CLI {
class App;
}

namespace vuxocli {

struct ClockOptions {
    std::string conn;
    bool set_now = false;
    std::string set; // empty: not given
    bool json = false;
};

CLI::App* add_clock_command(CLI::App& app, ClockOptions* opt);
int run_clock(const ClockOptions& opt);

} // namespace vuxocli

#endif
