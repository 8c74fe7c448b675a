#include "auth.h"

#include <array>
#include <cstdio>
#include <random>

namespace vuxocli::serve {

namespace {

std::string random_hex() {
    std::random_device device;
    std::array<char, 33> out{};
    for (int i = 0; i < 4; ++i) {
        std::snprintf(out.data() + 8 * i, 9, "%08x", static_cast<unsigned>(device()));
    }
    return out.data();
}

} // namespace

Secrets make_secrets() {
    return Secrets{random_hex(), random_hex(), random_hex()};
}

std::vector<std::string> allowed_hosts(const std::string& listen, int port) {
    const std::string p = ":" + std::to_string(port);
    if (listen.empty() || listen == "127.0.0.1" || listen == "localhost") {
        return {"127.0.0.1" + p, "localhost" + p};
    }
    const bool v6 = listen.find(':') != std::string::npos;
    return {(v6 ? "[" + listen + "]" : listen) + p, "127.0.0.1" + p, "localhost" + p};
}

bool same_secret(const std::string& a, const std::string& b) {
    if (a.size() != b.size() || a.empty()) {
        return false;
    }
    unsigned char diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return diff == 0;
}

std::string cookie_value(const std::string& header, const std::string& name) {
    std::size_t at = 0;
    while (at < header.size()) {
        std::size_t end = header.find(';', at);
        if (end == std::string::npos) {
            end = header.size();
        }
        std::string part = header.substr(at, end - at);
        const std::size_t first = part.find_first_not_of(' ');
        part = first == std::string::npos ? "" : part.substr(first);
        if (part.size() > name.size() && part.compare(0, name.size(), name) == 0 &&
            part[name.size()] == '=') {
            return part.substr(name.size() + 1);
        }
        at = end + 1;
    }
    return "";
}

std::string session_cookie(const std::string& session) {
    return std::string(kSessionCookie) + "=" + session + "; Path=/; HttpOnly; SameSite=Strict";
}

bool names_a_path(const std::string& name, const std::string& value) {
    for (const char* word : {"db", "database", "file", "path", "output", "dir"}) {
        if (name == word) {
            return true;
        }
    }
    // An instrument's address may be a serial device; it is checked where it is taken.
    if (name == "conn" || name == "note") {
        return false;
    }
    return value.find('/') != std::string::npos || value.find('\\') != std::string::npos;
}

} // namespace vuxocli::serve
