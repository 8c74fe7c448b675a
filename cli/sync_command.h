// vuxoint sync CONN [--db FILE] [--json] [--clear-after [--yes]]: every
// measurement on the instrument that the database does not hold yet, fetched and
// stored one by one; then, when asked, the instrument's log cleared.
#ifndef VUXOCLI_SYNC_COMMAND_H
#define VUXOCLI_SYNC_COMMAND_H

#include <string>

namespace CLI {
class App;
}

namespace vuxocli {

struct SyncOptions {
    std::string conn;
    std::string db = "vuxoint.db";
    bool json = false;
    int reconnects = 2;       // a lost link is opened again this often
    int retries = 1;          // further passes over records that failed
    bool clear_after = false; // clear the instrument's log once all of it is held
    bool yes = false;         // clear without asking
};

// Adds the subcommand to app; *opt receives its values.
CLI::App* add_sync_command(CLI::App& app, SyncOptions* opt);
// Runs it; the result is the exit status.
int run_sync(const SyncOptions& opt);

} // namespace vuxocli

#endif
