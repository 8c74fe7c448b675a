#include "server.h"

#include <httplib.h>

#include <atomic>
#include <chrono>

#include "instrument_jobs.h"

namespace vuxocli::serve {

namespace {

// Pages stream events and downloads, each holding a thread for as long: enough
// for several open pages and the requests beside them.
constexpr std::size_t kThreads = 32;
// A fresh listing this often without a watch that notices changes, and with one
// in case an event was missed.
constexpr auto kListEvery = std::chrono::seconds(2);
constexpr auto kListAnyway = std::chrono::seconds(30);

void refuse(httplib::Response& res, int status, const std::string& why) {
    res.status = status;
    res.set_content(nlohmann::json{{"error", why}}.dump(), "application/json");
}

bool allowed_host(const ServeState& s, const std::string& host) {
    for (const std::string& h : s.hosts) {
        if (h == host) {
            return true;
        }
    }
    return false;
}

// The rules every request passes before any route sees it.
httplib::Server::HandlerResponse guard(ServeState& s, const httplib::Request& req,
                                       httplib::Response& res) {
    using R = httplib::Server::HandlerResponse;
    if (!allowed_host(s, req.get_header_value("Host"))) {
        refuse(res, 403, "the Host header does not name this server");
        return R::Handled;
    }
    if (req.method == "GET" && req.path == "/" && req.has_param("token")) {
        if (!same_secret(req.get_param_value("token"), s.secrets.token)) {
            refuse(res, 403, "wrong token: open the address vuxoint serve printed");
            return R::Handled;
        }
        // The token leaves the address bar (and the history) at once.
        res.set_header("Set-Cookie", session_cookie(s.secrets.session));
        res.set_redirect("/", 303);
        return R::Handled;
    }
    if (!same_secret(cookie_value(req.get_header_value("Cookie"), kSessionCookie),
                     s.secrets.session)) {
        refuse(res, 403, "no session: open the address vuxoint serve printed");
        return R::Handled;
    }
    for (const auto& [name, value] : req.params) {
        if (names_a_path(name, value)) {
            refuse(res, 400, "parameter " + name + ": no request names a file");
            return R::Handled;
        }
    }
    if (req.method != "GET" && req.method != "HEAD" &&
        !same_secret(req.get_header_value(kCsrfHeader), s.secrets.csrf)) {
        refuse(res, 403, "a request that changes something needs the page's CSRF token");
        return R::Handled;
    }
    return R::Unhandled;
}

} // namespace

Server::Server(ServeConfig config, std::unique_ptr<UsbWatch> watch, UsbListing listing)
    : http_(std::make_unique<httplib::Server>()), watch_(std::move(watch)),
      listing_(std::move(listing)) {
    state_.config = std::move(config);
    state_.secrets = make_secrets();
    state_.context.db = state_.config.db;
    state_.context.hub = &state_.hub;
    state_.context.auto_sync = state_.config.auto_sync;
    state_.instruments = std::make_unique<Instruments>(state_.context);
}

Server::~Server() {
    stop();
}

bool Server::start(std::string* error) {
    http_->new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    http_->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        return guard(state_, req, res);
    });
    add_page_routes(*http_, state_);
    add_instrument_routes(*http_, state_);
    add_record_routes(*http_, state_);
    const std::string& host = state_.config.listen;
    if (state_.config.port == 0) {
        port_ = http_->bind_to_any_port(host);
    } else if (http_->bind_to_port(host, state_.config.port)) {
        port_ = state_.config.port;
    } else {
        port_ = -1;
    }
    if (port_ <= 0) {
        *error = "listen on " + host + ":" + std::to_string(state_.config.port) +
                 ": the address is taken or not this computer's";
        return false;
    }
    state_.hosts = allowed_hosts(host, port_);
    serving_ = std::thread([this] { http_->listen_after_bind(); });
    watching_ = std::thread([this] { watch_usb(); });
    return true;
}

std::string Server::address() const {
    const std::string& host = state_.config.listen;
    const bool v6 = host.find(':') != std::string::npos;
    return "http://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port_) +
           "/?token=" + state_.secrets.token;
}

void Server::watch_usb() {
    while (!stopped_) {
        std::vector<std::shared_ptr<InstrumentWorker>> arrived;
        if (state_.instruments->set_usb(listing_(), &arrived)) {
            state_.hub.publish("instruments", state_.instruments->list());
        }
        if (state_.config.auto_sync) {
            for (const auto& w : arrived) {
                w->post(auto_sync_job);
            }
        }
        watch_->wait(watch_->notices_changes() ? kListAnyway : kListEvery);
    }
}

void Server::stop() {
    if (stopped_ || port_ <= 0) {
        return;
    }
    stopped_ = true;
    watch_->stop();
    state_.hub.close();
    http_->stop();
    serving_.join();
    watching_.join();
    state_.instruments->clear();
}

} // namespace vuxocli::serve
