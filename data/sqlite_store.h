// The store in one SQLite file (schema.h), in WAL mode, one record per
// transaction. A reader never waits for a writer; two writers take turns.
#ifndef VUXOCLI_SQLITE_STORE_H
#define VUXOCLI_SQLITE_STORE_H

#include <sqlite3.h>

#include "sqlite_handle.h"
#include "store.h"

namespace vuxocli {

class SqliteStore final : public Store {
  public:
    // Reading leaves no -wal or -shm file behind, so it works on read-only
    // media and in a directory the user cannot write.
    static std::unique_ptr<SqliteStore> open(const std::string& path, Mode mode,
                                             std::string* error);
    // An existing file is opened for writing (and brought up to date); for a
    // missing one its directory must be writable.
    static bool check_writable(const std::string& path, std::string* error);
    ~SqliteStore() override;

    bool find_instrument(const std::string& serial, int64_t* id, std::string* firmware,
                         std::string* error) override;
    bool note_sync(const InstrumentInfo& info, int64_t* id, std::string* error) override;
    bool instruments(const std::optional<std::string>& serial, std::vector<StoredInstrument>* out,
                     std::string* error) override;
    bool has(int64_t instrument_id, int32_t slot, uint32_t key, std::string* error) override;
    bool held(const std::string& serial, std::vector<vuxod_slot_key>* out,
              std::string* error) override;
    bool put_all(int64_t instrument_id, const std::vector<const vuxod_record*>& records,
                 std::vector<PutResult>* results, std::string* error) override;
    bool query(const QueryFilter& filter, const HeaderFn& header, const RowFn& each,
               std::string* error) override;
    bool page(const PageQuery& q, const HeaderFn& header, const RowFn& each, int64_t* total,
              std::string* error) override;
    bool records(const QueryFilter& filter, const RecordFn& each, std::string* error) override;

  private:
    // The record's rows, inside the caller's transaction.
    PutResult insert(int64_t instrument_id, const vuxod_record& record, std::string* error);
    explicit SqliteStore(sqlite3* db) : db_(db) {}
    bool prepare(std::string* error);

    sqlite3* db_ = nullptr;
    Statement insert_measurement_;
    Statement insert_value_;
    Statement has_;
};

} // namespace vuxocli

#endif
