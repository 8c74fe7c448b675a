// The database's schema and how an older file is brought up to it.
//
// A file is ours when its application id is kVuxointAppId; its schema version
// is PRAGMA user_version. Opening runs, in one transaction, every migration
// step above the file's version, so a file is either left as it was or brought
// to the current version whole. A file written by a newer vuxoint, or a
// non-empty database of another program, is refused untouched.
#ifndef VUXOCLI_SCHEMA_H
#define VUXOCLI_SCHEMA_H

#include <sqlite3.h>

#include <cstdint>
#include <span>
#include <string>

namespace vuxocli {

// "VXOI" in the database header, so that a file can be told from another
// program's database.
inline constexpr int64_t kVuxointAppId = 0x56584F49;

struct Migration {
    int64_t to_version; // the version the file has after this step
    const char* sql;
};

// Every step from an empty file to the current schema, in order.
std::span<const Migration> migrations();
int64_t current_schema_version();

// Reads the file's header only: true when it is ours (or empty) and not newer
// than the last step. Writes nothing, so it may run before anything else.
bool check_file(sqlite3* db, std::span<const Migration> steps, std::string* error);

// check_file, then brings db to the last step's version. False with a message
// in *error and the file unchanged.
bool migrate(sqlite3* db, std::span<const Migration> steps, std::string* error);

} // namespace vuxocli

#endif
