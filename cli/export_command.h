// vuxoint export [--db FILE] [--format csv|json|ndjson] [--instrument SERIAL]
// [--since DATE] [--scans] [-o FILE]: the stored measurements for analysis.
#ifndef VUXOCLI_EXPORT_COMMAND_H
#define VUXOCLI_EXPORT_COMMAND_H

#include <memory>
#include <string>

namespace CLI {
class App;
}

namespace vuxocli {

struct ExportOptions {
    std::string db = "vuxoint.db";
    std::string format = "csv";
    std::string instrument;
    std::string since;
    bool scans = false;
    std::string output; // empty: standard output
};

CLI::App* add_export_command(CLI::App& app, ExportOptions* opt);
int run_export(const ExportOptions& opt);

// True for YYYY-MM-DD, optionally followed by THH:MM or THH:MM:SS.
bool valid_since(const std::string& text);

class Store;
// What export and report check before they read: --since well formed, the
// database there and readable. 0 with *store open, else the exit status, with
// the reason on standard error.
int open_for_reading(const std::string& db, const std::string& since,
                     std::unique_ptr<Store>* store);

} // namespace vuxocli

#endif
