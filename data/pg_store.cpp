#include "pg_store.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>

#include "store_engines.h"
#include "store_sql.h"

namespace vuxocli {

using namespace sql;

namespace {

// The types the store binds and reads (pg_type.h is a server header).
constexpr Oid kBool = 16;
constexpr Oid kBytea = 17;
constexpr Oid kInt8 = 20;
constexpr Oid kInt2 = 21;
constexpr Oid kInt4 = 23;
constexpr Oid kText = 25;
constexpr Oid kFloat4 = 700;
constexpr Oid kFloat8 = 701;

// "VXOI", as the SQLite file's application id: one lock for every vuxoint
// bringing the schema up to date.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(1448628041)";

// The schema of the SQLite file (schema.cpp) in this dialect, at its version 2.
// A trigger refuses to change or remove anything stored, whatever the role.
constexpr const char* kSchemaV2 = R"sql(
CREATE TABLE vuxoint_schema (version BIGINT NOT NULL);
CREATE TABLE instruments (
    id          BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    serial      BYTEA NOT NULL UNIQUE,
    generation  TEXT NOT NULL,
    firmware    BYTEA NOT NULL,
    first_sync  TEXT NOT NULL,
    last_sync   TEXT NOT NULL
);
CREATE TABLE measurements (
    id                   BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    instrument_id        BIGINT NOT NULL REFERENCES instruments(id),
    slot                 BIGINT NOT NULL,
    key                  BIGINT NOT NULL,
    entry_flags          BIGINT NOT NULL,
    number               BIGINT NOT NULL,
    record_id            BIGINT NOT NULL,
    taken_at             TEXT NOT NULL,
    kind                 BIGINT NOT NULL,
    record_flags         BIGINT NOT NULL,
    unit_bits            BIGINT,
    curve_s              BIGINT NOT NULL,
    curve_c              BIGINT,
    pin                  BIGINT NOT NULL,
    error                BIGINT NOT NULL,
    diameter             BIGINT NOT NULL,
    tag                  BIGINT,
    susceptibility       DOUBLE PRECISION,
    susceptibility_units TEXT NOT NULL,
    conductivity         DOUBLE PRECISION,
    conductivity_units   TEXT,
    first_count          BIGINT NOT NULL,
    value_count          BIGINT NOT NULL,
    raw                  BYTEA NOT NULL,
    downloaded_at        TEXT NOT NULL,
    UNIQUE (instrument_id, slot, key)
);
CREATE INDEX measurements_taken_at ON measurements (taken_at);
CREATE TABLE scan_values (
    measurement_id  BIGINT NOT NULL REFERENCES measurements(id),
    idx             BIGINT NOT NULL,
    susceptibility  DOUBLE PRECISION,
    conductivity    DOUBLE PRECISION,
    mark            BIGINT NOT NULL,
    PRIMARY KEY (measurement_id, idx)
);
CREATE TABLE notes (
    measurement_id  BIGINT PRIMARY KEY REFERENCES measurements(id),
    text            BYTEA NOT NULL
);
CREATE FUNCTION vuxoint_kept() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    RAISE EXCEPTION 'stored % are never %', TG_ARGV[0],
        CASE TG_OP WHEN 'UPDATE' THEN 'changed' ELSE 'deleted' END;
END $$;
CREATE TRIGGER measurements_kept BEFORE UPDATE OR DELETE ON measurements
    FOR EACH ROW EXECUTE FUNCTION vuxoint_kept('measurements');
CREATE TRIGGER measurements_kept_whole BEFORE TRUNCATE ON measurements
    FOR EACH STATEMENT EXECUTE FUNCTION vuxoint_kept('measurements');
CREATE TRIGGER scan_values_kept BEFORE UPDATE OR DELETE ON scan_values
    FOR EACH ROW EXECUTE FUNCTION vuxoint_kept('scan values');
CREATE TRIGGER scan_values_kept_whole BEFORE TRUNCATE ON scan_values
    FOR EACH STATEMENT EXECUTE FUNCTION vuxoint_kept('scan values');
CREATE TRIGGER notes_kept BEFORE UPDATE OR DELETE ON notes
    FOR EACH ROW EXECUTE FUNCTION vuxoint_kept('notes');
CREATE TRIGGER notes_kept_whole BEFORE TRUNCATE ON notes
    FOR EACH STATEMENT EXECUTE FUNCTION vuxoint_kept('notes');
)sql";

struct Step {
    int64_t to_version;
    const char* sql;
};
constexpr Step kSteps[] = {{2, kSchemaV2}};
constexpr int64_t kLatest = 2;

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

Result wrap(PGresult* r) {
    return Result(r, &PQclear);
}

// The statement's parameters with their types, so that "?1 IS NULL" needs no cast.
class Params {
  public:
    Params& null(Oid type) { return add(type, std::nullopt, 0); }
    Params& integer(int64_t v) { return add(kInt8, std::to_string(v), 0); }
    // A float as the instrument stored it; NaN is NULL, as in the SQLite file.
    Params& number(float v) {
        if (std::isnan(v)) {
            return null(kFloat8);
        }
        char text[32];
        const auto end = std::to_chars(text, text + sizeof text, static_cast<double>(v)).ptr;
        return add(kFloat8, std::string(text, end), 0);
    }
    Params& text(std::string_view v) { return add(kText, std::string(v), 0); }
    // An array literal ("{1.5,NULL}"), typed by the cast the statement puts on it.
    Params& array(std::string v) { return add(0, std::move(v), 0); }
    Params& bytes(std::string_view v) { return add(kBytea, std::string(v), 1); }
    Params& bytes(const std::optional<std::string>& v) {
        return v ? bytes(std::string_view(*v)) : null(kBytea);
    }
    Params& text(const std::optional<std::string>& v) {
        return v ? text(std::string_view(*v)) : null(kText);
    }

    int count() const { return static_cast<int>(types_.size()); }
    const Oid* types() const { return types_.data(); }
    const int* lengths() const { return lengths_.data(); }
    const int* formats() const { return formats_.data(); }
    std::vector<const char*> values() const {
        std::vector<const char*> out;
        for (const auto& v : values_) {
            out.push_back(v ? v->data() : nullptr);
        }
        return out;
    }

  private:
    Params& add(Oid type, std::optional<std::string> value, int format) {
        types_.push_back(type);
        lengths_.push_back(value ? static_cast<int>(value->size()) : 0);
        formats_.push_back(format);
        values_.push_back(std::move(value));
        return *this;
    }
    std::vector<Oid> types_;
    std::vector<int> lengths_;
    std::vector<int> formats_;
    std::vector<std::optional<std::string>> values_;
};

// This dialect numbers a statement's parameters $N.
std::string dollars(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c == '?') {
            c = '$';
        }
    }
    return out;
}

// A whole record in one statement: the measurement, its note and its scan
// values (from three arrays), so that a batch of them can go to the server in one
// exchange. It answers 1 when the measurement was new, 0 when it was held already
// (and then nothing was inserted).
std::string record_insert() {
    return std::string("WITH m AS (") + kInsertMeasurement + R"sql( RETURNING id),
n AS (INSERT INTO notes (measurement_id, text) SELECT id, ?25 FROM m WHERE ?25 IS NOT NULL),
v AS (INSERT INTO scan_values (measurement_id, idx, susceptibility, conductivity, mark)
    SELECT m.id, t.i - 1, t.s, t.c, t.k
    FROM m, unnest(?26::float8[], ?27::float8[], ?28::int8[]) WITH ORDINALITY AS t(s, c, k, i))
SELECT count(*) FROM m
)sql";
}

// Floats as the instrument stored them, NaN as NULL (as in the SQLite file).
std::string float_array(const float* values, int32_t count) {
    std::string out = "{";
    for (int32_t i = 0; i < count; ++i) {
        out += i > 0 ? "," : "";
        if (std::isnan(values[i])) {
            out += "NULL";
            continue;
        }
        char text[32];
        const auto end =
            std::to_chars(text, text + sizeof text, static_cast<double>(values[i])).ptr;
        out.append(text, end);
    }
    return out + "}";
}

std::string null_array(int32_t count) {
    std::string out = "{";
    for (int32_t i = 0; i < count; ++i) {
        out += i > 0 ? ",NULL" : "NULL";
    }
    return out + "}";
}

std::string mark_array(const uint8_t* marks, int32_t count) {
    std::string out = "{";
    for (int32_t i = 0; i < count; ++i) {
        out += i > 0 ? "," : "";
        out += marks[i] != 0 ? '1' : '0';
    }
    return out + "}";
}

// libpq's messages end in a newline and put a hint on a line of its own: one
// line, to follow "database URI: ".
std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos;) {
        const std::size_t end = text.find_first_not_of("\t ", at + 1);
        text.replace(at, (end == std::string::npos ? text.size() : end) - at, "; ");
    }
    return text;
}

bool lost(PGconn* conn) {
    return PQstatus(conn) == CONNECTION_BAD;
}

bool failed(PGconn* conn, const PGresult* r, std::string* error) {
    if (lost(conn)) {
        *error = "the server closed the connection";
        return false;
    }
    const char* primary = r != nullptr ? PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    *error = primary != nullptr ? primary : trimmed(PQerrorMessage(conn));
    return false;
}

// Runs one statement; every result is read in binary, so bytes come back as stored.
Result run(PGconn* conn, std::string_view sql, const Params& p) {
    const std::vector<const char*> values = p.values();
    return wrap(PQexecParams(conn, dollars(sql).c_str(), p.count(), p.types(), values.data(),
                             p.lengths(), p.formats(), 1));
}

bool ok(const Result& r, ExecStatusType expected) {
    return r && PQresultStatus(r.get()) == expected;
}

bool exec(PGconn* conn, const char* sql, std::string* error) {
    const Result r = wrap(PQexec(conn, sql));
    return ok(r, PGRES_COMMAND_OK) || ok(r, PGRES_TUPLES_OK) ? true : failed(conn, r.get(), error);
}

uint64_t big_endian(const char* bytes, int size) {
    uint64_t v = 0;
    for (int i = 0; i < size; ++i) {
        v = v << 8 | static_cast<unsigned char>(bytes[i]);
    }
    return v;
}

int64_t integer_at(const PGresult* r, int row, int col) {
    const char* b = PQgetvalue(r, row, col);
    switch (PQfsize(r, col)) {
    case 2:
        return static_cast<int16_t>(big_endian(b, 2));
    case 4:
        return static_cast<int32_t>(big_endian(b, 4));
    case 8:
        return static_cast<int64_t>(big_endian(b, 8));
    default:
        return static_cast<unsigned char>(b[0]);
    }
}

std::string bytes_at(const PGresult* r, int row, int col) {
    return {PQgetvalue(r, row, col), static_cast<std::size_t>(PQgetlength(r, row, col))};
}

Value value_at(const PGresult* r, int row, int col) {
    if (PQgetisnull(r, row, col) != 0) {
        return std::monostate{};
    }
    switch (PQftype(r, col)) {
    case kBool:
    case kInt2:
    case kInt4:
    case kInt8:
        return integer_at(r, row, col);
    case kFloat4:
        return static_cast<double>(
            std::bit_cast<float>(static_cast<uint32_t>(big_endian(PQgetvalue(r, row, col), 4))));
    case kFloat8:
        return std::bit_cast<double>(big_endian(PQgetvalue(r, row, col), 8));
    default:
        return bytes_at(r, row, col);
    }
}

Params filter_params(const QueryFilter& f) {
    Params p;
    p.bytes(f.serial).text(f.since).text(f.until);
    return p;
}

// Rows one at a time, so that an export of the whole database is never held
// in memory at once. each returning false stops the rows quietly.
bool each_row(PGconn* conn, std::string_view sql, const Params& p,
              const std::function<void(const PGresult*)>& header,
              const std::function<bool(const PGresult*)>& each, std::string* error) {
    const std::vector<const char*> values = p.values();
    if (PQsendQueryParams(conn, dollars(sql).c_str(), p.count(), p.types(), values.data(),
                          p.lengths(), p.formats(), 1) == 0) {
        return failed(conn, nullptr, error);
    }
    PQsetSingleRowMode(conn);
    bool go_on = true;
    bool named = false;
    bool good = true;
    std::string why;
    while (PGresult* raw = PQgetResult(conn)) {
        const Result r = wrap(raw);
        const ExecStatusType status = PQresultStatus(raw);
        if (status != PGRES_SINGLE_TUPLE && status != PGRES_TUPLES_OK) {
            if (good) {
                failed(conn, raw, &why);
            }
            good = false;
            continue;
        }
        if (!named) {
            header(raw);
            named = true;
        }
        if (status == PGRES_SINGLE_TUPLE && go_on && good) {
            go_on = each(raw);
        }
    }
    if (!good) {
        *error = why;
    }
    return good;
}

// Rows as the store's values, with their column names first.
bool value_rows(PGconn* conn, std::string_view sql, const Params& p, const Store::HeaderFn& header,
                const Store::RowFn& each, std::string* error) {
    std::vector<Value> row;
    return each_row(
        conn, sql, p,
        [&](const PGresult* r) {
            std::vector<std::string> names;
            for (int i = 0; i < PQnfields(r); ++i) {
                names.emplace_back(PQfname(r, i));
            }
            row.resize(names.size());
            header(names);
        },
        [&](const PGresult* r) {
            for (std::size_t i = 0; i < row.size(); ++i) {
                row[i] = value_at(r, 0, static_cast<int>(i));
            }
            return each(row);
        },
        error);
}

// The parameters of record_insert.
Params record_params(int64_t instrument_id, const vuxod_record& record) {
    const vuxod_measurement& m = *record.m;
    const bool v2 = m.generation == VUXOD_V2;
    Params p;
    p.integer(instrument_id)
        .integer(record.slot)
        .integer(record.key)
        .integer(record.entry_flags)
        .integer(m.number)
        .integer(m.id)
        .text(std::string_view(iso_taken_at(m)))
        .integer(m.kind)
        .integer(m.record_flags);
    v2 ? p.integer(m.unit_bits) : p.null(kInt8);
    p.integer(m.curve_s);
    v2 ? p.integer(m.curve_c) : p.null(kInt8);
    p.integer(m.pin).integer(m.error).integer(m.diameter);
    v2 ? p.integer(m.tag) : p.null(kInt8);
    p.number(m.susceptibility).text(std::string_view(m.susc_units));
    v2 ? p.number(m.conductivity) : p.null(kFloat8);
    v2 ? p.text(std::string_view(m.cond_units)) : p.null(kText);
    p.integer(m.first_count)
        .integer(m.value_count)
        .bytes(std::string_view(reinterpret_cast<const char*>(record.raw), record.raw_size))
        .text(std::string_view(iso_utc_now()));
    if (record.note != nullptr) {
        p.bytes(std::string_view(reinterpret_cast<const char*>(record.note), record.note_size));
    } else {
        p.null(kBytea);
    }
    // Only a scan's values are its own; the record's value area is kept in raw.
    const int32_t values = m.kind == VUXOD_KIND_SCAN ? m.values_decoded : 0;
    if (values > 0) {
        p.array(float_array(m.susc_values, values))
            .array(v2 ? float_array(m.cond_values, values) : null_array(values))
            .array(mark_array(m.marks, values));
    } else {
        p.null(0).null(0).null(0);
    }
    return p;
}

} // namespace

std::unique_ptr<Store> open_server_store(const std::string& uri, Store::Mode mode,
                                         std::string* error) {
    return PgStore::open(uri, mode, error);
}

bool server_store_writable(const std::string& uri, std::string* error) {
    return PgStore::open(uri, Store::Mode::write, error) != nullptr;
}

std::unique_ptr<PgStore> PgStore::open(const std::string& uri, Mode mode, std::string* error) {
    const char* keys[] = {"dbname", "fallback_application_name", nullptr};
    const char* values[] = {uri.c_str(), "vuxoint", nullptr};
    PGconn* conn = PQconnectdbParams(keys, values, 1);
    if (conn == nullptr) {
        *error = "out of memory";
        return nullptr;
    }
    std::unique_ptr<PgStore> store(new PgStore(conn, mode));
    if (lost(conn)) {
        *error = trimmed(PQerrorMessage(conn));
        return nullptr;
    }
    if (!store->set_up(error) ||
        !(mode == Mode::write ? store->migrate(error) : store->check_schema(error))) {
        return nullptr;
    }
    return store;
}

PgStore::~PgStore() {
    PQfinish(conn_);
}

// What every connection, the first and one made again, is set to.
bool PgStore::set_up(std::string* error) {
    // The server's notices (a trigger's, a schema's) are not the user's business.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
    return mode_ == Mode::read ? exec(conn_, "SET default_transaction_read_only = on", error)
                               : true;
}

bool PgStore::reconnected(std::string* error) {
    if (!lost(conn_)) {
        return false;
    }
    PQreset(conn_);
    if (lost(conn_)) {
        // libpq's account of the failed reconnection would not fit the sync's summary.
        *error = "the server closed the connection (and did not answer again)";
        return false;
    }
    return set_up(error);
}

// The version's table, or nothing of ours (and none of our tables): a
// database another program keeps tables of that name in is refused untouched.
static bool read_version(PGconn* conn, int64_t* version, std::string* error) {
    const Result r = wrap(PQexecParams(conn,
                                       "SELECT to_regclass('vuxoint_schema') IS NOT NULL, "
                                       "to_regclass('measurements') IS NOT NULL",
                                       0, nullptr, nullptr, nullptr, nullptr, 0));
    if (!ok(r, PGRES_TUPLES_OK)) {
        return failed(conn, r.get(), error);
    }
    const bool ours = PQgetvalue(r.get(), 0, 0)[0] == 't';
    const bool theirs = PQgetvalue(r.get(), 0, 1)[0] == 't';
    *version = 0;
    if (!ours) {
        if (theirs) {
            *error = "not a vuxoint database (another program's tables)";
            return false;
        }
        return true;
    }
    const Result v = wrap(PQexec(conn, "SELECT max(version) FROM vuxoint_schema"));
    if (!ok(v, PGRES_TUPLES_OK)) {
        return failed(conn, v.get(), error);
    }
    *version = std::atoll(PQgetvalue(v.get(), 0, 0));
    if (*version > kLatest) {
        *error = "written by a newer vuxoint (schema version " + std::to_string(*version) +
                 ", this one knows up to " + std::to_string(kLatest) + ")";
        return false;
    }
    return true;
}

bool PgStore::check_schema(std::string* error) {
    int64_t version = 0;
    if (!read_version(conn_, &version, error)) {
        return false;
    }
    if (version == 0) {
        *error = "not a vuxoint database (vuxoint sync creates its tables)";
        return false;
    }
    return true;
}

// In one transaction under one lock: of several programs meeting a new
// database at once, the first creates the schema and the others wait for it
// and find it there.
bool PgStore::migrate(std::string* error) {
    std::string ignored;
    if (!exec(conn_, "BEGIN", error)) {
        return false;
    }
    int64_t version = 0;
    bool good = exec(conn_, kSchemaLock, error) && read_version(conn_, &version, error);
    if (good && version < kLatest) {
        for (const Step& step : kSteps) {
            if (good && step.to_version > version) {
                good = exec(conn_, step.sql, error);
            }
        }
        const std::string stamp = "DELETE FROM vuxoint_schema; INSERT INTO vuxoint_schema "
                                  "VALUES (" +
                                  std::to_string(kLatest) + ")";
        good = good && exec(conn_, stamp.c_str(), error);
    }
    if (good && exec(conn_, "COMMIT", error)) {
        return true;
    }
    exec(conn_, "ROLLBACK", &ignored);
    return false;
}

bool PgStore::find_instrument(const std::string& serial, int64_t* id, std::string* firmware,
                              std::string* error) {
    for (bool again = false;; again = true) {
        Params p;
        p.bytes(std::string_view(serial));
        const Result r = run(conn_, kFindInstrument, p);
        if (ok(r, PGRES_TUPLES_OK)) {
            if (PQntuples(r.get()) == 0) {
                return false;
            }
            *id = integer_at(r.get(), 0, 0);
            *firmware = bytes_at(r.get(), 0, 1);
            return true;
        }
        if (again || !reconnected(error)) {
            if (error->empty()) {
                failed(conn_, r.get(), error);
            }
            return false;
        }
    }
}

bool PgStore::note_sync(const InstrumentInfo& info, int64_t* id, std::string* error) {
    for (bool again = false;; again = true) {
        Params p;
        p.bytes(std::string_view(info.serial))
            .text(std::string_view(generation_text(info.generation)))
            .bytes(std::string_view(info.firmware))
            .text(std::string_view(iso_utc_now()));
        const Result r = run(conn_, kNoteSync, p);
        if (ok(r, PGRES_TUPLES_OK) && PQntuples(r.get()) == 1) {
            *id = integer_at(r.get(), 0, 0);
            return true;
        }
        if (again || !reconnected(error)) {
            return error->empty() ? failed(conn_, r.get(), error) : false;
        }
    }
}

bool PgStore::instruments(const std::optional<std::string>& serial,
                          std::vector<StoredInstrument>* out, std::string* error) {
    Params p;
    p.bytes(serial);
    const Result r = run(conn_, kInstruments, p);
    if (!ok(r, PGRES_TUPLES_OK)) {
        return failed(conn_, r.get(), error);
    }
    for (int i = 0; i < PQntuples(r.get()); ++i) {
        out->push_back({bytes_at(r.get(), i, 0), bytes_at(r.get(), i, 1), bytes_at(r.get(), i, 2),
                        bytes_at(r.get(), i, 3)});
    }
    return true;
}

bool PgStore::has(int64_t instrument_id, int32_t slot, uint32_t key, std::string* error) {
    Params p;
    p.integer(instrument_id).integer(slot).integer(key);
    const Result r = run(conn_, kHas, p);
    if (!ok(r, PGRES_TUPLES_OK)) {
        failed(conn_, r.get(), error);
        return false;
    }
    return PQntuples(r.get()) > 0;
}

bool PgStore::held(const std::string& serial, std::vector<vuxod_slot_key>* out,
                   std::string* error) {
    for (bool again = false;; again = true) {
        Params p;
        p.bytes(std::string_view(serial));
        const Result r = run(conn_, kHeld, p);
        if (ok(r, PGRES_TUPLES_OK)) {
            for (int i = 0; i < PQntuples(r.get()); ++i) {
                out->push_back({static_cast<int32_t>(integer_at(r.get(), i, 0)),
                                static_cast<uint32_t>(integer_at(r.get(), i, 1))});
            }
            return true;
        }
        if (again || !reconnected(error)) {
            return error->empty() ? failed(conn_, r.get(), error) : false;
        }
    }
}

// A connection lost in the middle of a record took its transaction with it:
// the record is stored whole once more on a new connection, and when its
// COMMIT went through before the loss, the new insert finds it held.
bool PgStore::put_all(int64_t instrument_id, const std::vector<const vuxod_record*>& records,
                      std::vector<PutResult>* results, std::string* error) {
    if (put_once(instrument_id, records, results, error)) {
        return true;
    }
    if (!lost(conn_)) {
        return false;
    }
    // A COMMIT that went through before the loss leaves its records already held.
    std::string why;
    if (!reconnected(&why)) {
        *error = why;
        return false;
    }
    error->clear();
    return put_once(instrument_id, records, results, error);
}

// The batch in one transaction, sent in one go (libpq's pipeline): BEGIN, one
// statement a record, COMMIT, and only then the answers are read, so a batch
// costs one exchange with the server however far away it is.
bool PgStore::put_once(int64_t instrument_id, const std::vector<const vuxod_record*>& records,
                       std::vector<PutResult>* results, std::string* error) {
    results->assign(records.size(), PutResult::failed);
    if (PQenterPipelineMode(conn_) != 1) {
        return failed(conn_, nullptr, error);
    }
    const std::string insert = dollars(record_insert());
    bool sent = PQsendQueryParams(conn_, "BEGIN", 0, nullptr, nullptr, nullptr, nullptr, 0) == 1;
    for (const vuxod_record* record : records) {
        const Params p = record_params(instrument_id, *record);
        const std::vector<const char*> values = p.values();
        sent = sent && PQsendQueryParams(conn_, insert.c_str(), p.count(), p.types(), values.data(),
                                         p.lengths(), p.formats(), 1) == 1;
    }
    sent =
        sent && PQsendQueryParams(conn_, "COMMIT", 0, nullptr, nullptr, nullptr, nullptr, 0) == 1;
    sent = sent && PQpipelineSync(conn_) == 1;
    // The answers in order: BEGIN, a count a record, COMMIT, then the sync.
    std::vector<PutResult> done;
    bool good = sent;
    std::size_t answer = 0;
    bool ended = false; // a statement's answers just ended
    while (sent && !lost(conn_)) {
        const Result r = wrap(PQgetResult(conn_));
        if (!r) {
            // One NULL ends a statement's answers; two in a row, nothing more comes.
            if (ended) {
                sent = false;
                break;
            }
            ended = true;
            continue;
        }
        ended = false;
        const ExecStatusType status = PQresultStatus(r.get());
        if (status == PGRES_PIPELINE_SYNC) {
            break;
        }
        const bool for_record = answer >= 1 && answer <= records.size();
        ++answer;
        if (status == PGRES_TUPLES_OK && for_record) {
            done.push_back(integer_at(r.get(), 0, 0) > 0 ? PutResult::stored
                                                         : PutResult::already_held);
        } else if (status != PGRES_COMMAND_OK) {
            if (good) {
                failed(conn_, r.get(), error);
            }
            good = false;
        }
    }
    if (!sent || lost(conn_)) {
        good = false;
        failed(conn_, nullptr, error);
    }
    PQexitPipelineMode(conn_);
    if (!good || done.size() != records.size()) {
        // A failed statement leaves the transaction aborted; nothing of it stays.
        std::string ignored;
        exec(conn_, "ROLLBACK", &ignored);
        return false;
    }
    // Counted as stored only once the server said its COMMIT went through.
    *results = std::move(done);
    return true;
}

bool PgStore::query(const QueryFilter& filter, const HeaderFn& header, const RowFn& each,
                    std::string* error) {
    return value_rows(conn_,
                      std::string(filter.scans ? kScanRows : kMeasurementRows) +
                          order_by(filter, filter.scans),
                      filter_params(filter), header, each, error);
}

bool PgStore::page(const PageQuery& q, const HeaderFn& header, const RowFn& each, int64_t* total,
                   std::string* error) {
    const auto params = [&q](bool limits) {
        Params p = filter_params(q.filter);
        for (const std::optional<int64_t>& n : {q.kind}) {
            n ? p.integer(*n) : p.null(kInt8);
        }
        p.bytes(q.note);
        for (const std::optional<int64_t>& n : {q.slot, q.key}) {
            n ? p.integer(*n) : p.null(kInt8);
        }
        if (limits) {
            p.integer(std::max<int64_t>(q.limit, 0)).integer(std::max<int64_t>(q.offset, 0));
        }
        return p;
    };
    // The dialect's test for a note (bytes) holding the text.
    const std::string choice =
        page_choice("position(?5 in coalesce(" + std::string(kNoteText) + ", ''::bytea)) > 0");
    const bool counted = each_row(
        conn_, "SELECT count(*) " + choice, params(false), [](const PGresult*) {},
        [&](const PGresult* r) {
            *total = integer_at(r, 0, 0);
            return true;
        },
        error);
    if (!counted) {
        return false;
    }
    const std::string order =
        "ORDER BY " + page_sort_column(q.sort) + (q.descending ? " DESC, " : ", ") + "m.id";
    return value_rows(conn_,
                      std::string(kMeasurementRows) + " AND m.id IN (SELECT m.id " + choice +
                          order + " LIMIT ?8 OFFSET ?9) " + order,
                      params(true), header, each, error);
}

bool PgStore::records(const QueryFilter& filter, const RecordFn& each, std::string* error) {
    StoredRecord s;
    return each_row(
        conn_, std::string(kRecords) + order_by(filter, false), filter_params(filter),
        [](const PGresult*) {},
        [&](const PGresult* r) {
            s.instrument = bytes_at(r, 0, 0);
            s.generation = generation_of(bytes_at(r, 0, 1));
            s.slot = integer_at(r, 0, 2);
            s.key = integer_at(r, 0, 3);
            s.number = integer_at(r, 0, 4);
            s.taken_at = bytes_at(r, 0, 5);
            s.kind = integer_at(r, 0, 6);
            const std::string raw = bytes_at(r, 0, 7);
            s.raw.assign(raw.begin(), raw.end());
            s.entry_flags = integer_at(r, 0, 8);
            s.note.reset();
            if (PQgetisnull(r, 0, 9) == 0) {
                s.note = bytes_at(r, 0, 9);
            }
            return each(s);
        },
        error);
}

} // namespace vuxocli
