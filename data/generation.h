// What the two generations differ in when their log is read: the parameter block, the
// entry list's pages and the commands that read them.
#ifndef VUXOD_GENERATION_H
#define VUXOD_GENERATION_H

#include <cstddef>
#include <cstdint>

namespace vuxod {

struct Log_commands {
    std::size_t param_size;
    std::size_t count_offset;
    uint32_t page_entries;
    uint32_t max_entries; // the largest log of this generation
    std::size_t record_size;
    int (*get_params)(int conn_id, void* params, int wait);
    int (*get_page)(int conn_id, int32_t first, void* list, int wait);
};

// nullptr for anything but VUXOD_V1 and VUXOD_V2.
const Log_commands* log_commands(int32_t generation);

} // namespace vuxod

#endif
