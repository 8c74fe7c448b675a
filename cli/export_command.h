// vuxoint export [--db FILE] [--format csv|json|ndjson] [--instrument SERIAL]
// [--since DATE] [--until DATE] [--scans] [-o FILE]: the stored measurements for analysis.
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
    std::string until;
    bool si = false;
    std::string order = "time";
    bool scans = false;
    std::string output; // empty or "-": standard output
};

CLI::App* add_export_command(CLI::App& app, ExportOptions* opt);
int run_export(const ExportOptions& opt);

class Store;
// What export and report check before they read: the database there and
// readable. 0 with *store open, else the exit status, with the reason on
// standard error; an --instrument the database does not know is said on
// standard error too, and is not an error.
int open_for_reading(const std::string& db, const std::string& instrument,
                     std::unique_ptr<Store>* store);

} // namespace vuxocli

#endif
