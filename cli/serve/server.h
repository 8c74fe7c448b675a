// The local web server of `vuxoint serve`: routes over the record layer and the
// tool's own functions, the instruments' workers, the USB watch, and the rules
// of auth.h in front of every route.
#ifndef VUXOCLI_SERVE_SERVER_H
#define VUXOCLI_SERVE_SERVER_H

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "auth.h"
#include "events.h"
#include "instruments.h"
#include "usb_watch.h"

namespace httplib {
class Server;
}

namespace vuxocli::serve {

struct ServeConfig {
    std::string db = "vuxoint.db";
    std::string listen = "127.0.0.1";
    int port = 0; // 0: any free port
    bool auto_sync = false;
};

// What the routes share.
struct ServeState {
    ServeConfig config;
    Secrets secrets;
    std::vector<std::string> hosts;
    EventHub hub;
    ServeContext context;
    std::unique_ptr<Instruments> instruments;
};

class Server {
  public:
    Server(ServeConfig config, std::unique_ptr<UsbWatch> watch, UsbListing listing);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds and serves on threads of its own. False with the reason.
    bool start(std::string* error);
    int port() const { return port_; }
    // http://127.0.0.1:PORT/?token=...
    std::string address() const;
    void stop();

  private:
    void watch_usb();

    ServeState state_;
    std::unique_ptr<httplib::Server> http_;
    std::unique_ptr<UsbWatch> watch_;
    UsbListing listing_;
    int port_ = 0;
    std::thread serving_;
    std::thread watching_;
    std::atomic<bool> stopped_{false};
};

// Registers every route on http (routes_*.cpp).
void add_instrument_routes(httplib::Server& http, ServeState& state);
void add_record_routes(httplib::Server& http, ServeState& state);
void add_page_routes(httplib::Server& http, ServeState& state);

} // namespace vuxocli::serve

#endif
