// Civil time (UTC): seconds since 1970 and the calendar, for any year an int64_t
// of seconds can reach, with no C library's limits (before 1970, past 2038 or
// 9999: a clock that was never set reads as any of these).
#ifndef VUXO_CIVIL_TIME_H
#define VUXO_CIVIL_TIME_H

#include <cstdint>
#include <string>

namespace vuxo {

struct CivilTime {
    int64_t year;
    int month; // 1..12
    int day;   // 1..31
    int hour;
    int minute;
    int second;
};

CivilTime civil_from_seconds(int64_t seconds);

// Months and days out of range carry over (month 13 is next year's January,
// day 0 the last of the month before), as do hours, minutes and seconds.
int64_t seconds_from_civil(const CivilTime& t);

// "YYYY-MM-DDTHH:MM:SS"; a year past 9999 or before 0 takes the digits it needs.
std::string iso_text(const CivilTime& t);

} // namespace vuxo

#endif
