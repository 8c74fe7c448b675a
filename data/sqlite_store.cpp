#include "sqlite_store.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>

#include "schema.h"
#include "store_engines.h"
#include "store_sql.h"

namespace vuxocli {

using namespace sql;

namespace {

// Long enough for another vuxoint writing the same file to finish a record.
constexpr int kBusyTimeoutMs = 5000;

// A float as the instrument stored it; SQLite keeps no NaN, so NaN is NULL.
void bind_float(Statement& st, int pos, float value) {
    if (std::isnan(value)) {
        st.bind_null(pos);
    } else {
        st.bind(pos, static_cast<double>(value));
    }
}

bool failed(sqlite3* db, std::string* error) {
    *error = sqlite3_errmsg(db);
    return false;
}

// Changing the journal mode takes the file for itself without waiting on the
// busy handler, so a file another program is creating at this moment answers
// SQLITE_BUSY at once: wait for it as the busy timeout would.
bool exec_waiting(sqlite3* db, const char* sql, std::string* error) {
    constexpr int kStepMs = 10;
    for (int waited = 0;; waited += kStepMs) {
        const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) {
            return true;
        }
        if ((rc & 0xff) != SQLITE_BUSY || waited >= kBusyTimeoutMs) {
            return failed(db, error);
        }
        sqlite3_sleep(kStepMs);
    }
}

// A column's bytes as stored, whatever their type: a serial is the instrument's own.
std::string_view column_bytes(sqlite3_stmt* st, int i) {
    const auto* b = static_cast<const char*>(sqlite3_column_blob(st, i));
    return {b != nullptr ? b : "", static_cast<std::size_t>(sqlite3_column_bytes(st, i))};
}

void rollback(sqlite3* db) {
    std::string ignored;
    exec(db, "ROLLBACK", &ignored);
}

void bind_filter(Statement& st, const QueryFilter& f) {
    if (f.serial) {
        st.bind(1, std::string_view(*f.serial));
    }
    if (f.since) {
        st.bind(2, std::string_view(*f.since));
    }
    if (f.until) {
        st.bind(3, std::string_view(*f.until));
    }
}

Value column_value(sqlite3_stmt* st, int i) {
    switch (sqlite3_column_type(st, i)) {
    case SQLITE_INTEGER:
        return static_cast<int64_t>(sqlite3_column_int64(st, i));
    case SQLITE_FLOAT:
        return sqlite3_column_double(st, i);
    case SQLITE_TEXT:
        return std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, i)),
                           static_cast<std::size_t>(sqlite3_column_bytes(st, i)));
    default:
        return std::monostate{};
    }
}

// A file of an older schema, read without upgrading it, has no notes yet.
std::string with_notes(sqlite3* db, std::string sql) {
    int rc = SQLITE_OK;
    if (query_int(db, "SELECT count(*) FROM sqlite_schema WHERE name = 'notes'", 0, &rc) == 0) {
        // A page's note filter names the note a second time.
        const std::string_view with = kNoteText;
        for (auto at = sql.find(with); at != std::string::npos; at = sql.find(with)) {
            sql.replace(at, with.size(), "NULL");
        }
    }
    return sql;
}

std::string folder_of(const std::string& path) {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    return folder.empty() ? "." : folder.string();
}

bool read_rows(sqlite3* db, Statement& st, const Store::HeaderFn& header, const Store::RowFn& each,
               std::string* error) {
    const int columns = sqlite3_column_count(st.get());
    std::vector<std::string> names;
    for (int i = 0; i < columns; ++i) {
        names.emplace_back(sqlite3_column_name(st.get(), i));
    }
    header(names);
    std::vector<Value> row(static_cast<std::size_t>(columns));
    int rc = SQLITE_OK;
    while ((rc = st.step()) == SQLITE_ROW) {
        for (int i = 0; i < columns; ++i) {
            row[static_cast<std::size_t>(i)] = column_value(st.get(), i);
        }
        if (!each(row)) {
            return true;
        }
    }
    return rc == SQLITE_DONE ? true : failed(db, error);
}

bool exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

// A -wal file with something in it may hold committed records the main file
// does not have yet.
bool has_wal(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path + "-wal", ec);
    return !ec && size > 0;
}

// SQLite's URI form of a file name: the characters that end or escape a path
// there are written as %XX.
std::string file_uri(const std::string& path) {
    std::string uri = "file:";
    for (const char c : path) {
        if (c == '%' || c == '?' || c == '#') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
            uri += hex;
        } else {
            uri += c;
        }
    }
    return uri;
}

// A reader that may write the file and its folder opens it as a writer that
// changes nothing: it reads what a -wal file holds and, being the last to
// close, folds the -wal back and removes it and the -shm, as a sync would.
// One that may not (read-only media, another user's folder) must not create
// those files: without a -wal nothing can be waiting outside the main file,
// which is then read as it is; with one, SQLite reads it through its -shm.
sqlite3* open_for_reading(const std::string& path, std::string* error) {
    const bool writable =
        access(path.c_str(), W_OK) == 0 && access(folder_of(path).c_str(), W_OK | X_OK) == 0;
    std::string name = path;
    int flags = SQLITE_OPEN_READONLY;
    if (writable) {
        flags = SQLITE_OPEN_READWRITE;
    } else if (!has_wal(path)) {
        name = file_uri(path) + "?immutable=1";
        flags |= SQLITE_OPEN_URI;
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(name.c_str(), &db, flags, nullptr) != SQLITE_OK ||
        (writable && !exec(db, "PRAGMA query_only = ON", error))) {
        if (error->empty()) {
            *error = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
        }
        sqlite3_close(db);
        return nullptr;
    }
    return db;
}

} // namespace

std::unique_ptr<Store> open_file_store(const std::string& path, Store::Mode mode,
                                       std::string* error) {
    return SqliteStore::open(path, mode, error);
}

bool file_store_writable(const std::string& path, std::string* error) {
    return SqliteStore::check_writable(path, error);
}

bool SqliteStore::check_writable(const std::string& path, std::string* error) {
    if (exists(path)) {
        return open(path, Mode::write, error) != nullptr;
    }
    // Not created before it is needed, so that a run that stops before
    // storing anything leaves no empty database behind.
    const std::string folder = folder_of(path);
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        *error = exists(folder) ? "read-only: its directory cannot be written"
                                : "no such directory: " + folder;
        return false;
    }
    return true;
}

std::unique_ptr<SqliteStore> SqliteStore::open(const std::string& path, Mode mode,
                                               std::string* error) {
    sqlite3* db = nullptr;
    if (mode == Mode::read) {
        db = open_for_reading(path, error);
    } else if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                               nullptr) != SQLITE_OK) {
        *error = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        db = nullptr;
    }
    if (db == nullptr) {
        return nullptr;
    }
    std::unique_ptr<SqliteStore> store(new SqliteStore(db));
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    // SQLite quietly opens a file it may not write read-only: say so before
    // any work is done that could not be stored.
    if (mode == Mode::write && sqlite3_db_readonly(db, "main") == 1) {
        *error = "read-only: the file (or its directory) cannot be written";
        return nullptr;
    }
    if (mode == Mode::read) {
        int rc = SQLITE_OK;
        const int64_t app_id = query_int(db, "PRAGMA application_id", 0, &rc);
        if (rc != SQLITE_OK) {
            failed(db, error);
            return nullptr;
        }
        if (app_id != kVuxointAppId) {
            *error = "not a vuxoint database";
            return nullptr;
        }
        return store;
    }
    // WAL: a reader (export) never waits for a sync, and a commit is one append.
    // synchronous NORMAL keeps every commit through a crash or kill of the
    // program; after a power loss the last few may be gone again, and the next
    // sync fetches them once more. Set before the schema is written (so that
    // costs no sync to disk either), after the file was found to be ours.
    if (!check_file(db, migrations(), error) ||
        !exec_waiting(db, "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL", error) ||
        !migrate(db, migrations(), error) || !store->prepare(error)) {
        return nullptr;
    }
    return store;
}

SqliteStore::~SqliteStore() {
    insert_measurement_ = Statement();
    insert_value_ = Statement();
    has_ = Statement();
    sqlite3_close(db_);
}

bool SqliteStore::prepare(std::string* error) {
    insert_measurement_ = Statement(db_, kInsertMeasurement);
    insert_value_ = Statement(db_, kInsertValue);
    has_ = Statement(db_, kHas);
    return insert_measurement_.ok() && insert_value_.ok() && has_.ok() ? true : failed(db_, error);
}

bool SqliteStore::find_instrument(const std::string& serial, int64_t* id, std::string* firmware,
                                  std::string* error) {
    Statement st(db_, kFindInstrument);
    if (!st.ok()) {
        return failed(db_, error);
    }
    st.bind(1, std::string_view(serial));
    const int rc = st.step();
    if (rc == SQLITE_ROW) {
        *id = sqlite3_column_int64(st.get(), 0);
        *firmware = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 1));
        return true;
    }
    if (rc != SQLITE_DONE) {
        failed(db_, error);
    }
    return false;
}

bool SqliteStore::note_sync(const InstrumentInfo& info, int64_t* id, std::string* error) {
    Statement st(db_, kNoteSync);
    if (!st.ok()) {
        return failed(db_, error);
    }
    st.bind(1, std::string_view(info.serial));
    st.bind(2, std::string_view(generation_text(info.generation)));
    st.bind(3, std::string_view(info.firmware));
    st.bind(4, std::string_view(iso_utc_now()));
    if (st.step() != SQLITE_ROW) {
        return failed(db_, error);
    }
    *id = sqlite3_column_int64(st.get(), 0);
    return st.step() == SQLITE_DONE ? true : failed(db_, error);
}

bool SqliteStore::has(int64_t instrument_id, int32_t slot, uint32_t key, std::string* error) {
    has_.reset();
    has_.bind(1, instrument_id);
    has_.bind(2, static_cast<int64_t>(slot));
    has_.bind(3, static_cast<int64_t>(key));
    const int rc = has_.step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        failed(db_, error);
    }
    return rc == SQLITE_ROW;
}

bool SqliteStore::held(const std::string& serial, std::vector<vuxod_slot_key>* out,
                       std::string* error) {
    Statement st(db_, kHeld);
    if (!st.ok()) {
        return failed(db_, error);
    }
    st.bind(1, std::string_view(serial));
    int rc = SQLITE_OK;
    while ((rc = st.step()) == SQLITE_ROW) {
        out->push_back({static_cast<int32_t>(sqlite3_column_int64(st.get(), 0)),
                        static_cast<uint32_t>(sqlite3_column_int64(st.get(), 1))});
    }
    return rc == SQLITE_DONE ? true : failed(db_, error);
}

PutResult SqliteStore::insert(int64_t instrument_id, const vuxod_record& record,
                              std::string* error) {
    const vuxod_measurement& m = *record.m;
    const bool v2 = m.generation == VUXOD_V2;
    Statement& st = insert_measurement_;
    st.reset();
    st.bind(1, instrument_id);
    st.bind(2, static_cast<int64_t>(record.slot));
    st.bind(3, static_cast<int64_t>(record.key));
    st.bind(4, static_cast<int64_t>(record.entry_flags));
    st.bind(5, static_cast<int64_t>(m.number));
    st.bind(6, static_cast<int64_t>(m.id));
    st.bind(7, std::string_view(iso_taken_at(m)));
    st.bind(8, static_cast<int64_t>(m.kind));
    st.bind(9, static_cast<int64_t>(m.record_flags));
    st.bind(11, static_cast<int64_t>(m.curve_s));
    st.bind(13, static_cast<int64_t>(m.pin));
    st.bind(14, static_cast<int64_t>(m.error));
    st.bind(15, static_cast<int64_t>(m.diameter));
    bind_float(st, 17, m.susceptibility);
    st.bind(18, std::string_view(m.susc_units));
    if (v2) {
        st.bind(10, static_cast<int64_t>(m.unit_bits));
        st.bind(12, static_cast<int64_t>(m.curve_c));
        st.bind(16, static_cast<int64_t>(m.tag));
        bind_float(st, 19, m.conductivity);
        st.bind(20, std::string_view(m.cond_units));
    }
    st.bind(21, static_cast<int64_t>(m.first_count));
    st.bind(22, static_cast<int64_t>(m.value_count));
    st.bind_blob(23, record.raw, record.raw_size);
    st.bind(24, std::string_view(iso_utc_now()));
    if (st.step() != SQLITE_DONE) {
        failed(db_, error);
        return PutResult::failed;
    }
    if (sqlite3_changes(db_) == 0) {
        return PutResult::already_held;
    }
    const int64_t measurement_id = sqlite3_last_insert_rowid(db_);
    if (record.note != nullptr) {
        Statement note(db_, kInsertNote);
        note.bind(1, measurement_id);
        note.bind(2,
                  std::string_view(reinterpret_cast<const char*>(record.note), record.note_size));
        if (note.step() != SQLITE_DONE) {
            failed(db_, error);
            return PutResult::failed;
        }
    }
    // Only a scan's values are its own; the record's value area is kept in raw.
    const int32_t values = m.kind == VUXOD_KIND_SCAN ? m.values_decoded : 0;
    for (int32_t i = 0; i < values; ++i) {
        Statement& v = insert_value_;
        v.reset();
        v.bind(1, measurement_id);
        v.bind(2, static_cast<int64_t>(i));
        bind_float(v, 3, m.susc_values[i]);
        if (v2) {
            bind_float(v, 4, m.cond_values[i]);
        }
        v.bind(5, static_cast<int64_t>(m.marks[i] != 0));
        if (v.step() != SQLITE_DONE) {
            failed(db_, error);
            return PutResult::failed;
        }
    }
    return PutResult::stored;
}

bool SqliteStore::put_all(int64_t instrument_id, const std::vector<const vuxod_record*>& records,
                          std::vector<PutResult>* results, std::string* error) {
    results->assign(records.size(), PutResult::failed);
    if (!exec(db_, "BEGIN IMMEDIATE", error)) {
        return false;
    }
    std::vector<PutResult> done;
    for (const vuxod_record* record : records) {
        done.push_back(insert(instrument_id, *record, error));
        if (done.back() == PutResult::failed) {
            rollback(db_);
            return false;
        }
    }
    if (!exec(db_, "COMMIT", error)) {
        rollback(db_);
        return false;
    }
    *results = std::move(done);
    return true;
}

bool SqliteStore::query(const QueryFilter& filter, const HeaderFn& header, const RowFn& each,
                        std::string* error) {
    Statement st(db_, with_notes(db_, filter.scans ? kScanRows : kMeasurementRows) +
                          order_by(filter, filter.scans));
    if (!st.ok()) {
        return failed(db_, error);
    }
    bind_filter(st, filter);
    return read_rows(db_, st, header, each, error);
}

bool SqliteStore::page(const PageQuery& q, const HeaderFn& header, const RowFn& each,
                       int64_t* total, std::string* error) {
    const auto bind = [&q](Statement& st) {
        bind_filter(st, q.filter);
        const std::optional<int64_t> numbers[] = {q.kind, std::nullopt, q.slot, q.key};
        for (int i = 0; i < 4; ++i) {
            if (numbers[i]) {
                st.bind(4 + i, *numbers[i]);
            }
        }
        if (q.note) {
            st.bind(5, std::string_view(*q.note));
        }
    };
    // The dialect's test for a note holding the text.
    const std::string choice =
        page_choice("instr(coalesce(" + std::string(kNoteText) + ", ''), ?5) > 0");
    Statement count(db_, with_notes(db_, "SELECT count(*) " + choice));
    if (!count.ok()) {
        return failed(db_, error);
    }
    bind(count);
    if (count.step() != SQLITE_ROW) {
        return failed(db_, error);
    }
    *total = sqlite3_column_int64(count.get(), 0);
    // The page's ids first, sorting only what orders them; then their whole rows.
    // Ties go by the order they were stored, which the index on taken_at holds.
    const std::string order =
        "ORDER BY " + page_sort_column(q.sort) + (q.descending ? " DESC, " : ", ") + "m.id";
    Statement st(db_, with_notes(db_, std::string(kMeasurementRows) + " AND m.id IN (SELECT m.id " +
                                          choice + order + " LIMIT ?8 OFFSET ?9) " + order));
    if (!st.ok()) {
        return failed(db_, error);
    }
    bind(st);
    st.bind(8, std::max<int64_t>(q.limit, 0));
    st.bind(9, std::max<int64_t>(q.offset, 0));
    return read_rows(db_, st, header, each, error);
}

bool SqliteStore::instruments(const std::optional<std::string>& serial,
                              std::vector<StoredInstrument>* out, std::string* error) {
    Statement st(db_, kInstruments);
    if (!st.ok()) {
        return failed(db_, error);
    }
    if (serial) {
        st.bind(1, std::string_view(*serial));
    }
    int rc = SQLITE_OK;
    while ((rc = st.step()) == SQLITE_ROW) {
        out->push_back(
            {std::string(column_bytes(st.get(), 0)), std::string(column_bytes(st.get(), 1)),
             std::string(column_bytes(st.get(), 2)), std::string(column_bytes(st.get(), 3))});
    }
    return rc == SQLITE_DONE ? true : failed(db_, error);
}

bool SqliteStore::records(const QueryFilter& filter, const RecordFn& each, std::string* error) {
    Statement st(db_, with_notes(db_, kRecords) + order_by(filter, false));
    if (!st.ok()) {
        return failed(db_, error);
    }
    bind_filter(st, filter);
    StoredRecord r;
    int rc = SQLITE_OK;
    while ((rc = st.step()) == SQLITE_ROW) {
        sqlite3_stmt* row = st.get();
        r.instrument = column_bytes(row, 0);
        r.generation = generation_of(column_bytes(row, 1));
        r.slot = sqlite3_column_int64(row, 2);
        r.key = sqlite3_column_int64(row, 3);
        r.number = sqlite3_column_int64(row, 4);
        r.taken_at = column_bytes(row, 5);
        r.kind = sqlite3_column_int64(row, 6);
        const std::string_view raw = column_bytes(row, 7);
        r.raw.assign(raw.begin(), raw.end());
        r.entry_flags = sqlite3_column_int64(row, 8);
        r.note.reset();
        if (sqlite3_column_type(row, 9) != SQLITE_NULL) {
            r.note = column_bytes(row, 9);
        }
        if (!each(r)) {
            return true;
        }
    }
    return rc == SQLITE_DONE ? true : failed(db_, error);
}

} // namespace vuxocli
