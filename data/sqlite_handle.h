// Thin owners for SQLite's connection and statement handles, so that every
// early return closes what it opened.
#ifndef VUXOCLI_SQLITE_HANDLE_H
#define VUXOCLI_SQLITE_HANDLE_H

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace vuxocli {

class Statement {
  public:
    Statement() = default;
    Statement(sqlite3* db, std::string_view sql);
    ~Statement();
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return stmt_ != nullptr; }
    sqlite3_stmt* get() const { return stmt_; }

    // Binding by 1-based position; each returns the SQLite result.
    int bind(int pos, int64_t value);
    int bind(int pos, double value);
    int bind(int pos, std::string_view text);
    int bind_blob(int pos, const void* data, std::size_t size);
    int bind_null(int pos);

    // SQLITE_ROW, SQLITE_DONE or an error.
    int step();
    // Ready to run again with new bindings.
    void reset();

  private:
    sqlite3_stmt* stmt_ = nullptr;
};

// Runs SQL that returns no rows; false with SQLite's message in *error.
bool exec(sqlite3* db, const char* sql, std::string* error);

// The first column of the first row of a one-value query, or `fallback`.
int64_t query_int(sqlite3* db, const char* sql, int64_t fallback, int* rc);

} // namespace vuxocli

#endif
