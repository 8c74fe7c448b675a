// The commands that both generations carry with the same request and answer
// layout and a different time-out: file write, file read, note read (the same
// chunk answer) and memory usage. Each generation passes its own Command.
#ifndef VUXO_TWIN_COMMANDS_H
#define VUXO_TWIN_COMMANDS_H

#include <cstddef>
#include <cstdint>

#include "command.h"

namespace vuxo {

inline constexpr std::size_t kNameFieldSize = 32;
inline constexpr int kFileHeadSize = 40; // name field, position or offset, length
inline constexpr int kFileRequestSize = 4096;
inline constexpr int32_t kMaxFileData = kFileRequestSize - kFileHeadSize;
inline constexpr int kChunkAnswerSize = 4000;
inline constexpr int kMemoryAnswerSize = 2048;

// Fills the 32-byte field like strncpy with limit 32; a null name is empty.
void put_name_field(unsigned char* field, const char* name);

// Request: name field, position, length, data (zeros when data is null).
// -1 and nothing sent for a length outside 0..kMaxFileData.
int write_file(int conn_id, const Command& cmd, const char* name, int32_t position,
               const void* data, int32_t length, int wait);
// Request: name field, offset, length; the answer is a chunk (below), of which
// at most length bytes reach dest.
int read_file(int conn_id, const Command& cmd, const char* name, void* dest, int32_t offset,
              int32_t length, int* count, int wait);
// Request: the three values; the answer is a chunk, of which at most what
// arrived reaches dest.
int read_note(int conn_id, const Command& cmd, int32_t first, void* dest, int32_t second,
              int32_t third, int* count, int wait);
// Answer: a 32-bit value, then text; copied like strncpy into text_size bytes.
// -1 and nothing sent when value or text is null.
int memory_usage(int conn_id, const Command& cmd, int* value, char* text, std::size_t text_size,
                 int wait);

} // namespace vuxo

#endif
