// What the two generations differ in when their log is read: the parameter block, the
// entry list's pages, the record and the requests that read them.
#ifndef VUXOD_GENERATION_H
#define VUXOD_GENERATION_H

#include <cstddef>
#include <cstdint>

#include "exchange.h"

namespace vuxod {

struct Log_commands {
    std::size_t param_size;
    std::size_t count_offset;
    uint32_t page_entries;
    uint32_t max_entries; // the largest log of this generation
    std::size_t record_size;
    Request params;
    Request page;
    Request record; // V1: the log entry; V2: a chunk of the measurement file
};

// nullptr for anything but VUXOD_V1 and VUXOD_V2.
const Log_commands* log_commands(int32_t generation);

} // namespace vuxod

#endif
