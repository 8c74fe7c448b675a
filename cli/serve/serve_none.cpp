// vuxoint serve in a build without an HTTP server library (the Windows build:
// Debian's cpp-httplib is a Linux shared library). The subcommand still exists, so
// that it answers with the reason instead of "unknown subcommand".
#include <cstdio>

#include <CLI/CLI.hpp>

#include "exit_status.h"
#include "serve_command.h"

namespace vuxocli {

CLI::App* add_serve_command(CLI::App& app, ServeOptions*) {
    CLI::App* sub = app.add_subcommand("serve", "Not available in this build");
    sub->allow_extras();
    return sub;
}

int run_serve(const ServeOptions&) {
    std::fputs("vuxoint serve is not available in this build\n", stderr);
    return kExitUsage;
}

} // namespace vuxocli
