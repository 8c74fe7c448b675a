// The page itself, its session (the CSRF token) and its event stream.
#include <httplib.h>

#include <chrono>
#include <memory>

#include "assets.h"
#include "server.h"
#include "shown_text.h"

namespace vuxocli::serve {

namespace {

// A stream with nothing to say still writes this often, so a page that went
// away is noticed and its thread freed.
constexpr auto kKeepAlive = std::chrono::seconds(10);

// Everything from this server, nothing inline but styles the charts' SVG
// carries, no frame from elsewhere.
constexpr const char* kPagePolicy =
    "default-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' data:; "
    "frame-ancestors 'self'; form-action 'self'; base-uri 'none'";

} // namespace

void add_page_routes(httplib::Server& http, ServeState& s) {
    for (const Asset& a : assets()) {
        http.Get(a.path, [a](const httplib::Request&, httplib::Response& res) {
            res.set_header("Content-Security-Policy", kPagePolicy);
            res.set_header("Cache-Control", "no-store");
            res.set_content(a.body.data(), a.body.size(), a.type);
        });
    }
    http.Get("/api/session", [&s](const httplib::Request&, httplib::Response& res) {
        const nlohmann::json j = {{"csrf", s.secrets.csrf},
                                  {"database", shown(s.config.db)},
                                  {"auto_sync", s.config.auto_sync}};
        res.set_content(j.dump(), "application/json");
    });
    http.Get("/api/events", [&s](const httplib::Request&, httplib::Response& res) {
        auto seen = std::make_shared<uint64_t>(s.hub.position());
        res.set_header("Cache-Control", "no-store");
        res.set_chunked_content_provider("text/event-stream",
                                         [&s, seen](size_t, httplib::DataSink& sink) {
                                             std::string frames;
                                             if (!s.hub.wait(seen.get(), kKeepAlive, &frames)) {
                                                 sink.done();
                                                 return true;
                                             }
                                             if (frames.empty()) {
                                                 frames = ": still here\n\n";
                                             }
                                             return sink.write(frames.data(), frames.size());
                                         });
    });
}

} // namespace vuxocli::serve
