// The instrument's clock beside the computer's: the six-field time record the
// instrument keeps (day, month, year, hours, minutes, seconds, no time zone),
// as text, parsed from text, and its offset from this computer's local time.
// Every measurement's taken_at comes from that clock.
#ifndef VUXOCLI_CLOCK_TEXT_H
#define VUXOCLI_CLOCK_TEXT_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vuxocli {

using TimeRecord = std::array<int32_t, 6>; // day, month, year, hours, minutes, seconds

// Offsets beyond this many seconds get a warning: a minute is more than any
// transfer or rounding explains.
inline constexpr int64_t kClockWarnSeconds = 60;

// "YYYY-MM-DDTHH:MM[:SS]" (a space may stand for the T): a date that exists
// (no 31 April, 29 February only in leap years, years 1 to 9999) and a time of
// day (hours 0-23, minutes and seconds 0-59). nullopt with the reason in *why.
std::optional<TimeRecord> parse_time(std::string_view text, std::string* why);
// "2026-12-08T09:30:00"; fields outside their ranges are written as they are.
std::string time_text(const TimeRecord& t);
// This computer's local time now.
TimeRecord local_now();
// a - b in seconds, each read as a calendar date and time of day; nullopt when
// either is no real date and time.
std::optional<int64_t> seconds_between(const TimeRecord& a, const TimeRecord& b);
// Whether a clock just set to `set` reads back `read`: the time set plus the
// few seconds the exchange took.
bool reads_back(const TimeRecord& read, const TimeRecord& set);
// "+3 s", "-75 s", "0 s".
std::string offset_text(int64_t seconds);

struct ClockReading {
    TimeRecord instrument{};
    TimeRecord computer{};         // taken right after the instrument answered
    std::optional<int64_t> offset; // instrument - computer, seconds; none for a
                                   // clock that holds no real date
};

// Reads the instrument's clock: 0, or the library's result.
int read_clock(int conn_id, ClockReading* out);

// On standard error, when the clock is more than a minute off this computer's
// or holds no real date; `who` names the connection.
void warn_clock(const std::string& who, const ClockReading& clock);

} // namespace vuxocli

#endif
