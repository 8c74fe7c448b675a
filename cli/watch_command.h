// vuxoint watch CONN [--db FILE] [--count N] [--timeout S] [--json]: every new
// measurement as the instrument stores it, optionally kept in the database.
#ifndef VUXOCLI_WATCH_COMMAND_H
#define VUXOCLI_WATCH_COMMAND_H

#include <string>

namespace CLI {
class App;
}

namespace vuxocli {

struct WatchOptions {
    std::string conn;
    std::string db;     // empty: print only
    unsigned count = 0; // 0: no limit
    double timeout = 0; // seconds; 0: no limit
    bool json = false;
};

CLI::App* add_watch_command(CLI::App& app, WatchOptions* opt);
int run_watch(const WatchOptions& opt);

} // namespace vuxocli

#endif
