// Who may use the local web server, the way local web tools that people trust
// decide it: a random token in the printed address, exchanged once for a
// session cookie (HttpOnly, SameSite=Strict); a Host header that names this
// server, so a page of another site whose name was rebound to 127.0.0.1 gets
// nothing; and a second secret, the CSRF token, that only the page itself can
// read and must send back in a header with every request that changes state.
#ifndef VUXOCLI_SERVE_AUTH_H
#define VUXOCLI_SERVE_AUTH_H

#include <string>
#include <vector>

namespace vuxocli::serve {

inline constexpr const char* kSessionCookie = "vuxoint_session";
inline constexpr const char* kCsrfHeader = "X-Vuxoint-Csrf";

struct Secrets {
    std::string token;   // in the printed address
    std::string session; // the cookie's value
    std::string csrf;    // handed to the page, sent back in kCsrfHeader
};

// Three unrelated random secrets of 128 bits each, as hex.
Secrets make_secrets();

// The Host header values that name this server: 127.0.0.1:PORT and
// localhost:PORT, or LISTEN:PORT when it listens elsewhere.
std::vector<std::string> allowed_hosts(const std::string& listen, int port);

// Comparisons that take the same time wherever the texts differ.
bool same_secret(const std::string& a, const std::string& b);

// The value of cookie `name` in a Cookie header, "" when absent.
std::string cookie_value(const std::string& header, const std::string& name);

// The Set-Cookie header value that starts a session.
std::string session_cookie(const std::string& session);

// True when a request parameter could name a file: the web server never takes a
// path from a request; the database is the one given on the command line and
// exports are streamed to the browser.
bool names_a_path(const std::string& name, const std::string& value);

} // namespace vuxocli::serve

#endif
