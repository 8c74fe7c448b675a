// The local clock: how far this computer's time zone is ahead of UTC at a
// moment, by the OS's own rules (daylight saving included). One file per OS.
#ifndef VUXO_LOCAL_OFFSET_H
#define VUXO_LOCAL_OFFSET_H

#include <cstdint>

namespace vuxo {

// Seconds east of UTC at utc_seconds; 0 when the OS cannot tell.
int64_t local_offset_seconds(int64_t utc_seconds);

} // namespace vuxo

#endif
