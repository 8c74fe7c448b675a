// The rows of the export format, built from the store for every front (the
// export's writers, the report's table, Python): measurement rows, or one row per
// reading, with the kind in words, optional SI units and the format's version.
#ifndef VUXOD_EXPORT_ROWS_H
#define VUXOD_EXPORT_ROWS_H

#include <functional>
#include <memory>
#include <string>

#include "store.h"

namespace vuxocli {

struct ExportQuery {
    QueryFilter filter; // filter.scans: one row per reading
    bool si = false;    // CGS susceptibility and Ohm.m resistivity in SI units
};

// Calls header once, then each per row (returning false stops quietly). False
// with *error when the store failed.
bool export_rows(Store& store, const ExportQuery& query, const Store::HeaderFn& header,
                 const Store::RowFn& each, std::string* error);

// "single", "scan", "none" or "other" for a kind of the record flags.
const char* kind_text(int64_t kind);

// Opens the database for reading as export and report do. VUXOD_OK, or
// VUXOD_E_DATABASE with the message ("database F: open: ...") in *message. A
// serial number the file does not know is no failure (it selects nothing), but
// notice hears of it, since a mistyped one would otherwise pass unseen.
int open_to_read(const std::string& db, const std::string& instrument,
                 std::unique_ptr<Store>* store, std::string* message,
                 const std::function<void(const std::string&)>& notice);

} // namespace vuxocli

#endif
