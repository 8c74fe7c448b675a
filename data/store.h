// The local store of downloaded measurements: one SQLite file (schema.h), in
// WAL mode, written one record per transaction so that whatever was stored
// before an interruption (Ctrl-C, kill -9, an unplugged cable) stays stored.
//
// open, has, put and query are all a subcommand needs; nothing stored is ever
// changed or deleted (the schema's triggers refuse it).
#ifndef VUXOCLI_STORE_H
#define VUXOCLI_STORE_H

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "sqlite_handle.h"
#include "vuxodata.h"

namespace vuxocli {

struct InstrumentInfo {
    std::string serial;
    int generation = -1; // VUXOD_V1 or VUXOD_V2
    std::string firmware;
};

// One exported cell: NULL, an integer, a number (a float as the instrument
// stored it) or text.
using Value = std::variant<std::monostate, int64_t, double, std::string>;

struct QueryFilter {
    std::optional<std::string> serial; // one instrument only
    std::optional<std::string> since;  // taken_at at or after this ISO 8601 text
    std::optional<std::string> until;  // taken_at at or before this ISO 8601 text
    bool scans = false;                // one row per scan value instead of per measurement
};

enum class PutResult { stored, already_held, failed };

class Store {
  public:
    enum class Mode { write, read };

    // Opens (write: creates when missing) and checks the file; brings an older
    // schema up to date (write only). Null with the reason in *error. Reading
    // writes nothing and leaves no -wal or -shm file behind, so it works on
    // read-only media and in a directory the user cannot write.
    static std::unique_ptr<Store> open(const std::string& path, Mode mode, std::string* error);
    // What a write open would say, without creating a missing file: an
    // existing one is opened for writing (and brought up to date), for a
    // missing one its directory must be writable. False with the reason.
    static bool check_writable(const std::string& path, std::string* error);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // The instrument's row, when it has one: *id and its recorded *firmware.
    bool find_instrument(const std::string& serial, int64_t* id, std::string* firmware,
                         std::string* error);
    // Records the instrument (first and last sync now) or updates its firmware
    // and last sync; *id receives its row id.
    bool note_sync(const InstrumentInfo& info, int64_t* id, std::string* error);

    bool has(int64_t instrument_id, int32_t slot, uint32_t key, std::string* error);
    // Every (slot, key) held for the instrument with this serial number, in
    // ascending (slot, key) order.
    bool held(const std::string& serial, std::vector<vuxod_slot_key>* out, std::string* error);
    // Stores the record, its decoded fields and its scan values in one transaction.
    PutResult put(int64_t instrument_id, const vuxod_record& record, std::string* error);

    // Calls header once with the column names, then each with the values of
    // every row the filter selects, by instrument and then in the instrument's
    // order of keys. False with *error when the query failed; each returning
    // false stops it quietly.
    using HeaderFn = std::function<void(const std::vector<std::string>& names)>;
    using RowFn = std::function<bool(const std::vector<Value>& row)>;
    bool query(const QueryFilter& filter, const HeaderFn& header, const RowFn& each,
               std::string* error);

    sqlite3* handle() const { return db_; }

  private:
    explicit Store(sqlite3* db) : db_(db) {}
    bool prepare(std::string* error);

    sqlite3* db_ = nullptr;
    Statement insert_measurement_;
    Statement insert_value_;
    Statement has_;
};

// One instrument's records stored as every front stores them: the instrument's row
// written (new, or its firmware and last sync moved on) with the first record, each
// record in its own transaction under the (instrument, slot, key) identity.
struct InstrumentRecords {
    Store* store = nullptr;
    InstrumentInfo info;
    bool noted = false; // the row was written by this run
    int64_t instrument_id = 0;

    PutResult keep(const vuxod_record& record, std::string* error);
};

// ISO 8601 texts: the instrument's own time (no zone) and the current UTC time.
std::string iso_taken_at(const vuxod_measurement& m);
std::string iso_utc_now();

} // namespace vuxocli

#endif
