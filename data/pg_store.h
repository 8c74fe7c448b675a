// The store on a PostgreSQL server, named by libpq's connection URI
// (postgresql://USER@HOST[:PORT]/DBNAME?...; the password from libpq's own
// sources, PGPASSWORD or ~/.pgpass). Many programs on many machines write one
// database at once: each record is one transaction whose insert does nothing
// when the (instrument, slot, key) is held, so every record is stored once.
//
// The serial number, the firmware and a note's text are the instrument's bytes
// and are kept as BYTEA; integers as BIGINT, floats as DOUBLE PRECISION, so a
// query answers with the same values and types as the SQLite file.
#ifndef VUXOCLI_PG_STORE_H
#define VUXOCLI_PG_STORE_H

#include <libpq-fe.h>

#include <string>

#include "store.h"

namespace vuxocli {

class PgStore final : public Store {
  public:
    // Write: brings the database's schema up to date. Read: every transaction
    // is read-only, so a reader's role needs no more than SELECT.
    static std::unique_ptr<PgStore> open(const std::string& uri, Mode mode, std::string* error);
    ~PgStore() override;

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
    bool records(const QueryFilter& filter, const RecordFn& each, std::string* error) override;
    bool page(const PageQuery& q, const HeaderFn& header, const RowFn& each, int64_t* total,
              std::string* error) override;

  private:
    PgStore(PGconn* conn, Mode mode) : conn_(conn), mode_(mode) {}
    bool set_up(std::string* error);
    bool migrate(std::string* error);
    bool check_schema(std::string* error);
    // After a lost connection: one new try to reach the server, and false
    // with the reason when the connection was not lost or did not come back.
    bool reconnected(std::string* error);
    bool put_once(int64_t instrument_id, const std::vector<const vuxod_record*>& records,
                  std::vector<PutResult>* results, std::string* error);

    PGconn* conn_ = nullptr;
    Mode mode_;
};

} // namespace vuxocli

#endif
