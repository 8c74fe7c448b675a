#include "serve_command.h"

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <thread>

#include "connect.h"
#include "exit_status.h"
#include "interrupts.h"
#include "open_browser.h"
#include "server.h"
#include "store.h"

namespace vuxocli {

namespace {

constexpr auto kPoll = std::chrono::milliseconds(200);

bool loopback(const std::string& listen) {
    return listen == "127.0.0.1" || listen == "localhost" || listen == "::1";
}

} // namespace

CLI::App* add_serve_command(CLI::App& app, ServeOptions* opt) {
    CLI::App* sub = app.add_subcommand(
        "serve", "Show the instruments and the database in a browser (a local web server)");
    sub->add_option("--db", opt->db, "The database file, created by the first sync")
        ->capture_default_str();
    sub->add_option("--port", opt->port, "The port to listen on (0: any free one)")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();
    sub->add_flag("--open", opt->open, "Open the address in the default browser");
    sub->add_option("--listen", opt->listen,
                    "Listen on this address instead of the loopback (a warning)")
        ->type_name("ADDR")
        ->capture_default_str();
    sub->add_flag("--auto-sync", opt->auto_sync,
                  "Sync an instrument the database knows as soon as it is plugged in");
    sub->footer("Prints the address to open, http://127.0.0.1:PORT/?token=TOKEN, and serves one\n"
                "page until Ctrl-C: the instruments (found on USB, refreshed as they are plugged\n"
                "in or out, or added by address), their info and clock, sync with its progress,\n"
                "clearing after a verified sync, the measurements with filters and each scan's\n"
                "chart, new measurements as they are taken (stored once, as watch --db does), the\n"
                "report and the export (the bytes vuxoint export writes).\n"
                "\n"
                "Security: it listens on 127.0.0.1 only unless --listen names another address.\n"
                "The token in the address is exchanged for a session cookie (HttpOnly,\n"
                "SameSite=Strict); a request without it gets 403. A Host header other than this\n"
                "server's address gets 403 (against DNS rebinding). Every request that changes\n"
                "something is a POST carrying the page's CSRF token, else 403. No request names\n"
                "a file: the database is --db, and exports go to the browser.\n");
    return sub;
}

int run_serve(const ServeOptions& opt) {
    std::string error;
    // Created now, so the page shows an empty database rather than none.
    if (!Store::open(opt.db, Store::Mode::write, &error)) {
        std::fprintf(stderr, "vuxoint: database %s: open: %s\n", opt.db.c_str(), error.c_str());
        return kExitDatabase;
    }
    Library library;
    if (!library.started()) {
        std::fprintf(stderr, "vuxoint: serve: start the transport: failed\n");
        return kExitNoInstrument;
    }
    serve::ServeConfig config;
    config.db = opt.db;
    config.port = opt.port;
    config.listen = opt.listen;
    config.auto_sync = opt.auto_sync;
    serve::Server server(config, serve::make_usb_watch(), serve::list_usb_instruments);
    if (!server.start(&error)) {
        std::fprintf(stderr, "vuxoint: serve: %s\n", error.c_str());
        return kExitUsage;
    }
    if (!loopback(opt.listen)) {
        std::fprintf(stderr,
                     "vuxoint: serve: warning: listening on %s: anyone who can reach this "
                     "address and learns the token can use the instruments and the database\n",
                     opt.listen.c_str());
    }
    std::printf("%s\n", server.address().c_str());
    std::fflush(stdout);
    if (opt.open && !serve::open_browser(server.address())) {
        std::fprintf(stderr, "vuxoint: serve: --open: no browser could be started\n");
    }
    catch_interrupts();
    while (interrupted() == 0) {
        std::this_thread::sleep_for(kPoll);
    }
    release_interrupts();
    server.stop();
    return kExitOk;
}

} // namespace vuxocli
