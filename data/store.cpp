#include "store.h"

#include <cstdio>
#include <ctime>

#include "civil_time.h"
#include "store_engines.h"

namespace vuxocli {

bool names_server(const std::string& path) {
    return path.starts_with("postgresql://") || path.starts_with("postgres://");
}

std::unique_ptr<Store> Store::open(const std::string& path, Mode mode, std::string* error) {
    return names_server(path) ? open_server_store(path, mode, error)
                              : open_file_store(path, mode, error);
}

bool Store::check_writable(const std::string& path, std::string* error) {
    return names_server(path) ? server_store_writable(path, error)
                              : file_store_writable(path, error);
}

PutResult InstrumentRecords::keep(const vuxod_record& record, std::string* error) {
    if (!noted && !store->note_sync(info, &instrument_id, error)) {
        return PutResult::failed;
    }
    noted = true;
    return store->put(instrument_id, record, error);
}

bool InstrumentRecords::keep_all(const std::vector<const vuxod_record*>& records,
                                 std::vector<PutResult>* results, std::string* error) {
    if (!noted && !store->note_sync(info, &instrument_id, error)) {
        results->assign(records.size(), PutResult::failed);
        return false;
    }
    noted = true;
    return store->put_all(instrument_id, records, results, error);
}

PutResult Store::put(int64_t instrument_id, const vuxod_record& record, std::string* error) {
    std::vector<PutResult> results;
    put_all(instrument_id, {&record}, &results, error);
    return results.empty() ? PutResult::failed : results.front();
}

std::string iso_taken_at(const vuxod_measurement& m) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", m.year, m.month, m.day,
                  m.hour, m.minute, m.second);
    return text;
}

std::string iso_utc_now() {
    return vuxo::iso_text(vuxo::civil_from_seconds(std::time(nullptr))) + "Z";
}

} // namespace vuxocli
