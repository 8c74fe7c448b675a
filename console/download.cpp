// The log download both generations share.
#include "download.h"

#include <vector>

#include "command_error.h"
#include "entry_table.h"
#include "le.h"

namespace vuxotest {

namespace {

// Reads the entry count; -1 after a failure that is already reported.
int64_t read_entry_count(std::FILE* out, int conn_id, const Log_format& f) {
    std::vector<unsigned char> params(f.param_size, 0);
    const int rc = f.get_params(conn_id, params.data(), 1);
    if (rc != 0) {
        print_command_error(out, f.step, rc);
        return -1;
    }
    return vuxo::load_le<uint32_t>(params.data() + f.count_offset);
}

bool download_pages(std::FILE* out, int conn_id, const Log_format& f, Entry_table& table,
                    uint32_t count) {
    for (uint32_t first = 0; first < count; first += f.page_entries) {
        const auto first_index = static_cast<int32_t>(first);
        if (f.page_lines) {
            std::fprintf(out, "pred record:%d\n", first_index);
        }
        const int rc = f.get_page(conn_id, first_index, table.data() + first * kEntrySize, 1);
        if (rc != 0) {
            print_command_error(out, f.step, rc);
            return false;
        }
        if (f.page_lines) {
            std::fprintf(out, "record:%d\n", first_index);
        }
    }
    return true;
}

// Fetches and prints a record; false after a failure, reported.
bool fetch_and_show(std::FILE* out, int conn_id, int32_t index, const Log_format& f) {
    std::vector<unsigned char> record(f.record_buffer, 0);
    if (f.fetch(out, conn_id, index, record.data()) != 0) {
        std::fputs("\nError downloading data!\n", out);
        return false;
    }
    f.show(out, record.data());
    return true;
}

} // namespace

int download_all(std::FILE* out, int conn_id, const Log_format& f) {
    Entry_table table = make_entry_table(f.table_entries);
    const int64_t read = read_entry_count(out, conn_id, f);
    if (read < 0) {
        return -1;
    }
    const auto count = static_cast<uint32_t>(read);
    std::fprintf(out, "%s(%d entries)...\n", f.heading, static_cast<int32_t>(count));
    const uint32_t usable = fitting_entries(count, f.table_entries, f.page_entries);
    if (usable < count) {
        std::fprintf(stderr,
                     "warning: the instrument reports %u entries; only the first %u fit the entry "
                     "table and are downloaded\n",
                     count, usable);
    }
    if (!download_pages(out, conn_id, f, table, usable)) {
        return -1;
    }
    std::fputs("Done.\n\nEntries:\n", out);
    print_entry_listing(out, table, usable);
    std::fputs("\n\n", out);
    for (;;) {
        const int64_t slot = take_next_slot(table, usable);
        if (slot < 0) {
            return 0;
        }
        if (!fetch_and_show(out, conn_id, static_cast<int32_t>(slot), f)) {
            return -1;
        }
    }
}

int download_one(std::FILE* out, int conn_id, int32_t index, const Log_format& f) {
    return fetch_and_show(out, conn_id, index, f) ? 0 : -1;
}

} // namespace vuxotest
