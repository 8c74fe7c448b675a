#include "sqlite_handle.h"

#include <utility>

namespace vuxocli {

Statement::Statement(sqlite3* db, std::string_view sql) {
    if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) !=
        SQLITE_OK) {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
    }
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

Statement::Statement(Statement&& other) noexcept : stmt_(std::exchange(other.stmt_, nullptr)) {}

Statement& Statement::operator=(Statement&& other) noexcept {
    if (this != &other) {
        sqlite3_finalize(stmt_);
        stmt_ = std::exchange(other.stmt_, nullptr);
    }
    return *this;
}

int Statement::bind(int pos, int64_t value) {
    return sqlite3_bind_int64(stmt_, pos, value);
}

int Statement::bind(int pos, double value) {
    return sqlite3_bind_double(stmt_, pos, value);
}

int Statement::bind(int pos, std::string_view text) {
    return sqlite3_bind_text(stmt_, pos, text.data(), static_cast<int>(text.size()),
                             SQLITE_TRANSIENT);
}

int Statement::bind_blob(int pos, const void* data, std::size_t size) {
    return sqlite3_bind_blob(stmt_, pos, data, static_cast<int>(size), SQLITE_TRANSIENT);
}

int Statement::bind_null(int pos) {
    return sqlite3_bind_null(stmt_, pos);
}

int Statement::step() {
    return sqlite3_step(stmt_);
}

void Statement::reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

bool exec(sqlite3* db, const char* sql, std::string* error) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) {
        return true;
    }
    *error = message != nullptr ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    return false;
}

int64_t query_int(sqlite3* db, const char* sql, int64_t fallback, int* rc) {
    Statement st(db, sql);
    if (!st.ok()) {
        *rc = sqlite3_errcode(db);
        return fallback;
    }
    *rc = st.step();
    if (*rc == SQLITE_ROW) {
        *rc = SQLITE_OK;
        return sqlite3_column_int64(st.get(), 0);
    }
    if (*rc == SQLITE_DONE) {
        *rc = SQLITE_OK;
    }
    return fallback;
}

} // namespace vuxocli
