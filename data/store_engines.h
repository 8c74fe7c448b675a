// The engines a store can be kept in, each opened without its own types showing,
// so that choosing one needs none of their headers.
#ifndef VUXOCLI_STORE_ENGINES_H
#define VUXOCLI_STORE_ENGINES_H

#include <memory>
#include <string>

#include "store.h"

namespace vuxocli {

// A file of its own (sqlite_store.h).
std::unique_ptr<Store> open_file_store(const std::string& path, Store::Mode mode,
                                       std::string* error);
bool file_store_writable(const std::string& path, std::string* error);

// A database on a PostgreSQL server, named by its URI (pg_store.h).
std::unique_ptr<Store> open_server_store(const std::string& uri, Store::Mode mode,
                                         std::string* error);
bool server_store_writable(const std::string& uri, std::string* error);

} // namespace vuxocli

#endif
