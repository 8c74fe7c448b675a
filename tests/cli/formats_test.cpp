// Export's text forms: CSV quoting, numbers that read back to the instrument's
// floats, and the --since dates it accepts. (JSON is read back whole by the
// end-to-end export test.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>

#include "export_writer.h"
#include "number_text.h"
#include "period.h"
#include "shown_text.h"

namespace {

TEST(Formats, CsvQuotesOnlyWhatNeedsIt) {
    EXPECT_EQ(vuxocli::csv_field("Ohm.m"), "Ohm.m");
    EXPECT_EQ(vuxocli::csv_field("%"), "%");
    EXPECT_EQ(vuxocli::csv_field(""), "");
    EXPECT_EQ(vuxocli::csv_field("a,b"), "\"a,b\"");
    EXPECT_EQ(vuxocli::csv_field("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(vuxocli::csv_field("two\nlines"), "\"two\nlines\"");
    EXPECT_EQ(vuxocli::csv_field("cr\r"), "\"cr\r\"");
}

TEST(Formats, NumbersReadBackExactly) {
    const float floats[] = {0.1f, 73.421f, -0.0f, 1e-45f, 3.4028235e38f, 16777217.0f, 1.0f / 3};
    for (float f : floats) {
        const std::string text = vuxocli::number_text(static_cast<double>(f));
        EXPECT_EQ(std::strtof(text.c_str(), nullptr), f) << text;
        EXPECT_LE(text.size(), 15u) << "shortest float form: " << text;
    }
    EXPECT_EQ(vuxocli::number_text(0.1f), "0.1");
    const double d = 0.1; // not a float: written as a double
    EXPECT_EQ(std::strtod(vuxocli::number_text(d).c_str(), nullptr), d);
    EXPECT_EQ(vuxocli::number_text(std::numeric_limits<double>::infinity()), "inf");
}

TEST(Formats, PeriodTimes) {
    for (const char* ok : {"2026-06-01", "2026-06-01T09:05", "2026-06-01T09:05:07", "2028-02-29",
                           "2026-12-31T23:59:59"}) {
        EXPECT_TRUE(vuxocli::valid_time(ok)) << ok;
    }
    for (const char* bad : {"", "2026-6-1", "01.06.2026", "2026-06-01 09:05", "2026-06-01T9:05",
                            "2026-06-01T09:05:07Z", "2026-06-01T", "2026-13-45", "2026-00-10",
                            "2026-04-31", "2026-02-29", "2026-06-00", "2026-06-01T24:00",
                            "2026-06-01T12:60", "2026-06-01T12:00:60"}) {
        EXPECT_FALSE(vuxocli::valid_time(bad)) << bad;
    }
    // --until includes the whole day, minute or second it names.
    EXPECT_EQ(vuxocli::until_bound("2026-06-01"), "2026-06-01T23:59:59");
    EXPECT_EQ(vuxocli::until_bound("2026-06-01T09:05"), "2026-06-01T09:05:59");
    EXPECT_EQ(vuxocli::until_bound("2026-06-01T09:05:07"), "2026-06-01T09:05:07");
}

// The one escape rule: printable ASCII and UTF-8 stay, everything else becomes
// \xNN, a backslash \\; and typing the shown text back gives the bytes again.
TEST(Formats, RawBytesShownAndTypedBack) {
    struct Case {
        std::string bytes;
        std::string shown;
    };
    // Octal escapes where a digit follows: "\351" is 0xE9.
    const Case cases[] = {
        {"A2000456", "A2000456"},
        {"A\351000456", "A\\xE9000456"},       // Latin-1
        {"5\303\25100012", "5\303\25100012"},  // UTF-8 e acute stays
        {"5\302\205x", "5\\xC2\\x85x"},        // a C1 control, even as UTF-8
        {"5\xE0\x80\x80", "5\\xE0\\x80\\x80"}, // overlong
        {"5\xED\xA0\x80", "5\\xED\\xA0\\x80"}, // a surrogate
        {"5\xF0\x9F\x98", "5\\xF0\\x9F\\x98"}, // cut short
        {"a\\b\tc\x7F", "a\\\\b\\x09c\\x7F"},  // backslash, tab, DEL
        {std::string("5\0001", 3), "5\\x001"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(vuxocli::shown(c.bytes), c.shown);
        EXPECT_EQ(vuxocli::typed(c.shown), c.bytes) << c.shown;
    }
    // Typed by hand: lower-case hex and a lone backslash.
    EXPECT_EQ(vuxocli::typed("A\\xe9\\q"), "A\xE9\\q");
}

} // namespace
