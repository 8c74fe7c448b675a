// The export formats, writing rows of named values as they come:
//   csv     RFC 4180: a header row, then one row per record; fields quoted when
//           they hold a comma, a quote or a line break; lines end in CRLF; NULL
//           is an empty field
//   json    one array of objects, keys in column order, NULL as null
//   ndjson  one object per line, the same keys
// Floats everywhere in their shortest round-trip form (number_text.h); texts
// through the one escape rule (shown_text.h), since a serial number is raw bytes.
#ifndef VUXOCLI_EXPORT_FORMATS_H
#define VUXOCLI_EXPORT_FORMATS_H

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store.h"

namespace vuxocli {

enum class Format { csv, json, ndjson };

std::optional<Format> parse_format(std::string_view name);

class RowWriter {
  public:
    virtual ~RowWriter() = default;
    virtual void header(const std::vector<std::string>& names) = 0;
    virtual void row(const std::vector<Value>& values) = 0;
    virtual void finish() = 0;
};

// Writes to out, which stays the caller's.
std::unique_ptr<RowWriter> make_writer(Format format, std::FILE* out);

// A cell as text: integers in decimal, floats in their round-trip form, texts
// escaped, NULL empty.
std::string cell_text(const Value& v);

// One CSV field, quoted when it must be.
std::string csv_field(std::string_view text);

} // namespace vuxocli

#endif
