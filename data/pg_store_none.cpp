// The server engine of a build without libpq (the Windows build): a
// postgresql:// database is refused with a reason, and a file still works.
#include "store_engines.h"

namespace vuxocli {

namespace {
constexpr const char* kNoServer = "PostgreSQL is not available in this build";
}

std::unique_ptr<Store> open_server_store(const std::string&, Store::Mode, std::string* error) {
    *error = kNoServer;
    return nullptr;
}

bool server_store_writable(const std::string&, std::string* error) {
    *error = kNoServer;
    return false;
}

} // namespace vuxocli
