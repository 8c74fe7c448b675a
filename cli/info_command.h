// vuxoint info CONN [--json]: what the instrument is, how full its log is, and
// whether its clock agrees with this computer's.
#ifndef VUXOCLI_INFO_COMMAND_H
#define VUXOCLI_INFO_COMMAND_H

#include <string>

namespace CLI {
class App;
}

namespace vuxocli {

struct InfoOptions {
    std::string conn;
    bool json = false;
};

CLI::App* add_info_command(CLI::App& app, InfoOptions* opt);
int run_info(const InfoOptions& opt);

} // namespace vuxocli

#endif
