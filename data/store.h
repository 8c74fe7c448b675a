// The local store of downloaded measurements, whatever engine keeps them: each
// record is written in a transaction of its own, so that whatever was stored
// before an interruption (Ctrl-C, kill -9, an unplugged cable) stays stored.
//
// open, has, put and query are all a subcommand needs; nothing stored is ever
// changed or deleted. No engine's handle leaves the store: a front that needs
// something else from it gets a method here.
#ifndef VUXOCLI_STORE_H
#define VUXOCLI_STORE_H

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

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
    // By instrument and then in the instrument's order of keys, instead of by
    // the time each was taken.
    bool key_order = false;
};

// One page of measurement rows, for a front that shows the store a screen at a
// time: the filter plus a kind, a note text, one exact record, a sort and a window.
struct PageQuery {
    QueryFilter filter;              // its scans and key_order are ignored
    std::optional<int64_t> kind;     // enum vuxod_kind
    std::optional<std::string> note; // measurements whose note text holds this
    std::optional<int64_t> slot;     // with key: the one record of filter.serial
    std::optional<int64_t> key;
    // One of the measurement columns instrument, number, taken_at, kind,
    // susceptibility, conductivity; anything else sorts by taken_at. Ties go
    // by the order the measurements were stored.
    std::string sort = "taken_at";
    bool descending = false;
    int64_t offset = 0;
    int64_t limit = 50;
};

enum class PutResult { stored, already_held, failed };

// An instrument's row as stored; the serial is the instrument's bytes, as it sent them.
struct StoredInstrument {
    std::string serial;
    std::string generation; // "V1" or "V2"
    std::string firmware;
    std::string last_sync;
};

// A measurement's record as it came from the instrument, for decoding again.
struct StoredRecord {
    std::string instrument; // the serial, as the instrument sent it
    int generation = -1;    // VUXOD_V1 or VUXOD_V2
    int64_t slot = 0;
    int64_t key = 0;
    int64_t number = 0;
    std::string taken_at;
    int64_t kind = 0;
    std::vector<uint8_t> raw;
    int64_t entry_flags = 0;
    std::optional<std::string> note; // a V1 note's text, the instrument's bytes
};

class Store {
  public:
    enum class Mode { write, read };

    // Opens (write: creates when missing) and checks the store; brings an
    // older schema up to date (write only). Null with the reason in *error.
    // Reading writes nothing, so it works where the user may not write.
    static std::unique_ptr<Store> open(const std::string& path, Mode mode, std::string* error);
    // What a write open would say, without creating a missing store. False
    // with the reason.
    static bool check_writable(const std::string& path, std::string* error);
    virtual ~Store() = default;
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // The instrument's row, when it has one: *id and its recorded *firmware.
    virtual bool find_instrument(const std::string& serial, int64_t* id, std::string* firmware,
                                 std::string* error) = 0;
    // Records the instrument (first and last sync now) or updates its firmware
    // and last sync; *id receives its row id.
    virtual bool note_sync(const InstrumentInfo& info, int64_t* id, std::string* error) = 0;
    // Every instrument, or the one with this serial, by serial.
    virtual bool instruments(const std::optional<std::string>& serial,
                             std::vector<StoredInstrument>* out, std::string* error) = 0;

    virtual bool has(int64_t instrument_id, int32_t slot, uint32_t key, std::string* error) = 0;
    // Every (slot, key) held for the instrument with this serial number, in
    // ascending (slot, key) order.
    virtual bool held(const std::string& serial, std::vector<vuxod_slot_key>* out,
                      std::string* error) = 0;
    // Stores the records, their decoded fields, notes and scan values in one
    // transaction (so a batch costs one commit), each result in (*results)[i];
    // on false nothing of the batch was stored.
    virtual bool put_all(int64_t instrument_id, const std::vector<const vuxod_record*>& records,
                         std::vector<PutResult>* results, std::string* error) = 0;
    // put_all of one record.
    PutResult put(int64_t instrument_id, const vuxod_record& record, std::string* error);

    // Calls header once with the column names, then each with the values of
    // every row the filter selects: by time taken (ties by instrument, then
    // key), or with key_order by instrument and then in the instrument's
    // order of keys. False with *error when the query failed; each returning
    // false stops it quietly.
    using HeaderFn = std::function<void(const std::vector<std::string>& names)>;
    using RowFn = std::function<bool(const std::vector<Value>& row)>;
    virtual bool query(const QueryFilter& filter, const HeaderFn& header, const RowFn& each,
                       std::string* error) = 0;

    // The rows query gives for measurements, narrowed and ordered by q, from
    // q.offset for at most q.limit rows; *total receives how many match in all.
    virtual bool page(const PageQuery& q, const HeaderFn& header, const RowFn& each, int64_t* total,
                      std::string* error) = 0;

    // The records of the measurements query selects (its scans ignored), in
    // the same order. False with *error when reading failed; each returning
    // false stops it quietly.
    using RecordFn = std::function<bool(const StoredRecord& record)>;
    virtual bool records(const QueryFilter& filter, const RecordFn& each, std::string* error) = 0;

  protected:
    Store() = default;
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
    // put_all, after the instrument's row.
    bool keep_all(const std::vector<const vuxod_record*>& records, std::vector<PutResult>* results,
                  std::string* error);
};

// True when the store's name is a PostgreSQL server's URI (postgresql:// or
// postgres://) rather than a file's path.
bool names_server(const std::string& path);

// ISO 8601 texts: the instrument's own time (no zone) and the current UTC time.
std::string iso_taken_at(const vuxod_measurement& m);
std::string iso_utc_now();

} // namespace vuxocli

#endif
