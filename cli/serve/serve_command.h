// vuxoint serve [--db FILE] [--port N] [--open] [--listen ADDR] [--auto-sync]: the
// meter and the database in a browser, through a local web server.
#ifndef VUXOCLI_SERVE_COMMAND_H
#define VUXOCLI_SERVE_COMMAND_H

#include <string>

namespace CLI {
class App;
}

namespace vuxocli {

struct ServeOptions {
    std::string db = "vuxoint.db";
    int port = 0;
    bool open = false;
    std::string listen = "127.0.0.1";
    bool auto_sync = false;
};

CLI::App* add_serve_command(CLI::App& app, ServeOptions* opt);
int run_serve(const ServeOptions& opt);

} // namespace vuxocli

#endif
