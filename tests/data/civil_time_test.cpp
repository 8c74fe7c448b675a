// Civil time against the C library's UTC conversions, which on Linux (64-bit
// time_t) are right for every year tested here.
#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>

#include "civil_time.h"

namespace {

constexpr int64_t kDay = 86400;

void expect_same(const vuxo::CivilTime& c, const std::tm& tm, int64_t t) {
    EXPECT_EQ(c.year, tm.tm_year + int64_t{1900}) << t;
    EXPECT_EQ(c.month, tm.tm_mon + 1) << t;
    EXPECT_EQ(c.day, tm.tm_mday) << t;
    EXPECT_EQ(c.hour, tm.tm_hour) << t;
    EXPECT_EQ(c.minute, tm.tm_min) << t;
    EXPECT_EQ(c.second, tm.tm_sec) << t;
}

TEST(CivilTime, RoundTripsAnyYearAsTheCLibraryDoes) {
    const int64_t times[] = {
        0,
        -1,           // 1969-12-31T23:59:59
        -62135596800, // 0001-01-01
        -62167219201, // the last second of year -1
        951782400,    // 2000-02-29
        4107542399,   // 2100-02-28T23:59:59, no leap day in 2100
        INT32_MAX,    // 2038-01-19T03:14:07
        int64_t{INT32_MAX} + 1,
        253402300799,                      // 9999-12-31T23:59:59
        253402300800,                      // 10000-01-01
        int64_t{63030} * 31556952 + 12345, // in year 65,000: a clock never set
        int64_t{-40000} * 365 * kDay - 1,
    };
    for (const int64_t t : times) {
        const std::time_t tt = static_cast<std::time_t>(t);
        std::tm tm{};
        ASSERT_NE(gmtime_r(&tt, &tm), nullptr) << t;
        const vuxo::CivilTime c = vuxo::civil_from_seconds(t);
        expect_same(c, tm, t);
        EXPECT_EQ(vuxo::seconds_from_civil(c), t);
    }
}

TEST(CivilTime, FieldsOutOfRangeCarryOver) {
    const vuxo::CivilTime cases[] = {
        {2026, 13, 1, 0, 0, 0},          // next January
        {2026, 0, 1, 0, 0, 0},           // last December
        {2024, 3, 0, 0, 0, 0},           // 29 February
        {0, 65000 * 12 + 1, 1, 0, 0, 0}, // months counted from year 0
        {0, -23, 1, 0, 0, 0},
        {2026, 1, 1, 47, 61, -1},
    };
    for (const vuxo::CivilTime& c : cases) {
        std::tm tm{};
        tm.tm_year = static_cast<int>(c.year - 1900);
        tm.tm_mon = c.month - 1;
        tm.tm_mday = c.day;
        tm.tm_hour = c.hour;
        tm.tm_min = c.minute;
        tm.tm_sec = c.second;
        EXPECT_EQ(vuxo::seconds_from_civil(c), static_cast<int64_t>(timegm(&tm)))
            << c.year << "-" << c.month;
    }
}

TEST(CivilTime, IsoText) {
    EXPECT_EQ(vuxo::iso_text(vuxo::civil_from_seconds(1772504066)), "2026-03-03T02:14:26");
    EXPECT_EQ(vuxo::iso_text(vuxo::civil_from_seconds(-62135596800)), "0001-01-01T00:00:00");
    EXPECT_EQ(vuxo::iso_text({65000, 12, 31, 23, 59, 59}), "65000-12-31T23:59:59");
}

} // namespace
