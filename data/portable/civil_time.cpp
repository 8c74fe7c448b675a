#include "civil_time.h"

#include <chrono>
#include <cstdio>

namespace vuxo {

namespace {

using namespace std::chrono;

// The calendar repeats every 400 years, exactly 146,097 days; std::chrono's
// year stops at 32,767, so only a year within one such cycle is handed to it.
constexpr int64_t kCycleYears = 400;
constexpr int64_t kCycleDays = 146097;
constexpr int64_t kDaySeconds = 86400;

int64_t floor_div(int64_t a, int64_t b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0);
}

} // namespace

CivilTime civil_from_seconds(int64_t seconds) {
    const int64_t day_count = floor_div(seconds, kDaySeconds);
    const int64_t in_day = seconds - day_count * kDaySeconds;
    const int64_t cycles = floor_div(day_count, kCycleDays);
    const year_month_day date{sys_days{days{day_count - cycles * kCycleDays}}};
    return CivilTime{static_cast<int>(date.year()) + cycles * kCycleYears,
                     static_cast<int>(static_cast<unsigned>(date.month())),
                     static_cast<int>(static_cast<unsigned>(date.day())),
                     static_cast<int>(in_day / 3600),
                     static_cast<int>(in_day / 60 % 60),
                     static_cast<int>(in_day % 60)};
}

int64_t seconds_from_civil(const CivilTime& t) {
    const int64_t month0 = t.month - 1;
    const int64_t year = t.year + floor_div(month0, 12);
    const int64_t cycles = floor_div(year, kCycleYears);
    const year_month_day first{
        std::chrono::year{static_cast<int>(year - cycles * kCycleYears)},
        month{static_cast<unsigned>(month0 - floor_div(month0, 12) * 12 + 1)}, day{1}};
    const int64_t day_count =
        sys_days{first}.time_since_epoch().count() + cycles * kCycleDays + (t.day - 1);
    return day_count * kDaySeconds + int64_t{t.hour} * 3600 + int64_t{t.minute} * 60 + t.second;
}

std::string iso_text(const CivilTime& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d",
                  static_cast<long long>(t.year), t.month, t.day, t.hour, t.minute, t.second);
    return text;
}

} // namespace vuxo
