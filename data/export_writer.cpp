#include "export_writer.h"

#include <nlohmann/json.hpp>

#include "number_text.h"
#include "shown_text.h"

namespace vuxocli {

namespace {

// Floats held as float, so that the JSON text is the float's shortest form.
using Json = nlohmann::basic_json<nlohmann::ordered_map, std::vector, std::string, bool, int64_t,
                                  uint64_t, float>;

Json cell_json(const Value& v) {
    if (const auto* i = std::get_if<int64_t>(&v)) {
        return *i;
    }
    if (const auto* d = std::get_if<double>(&v)) {
        return static_cast<float>(*d);
    }
    if (const auto* s = std::get_if<std::string>(&v)) {
        return shown(*s);
    }
    return nullptr;
}

class CsvWriter : public RowWriter {
  public:
    explicit CsvWriter(Sink sink) : RowWriter(std::move(sink)) {}
    void header(const std::vector<std::string>& names) override {
        std::vector<Value> cells(names.begin(), names.end());
        row(cells);
    }
    void row(const std::vector<Value>& values) override {
        std::string line;
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (i > 0) {
                line += ',';
            }
            line += csv_field(cell_text(values[i]));
        }
        line += "\r\n";
        write(line);
    }
    void finish() override {}
};

class JsonWriter : public RowWriter {
  public:
    JsonWriter(Sink sink, bool lines) : RowWriter(std::move(sink)), lines_(lines) {}
    void header(const std::vector<std::string>& names) override { names_ = names; }
    void row(const std::vector<Value>& values) override {
        Json object = Json::object();
        for (std::size_t i = 0; i < values.size() && i < names_.size(); ++i) {
            object[names_[i]] = cell_json(values[i]);
        }
        if (!lines_) {
            write(first_ ? "[\n" : ",\n");
        }
        first_ = false;
        write(object.dump());
        if (lines_) {
            write("\n");
        }
    }
    void finish() override {
        if (!lines_) {
            write(first_ ? "[]\n" : "\n]\n");
        }
    }

  private:
    bool lines_;
    bool first_ = true;
    std::vector<std::string> names_;
};

} // namespace

std::optional<Format> parse_format(std::string_view name) {
    if (name == "csv") {
        return Format::csv;
    }
    if (name == "json") {
        return Format::json;
    }
    if (name == "ndjson") {
        return Format::ndjson;
    }
    return std::nullopt;
}

std::unique_ptr<RowWriter> make_writer(Format format, Sink sink) {
    if (format == Format::csv) {
        return std::make_unique<CsvWriter>(std::move(sink));
    }
    return std::make_unique<JsonWriter>(std::move(sink), format == Format::ndjson);
}

std::string csv_field(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

std::string cell_text(const Value& v) {
    if (const auto* i = std::get_if<int64_t>(&v)) {
        return std::to_string(*i);
    }
    if (const auto* d = std::get_if<double>(&v)) {
        return number_text(*d);
    }
    if (const auto* s = std::get_if<std::string>(&v)) {
        return shown(*s);
    }
    return {};
}

} // namespace vuxocli
