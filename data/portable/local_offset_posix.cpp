#include <ctime>

#include "civil_time.h"
#include "local_offset.h"

namespace vuxo {

int64_t local_offset_seconds(int64_t utc_seconds) {
    const std::time_t t = static_cast<std::time_t>(utc_seconds);
    std::tm tm{};
    if (localtime_r(&t, &tm) == nullptr) {
        return 0;
    }
    const CivilTime local{
        int64_t{tm.tm_year} + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
    return seconds_from_civil(local) - utc_seconds;
}

} // namespace vuxo
