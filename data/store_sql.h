// The store's statements, one text for every engine: written with ?N positions,
// which an engine that numbers them otherwise rewrites, so that only the
// dialect differs between the engines.
#ifndef VUXOCLI_STORE_SQL_H
#define VUXOCLI_STORE_SQL_H

#include <map>
#include <string>

#include "store.h"

namespace vuxocli::sql {

inline constexpr const char* kInsertMeasurement = R"sql(
INSERT INTO measurements (instrument_id, slot, key, entry_flags, number, record_id, taken_at,
    kind, record_flags, unit_bits, curve_s, curve_c, pin, error, diameter, tag, susceptibility,
    susceptibility_units, conductivity, conductivity_units, first_count, value_count, raw,
    downloaded_at)
VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19,
    ?20, ?21, ?22, ?23, ?24)
ON CONFLICT (instrument_id, slot, key) DO NOTHING
)sql";

inline constexpr const char* kInsertValue =
    "INSERT INTO scan_values (measurement_id, idx, susceptibility, conductivity, mark) "
    "VALUES (?1, ?2, ?3, ?4, ?5)";

inline constexpr const char* kInsertNote =
    "INSERT INTO notes (measurement_id, text) VALUES (?1, ?2)";

inline constexpr const char* kHas =
    "SELECT 1 FROM measurements WHERE instrument_id = ?1 AND slot = ?2 AND key = ?3";

inline constexpr const char* kHeld = "SELECT m.slot, m.key FROM measurements m "
                                     "JOIN instruments i ON i.id = m.instrument_id "
                                     "WHERE i.serial = ?1 ORDER BY m.slot, m.key";

inline constexpr const char* kFindInstrument =
    "SELECT id, firmware FROM instruments WHERE serial = ?1";

// One statement, so that two syncs of one instrument at once lose neither's update.
inline constexpr const char* kNoteSync =
    "INSERT INTO instruments (serial, generation, firmware, first_sync, "
    "last_sync) VALUES (?1, ?2, ?3, ?4, ?4) "
    "ON CONFLICT (serial) DO UPDATE SET firmware = ?3, last_sync = ?4 "
    "RETURNING id";

// The note's text, where a store of an older schema without notes says NULL.
inline constexpr const char* kNoteText = "(SELECT text FROM notes WHERE measurement_id = m.id)";

inline constexpr const char* kMeasurementRows = R"sql(
SELECT i.serial AS instrument, i.generation, m.slot, m.key, m.entry_flags & 1 AS note,
    (SELECT text FROM notes WHERE measurement_id = m.id) AS note_text, m.number,
    m.record_id AS id, m.taken_at, m.kind, m.record_flags, m.unit_bits, m.curve_s, m.curve_c,
    m.pin, m.error, m.diameter, m.tag, m.susceptibility, m.susceptibility_units, m.conductivity,
    m.conductivity_units, m.first_count, m.value_count, m.downloaded_at
FROM measurements m JOIN instruments i ON i.id = m.instrument_id
WHERE (?1 IS NULL OR i.serial = ?1) AND (?2 IS NULL OR m.taken_at >= ?2)
    AND (?3 IS NULL OR m.taken_at <= ?3)
)sql";

inline constexpr const char* kScanRows = R"sql(
SELECT i.serial AS instrument, i.generation, m.slot, m.key, m.number, m.taken_at,
    v.idx AS "index", v.susceptibility, m.susceptibility_units, v.conductivity,
    m.conductivity_units, v.mark
FROM scan_values v JOIN measurements m ON m.id = v.measurement_id
    JOIN instruments i ON i.id = m.instrument_id
WHERE (?1 IS NULL OR i.serial = ?1) AND (?2 IS NULL OR m.taken_at >= ?2)
    AND (?3 IS NULL OR m.taken_at <= ?3)
)sql";

// The same measurements as kMeasurementRows, with what decoding and storing
// their record again needs.
inline constexpr const char* kRecords = R"sql(
SELECT i.serial, i.generation, m.slot, m.key, m.number, m.taken_at, m.kind, m.raw,
    m.entry_flags, (SELECT text FROM notes WHERE measurement_id = m.id)
FROM measurements m JOIN instruments i ON i.id = m.instrument_id
WHERE (?1 IS NULL OR i.serial = ?1) AND (?2 IS NULL OR m.taken_at >= ?2)
    AND (?3 IS NULL OR m.taken_at <= ?3)
)sql";

inline constexpr const char* kInstruments =
    "SELECT serial, generation, firmware, last_sync FROM instruments "
    "WHERE ?1 IS NULL OR serial = ?1 ORDER BY serial";

// Ties in time (records of one moment, or an instrument whose clock was never
// set) fall back to the key order, so the order is the same on every run.
inline std::string order_by(const QueryFilter& f, bool scan_values) {
    std::string order = f.key_order ? "ORDER BY i.serial, m.key, m.slot, m.id"
                                    : "ORDER BY m.taken_at, i.serial, m.key, m.slot, m.id";
    return scan_values ? order + ", v.idx" : order;
}

// The measurements a page chooses from: the filter, the kind, a note's text, one
// record. No join: with no condition given, the ids come straight from an index.
// note_holds: the dialect's test that the note's text holds ?5.
inline std::string page_choice(const std::string& note_holds) {
    return R"sql(
FROM measurements m
WHERE (?1 IS NULL OR m.instrument_id = (SELECT id FROM instruments WHERE serial = ?1))
    AND (?2 IS NULL OR m.taken_at >= ?2) AND (?3 IS NULL OR m.taken_at <= ?3)
    AND (?4 IS NULL OR m.kind = ?4)
    AND (?5 IS NULL OR )sql" +
           note_holds + R"sql()
    AND (?6 IS NULL OR m.slot = ?6) AND (?7 IS NULL OR m.key = ?7)
)sql";
}

// The columns a page may be sorted by; the names are the rows' own.
inline std::string page_sort_column(const std::string& name) {
    static const std::map<std::string, std::string> columns = {
        {"instrument", "(SELECT serial FROM instruments WHERE id = m.instrument_id)"},
        {"number", "m.number"},
        {"taken_at", "m.taken_at"},
        {"kind", "m.kind"},
        {"susceptibility", "m.susceptibility"},
        {"conductivity", "m.conductivity"}};
    const auto it = columns.find(name);
    return it == columns.end() ? "m.taken_at" : it->second;
}

inline const char* generation_text(int generation) {
    return generation == VUXOD_V1 ? "V1" : "V2";
}

inline int generation_of(std::string_view text) {
    return text == "V1" ? VUXOD_V1 : text == "V2" ? VUXOD_V2 : -1;
}

} // namespace vuxocli::sql

#endif
