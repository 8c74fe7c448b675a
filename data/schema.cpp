#include "schema.h"

#include "sqlite_handle.h"

namespace vuxocli {

namespace {

// Version 1. Times are ISO 8601 text: taken_at as the instrument stores it (its
// own clock, no time zone), the others UTC. Columns a generation does not
// have are NULL. An instrument's last_sync is the end of its last completed
// sync, also one that found nothing new (or the first record a sync stored,
// while it runs). The triggers keep what was downloaded: a slot refilled after
// the log was cleared is a new (slot, key) row, never a changed one.
constexpr const char* kSchemaV1 = R"sql(
CREATE TABLE instruments (
    id          INTEGER PRIMARY KEY,
    serial      TEXT NOT NULL UNIQUE,
    generation  TEXT NOT NULL,
    firmware    TEXT NOT NULL,
    first_sync  TEXT NOT NULL,
    last_sync   TEXT NOT NULL
);
CREATE TABLE measurements (
    id                   INTEGER PRIMARY KEY,
    instrument_id        INTEGER NOT NULL REFERENCES instruments(id),
    slot                 INTEGER NOT NULL,
    key                  INTEGER NOT NULL,
    entry_flags          INTEGER NOT NULL,
    number               INTEGER NOT NULL,
    record_id            INTEGER NOT NULL,
    taken_at             TEXT NOT NULL,
    kind                 INTEGER NOT NULL,
    record_flags         INTEGER NOT NULL,
    unit_bits            INTEGER,
    curve_s              INTEGER NOT NULL,
    curve_c              INTEGER,
    pin                  INTEGER NOT NULL,
    error                INTEGER NOT NULL,
    diameter             INTEGER NOT NULL,
    tag                  INTEGER,
    susceptibility       REAL,
    susceptibility_units TEXT NOT NULL,
    conductivity         REAL,
    conductivity_units   TEXT,
    first_count          INTEGER NOT NULL,
    value_count          INTEGER NOT NULL,
    raw                  BLOB NOT NULL,
    downloaded_at        TEXT NOT NULL,
    UNIQUE (instrument_id, slot, key)
);
CREATE INDEX measurements_taken_at ON measurements (taken_at);
CREATE TABLE scan_values (
    measurement_id  INTEGER NOT NULL REFERENCES measurements(id),
    idx             INTEGER NOT NULL,
    susceptibility  REAL,
    conductivity    REAL,
    mark            INTEGER NOT NULL,
    PRIMARY KEY (measurement_id, idx)
) WITHOUT ROWID;
CREATE TRIGGER measurements_kept_on_update BEFORE UPDATE ON measurements
BEGIN SELECT RAISE(ABORT, 'stored measurements are never changed'); END;
CREATE TRIGGER measurements_kept_on_delete BEFORE DELETE ON measurements
BEGIN SELECT RAISE(ABORT, 'stored measurements are never deleted'); END;
CREATE TRIGGER scan_values_kept_on_update BEFORE UPDATE ON scan_values
BEGIN SELECT RAISE(ABORT, 'stored scan values are never changed'); END;
CREATE TRIGGER scan_values_kept_on_delete BEFORE DELETE ON scan_values
BEGIN SELECT RAISE(ABORT, 'stored scan values are never deleted'); END;
)sql";

// Version 2: a V1 measurement's note, stored with its record and never changed. Its
// text is the instrument's bytes, which need not be UTF-8.
constexpr const char* kSchemaV2 = R"sql(
CREATE TABLE notes (
    measurement_id  INTEGER PRIMARY KEY REFERENCES measurements(id),
    text            TEXT NOT NULL
);
CREATE TRIGGER notes_kept_on_update BEFORE UPDATE ON notes
BEGIN SELECT RAISE(ABORT, 'stored notes are never changed'); END;
CREATE TRIGGER notes_kept_on_delete BEFORE DELETE ON notes
BEGIN SELECT RAISE(ABORT, 'stored notes are never deleted'); END;
)sql";

constexpr Migration kMigrations[] = {{1, kSchemaV1}, {2, kSchemaV2}};

} // namespace

std::span<const Migration> migrations() {
    return kMigrations;
}

int64_t current_schema_version() {
    return kMigrations[std::size(kMigrations) - 1].to_version;
}

namespace {

// The file's application id and schema version; false when its header cannot be read.
bool read_header(sqlite3* db, std::span<const Migration> steps, int64_t* version,
                 std::string* error) {
    int rc = SQLITE_OK;
    // A file that is not a database fails here, before anything is written.
    const int64_t app_id = query_int(db, "PRAGMA application_id", 0, &rc);
    *version = rc == SQLITE_OK ? query_int(db, "PRAGMA user_version", 0, &rc) : 0;
    const int64_t objects =
        rc == SQLITE_OK ? query_int(db, "SELECT count(*) FROM sqlite_schema", 0, &rc) : 0;
    if (rc != SQLITE_OK) {
        *error = sqlite3_errmsg(db);
        return false;
    }
    if (app_id != kVuxointAppId && (app_id != 0 || *version != 0 || objects != 0)) {
        *error = "not a vuxoint database (another program's file)";
        return false;
    }
    const int64_t latest = steps.empty() ? 0 : steps.back().to_version;
    if (*version > latest) {
        *error = "written by a newer vuxoint (schema version " + std::to_string(*version) +
                 ", this one knows up to " + std::to_string(latest) + ")";
        return false;
    }
    return true;
}

} // namespace

bool check_file(sqlite3* db, std::span<const Migration> steps, std::string* error) {
    // One read transaction: another program creating the file at this moment
    // must not be seen half before and half after its commit.
    if (!exec(db, "BEGIN", error)) {
        return false;
    }
    int64_t version = 0;
    const bool ours = read_header(db, steps, &version, error);
    std::string ignored;
    exec(db, "COMMIT", &ignored);
    return ours;
}

bool migrate(sqlite3* db, std::span<const Migration> steps, std::string* error) {
    // The check and the steps in one write transaction: of several programs
    // opening a new file at once, the first creates the schema and the others
    // wait for it and find it there.
    if (!exec(db, "BEGIN IMMEDIATE", error)) {
        return false;
    }
    std::string ignored;
    int64_t version = 0;
    if (!read_header(db, steps, &version, error)) {
        exec(db, "ROLLBACK", &ignored);
        return false;
    }
    const int64_t latest = steps.empty() ? 0 : steps.back().to_version;
    if (version == latest) {
        exec(db, "COMMIT", &ignored);
        return true;
    }
    for (const Migration& step : steps) {
        if (step.to_version > version && !exec(db, step.sql, error)) {
            exec(db, "ROLLBACK", &ignored);
            return false;
        }
    }
    const std::string stamp = "PRAGMA application_id = " + std::to_string(kVuxointAppId) +
                              "; PRAGMA user_version = " + std::to_string(latest) + ";";
    if (!exec(db, stamp.c_str(), error) || !exec(db, "COMMIT", error)) {
        exec(db, "ROLLBACK", &ignored);
        return false;
    }
    return true;
}

} // namespace vuxocli
