// The export formats, writing rows of named values as they come:
//   csv     RFC 4180: a header row, then one row per record; fields quoted when
//           they hold a comma, a quote or a line break; lines end in CRLF; NULL
//           is an empty field
//   json    one array of objects, keys in column order, NULL as null
//   ndjson  one object per line, the same keys
// Floats everywhere in their shortest round-trip form (number_text.h); texts
// through the one escape rule (shown_text.h), since a serial number is raw bytes.
#ifndef VUXOD_EXPORT_WRITER_H
#define VUXOD_EXPORT_WRITER_H

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store.h"

namespace vuxocli {

enum class Format { csv, json, ndjson };

std::optional<Format> parse_format(std::string_view name);

// Takes the bytes as they are written; false when they could not be, and the
// writer then writes nothing more.
using Sink = std::function<bool(std::string_view bytes)>;

class RowWriter {
  public:
    virtual ~RowWriter() = default;
    virtual void header(const std::vector<std::string>& names) = 0;
    virtual void row(const std::vector<Value>& values) = 0;
    virtual void finish() = 0;
    // False once the sink refused bytes.
    bool ok() const { return ok_; }

  protected:
    explicit RowWriter(Sink sink) : sink_(std::move(sink)) {}
    void write(std::string_view text) { ok_ = ok_ && sink_(text); }

  private:
    Sink sink_;
    bool ok_ = true;
};

std::unique_ptr<RowWriter> make_writer(Format format, Sink sink);

// A cell as text: integers in decimal, floats in their round-trip form, texts
// escaped, NULL empty.
std::string cell_text(const Value& v);

// One CSV field, quoted when it must be.
std::string csv_field(std::string_view text);

} // namespace vuxocli

#endif
