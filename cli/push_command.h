// vuxoint push --from FILE --to URI: every measurement of a local database that
// the shared one does not hold yet, copied instrument by instrument.
#ifndef VUXOCLI_PUSH_COMMAND_H
#define VUXOCLI_PUSH_COMMAND_H

#include <string>

namespace CLI {
class App;
}

namespace vuxocli {

struct PushOptions {
    std::string from; // the database file synced in the field
    std::string to;   // postgresql://... (or another file)
};

CLI::App* add_push_command(CLI::App& app, PushOptions* opt);
int run_push(const PushOptions& opt);

} // namespace vuxocli

#endif
