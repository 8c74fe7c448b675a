#include "clock_text.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "civil_time.h"
#include "local_offset.h"
#include "vuxoint.h"

namespace vuxocli {

namespace {

enum Field { kDay, kMonth, kYear, kHours, kMinutes, kSeconds };

// Exactly `width` digits at text[at], as a number.
std::optional<int32_t> digits(std::string_view text, std::size_t at, std::size_t width) {
    if (at + width > text.size()) {
        return std::nullopt;
    }
    int32_t value = 0;
    const char* first = text.data() + at;
    const auto [end, ec] = std::from_chars(first, first + width, value);
    if (ec != std::errc() || end != first + width) {
        return std::nullopt;
    }
    return value;
}

std::chrono::year_month_day date_of(int32_t y, int32_t m, int32_t d) {
    using namespace std::chrono;
    // Out-of-range fields become values ok() refuses instead of wrapping round.
    const auto field = [](int32_t v) { return static_cast<unsigned>(v < 0 || v > 255 ? 0 : v); };
    return year_month_day{year{y < 1 || y > 9999 ? 0 : y}, month{field(m)}, day{field(d)}};
}

bool is_real(const TimeRecord& t) {
    return date_of(t[kYear], t[kMonth], t[kDay]).ok() && t[kYear] >= 1 && t[kHours] >= 0 &&
           t[kHours] <= 23 && t[kMinutes] >= 0 && t[kMinutes] <= 59 && t[kSeconds] >= 0 &&
           t[kSeconds] <= 59;
}

std::chrono::sys_seconds as_seconds(const TimeRecord& t) {
    using namespace std::chrono;
    return sys_days{date_of(t[kYear], t[kMonth], t[kDay])} + hours{t[kHours]} +
           minutes{t[kMinutes]} + seconds{t[kSeconds]};
}

} // namespace

std::optional<TimeRecord> parse_time(std::string_view text, std::string* why) {
    // YYYY-MM-DDTHH:MM, then :SS or nothing.
    const auto year = digits(text, 0, 4);
    const auto month = digits(text, 5, 2);
    const auto day = digits(text, 8, 2);
    const auto hours = digits(text, 11, 2);
    const auto minutes = digits(text, 14, 2);
    const bool with_seconds = text.size() == 19;
    const auto seconds = with_seconds ? digits(text, 17, 2) : std::optional<int32_t>(0);
    const bool shape = (text.size() == 16 || with_seconds) && text[4] == '-' && text[7] == '-' &&
                       (text[10] == 'T' || text[10] == ' ') && text[13] == ':' &&
                       (!with_seconds || text[16] == ':');
    if (!shape || !year || !month || !day || !hours || !minutes || !seconds) {
        *why = "not of the form YYYY-MM-DDTHH:MM[:SS]";
        return std::nullopt;
    }
    const TimeRecord t{*day, *month, *year, *hours, *minutes, *seconds};
    if (!is_real(t)) {
        *why = *year < 1 || !date_of(*year, *month, *day).ok() ? "no such date"
                                                               : "no such time of day";
        return std::nullopt;
    }
    return t;
}

std::string time_text(const TimeRecord& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", t[kYear], t[kMonth], t[kDay],
                  t[kHours], t[kMinutes], t[kSeconds]);
    return text;
}

TimeRecord local_now() {
    const int64_t now = std::time(nullptr);
    const vuxo::CivilTime t = vuxo::civil_from_seconds(now + vuxo::local_offset_seconds(now));
    return TimeRecord{t.day, t.month, static_cast<int32_t>(t.year), t.hour, t.minute, t.second};
}

std::optional<int64_t> seconds_between(const TimeRecord& a, const TimeRecord& b) {
    if (!is_real(a) || !is_real(b)) {
        return std::nullopt;
    }
    return (as_seconds(a) - as_seconds(b)).count();
}

std::string offset_text(int64_t seconds) {
    return (seconds > 0 ? "+" : "") + std::to_string(seconds) + " s";
}

int read_clock(int conn_id, ClockReading* out) {
    TimeRecord t{};
    const int rc = vuxo_get_time(conn_id, t.data());
    if (rc != 0) {
        return rc;
    }
    out->instrument = t;
    out->computer = local_now();
    out->offset = seconds_between(out->instrument, out->computer);
    return 0;
}

// Every measurement's taken_at comes from the instrument's clock, so a clock
// that is off is worth a line of its own.
void warn_clock(const std::string& who, const ClockReading& clock) {
    if (!clock.offset) {
        std::fprintf(stderr,
                     "vuxoint: warning: %s: the instrument's clock holds no real date (%s); "
                     "set it with vuxoint clock CONN --set-now\n",
                     who.c_str(), time_text(clock.instrument).c_str());
    } else if (*clock.offset > kClockWarnSeconds || *clock.offset < -kClockWarnSeconds) {
        std::fprintf(stderr,
                     "vuxoint: warning: %s: the instrument's clock is %s off this computer's; "
                     "every measurement's time comes from it (vuxoint clock CONN --set-now "
                     "sets it)\n",
                     who.c_str(), offset_text(*clock.offset).c_str());
    }
}

bool reads_back(const TimeRecord& read, const TimeRecord& set) {
    // More than this and the instrument did not take the time.
    constexpr int64_t kReadBackSlackSeconds = 10;
    const std::optional<int64_t> drift = seconds_between(read, set);
    return drift && *drift >= 0 && *drift <= kReadBackSlackSeconds;
}

} // namespace vuxocli
