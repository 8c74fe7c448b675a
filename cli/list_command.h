// vuxoint list [--bt] [--json]: the instruments this computer can reach.
#ifndef VUXOCLI_LIST_COMMAND_H
#define VUXOCLI_LIST_COMMAND_H

namespace CLI {
class App;
}

namespace vuxocli {

struct ListOptions {
    bool bluetooth = false;
    bool json = false;
};

CLI::App* add_list_command(CLI::App& app, ListOptions* opt);
int run_list(const ListOptions& opt);

} // namespace vuxocli

#endif
