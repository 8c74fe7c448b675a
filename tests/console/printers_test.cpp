// Record printers on hand-built records: header lines, units and curves, values blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "capture.h"
#include "printers.h"
#include "record_builder.h"

namespace {

const std::string kIndent(16, ' ');

std::string print_v1(const build::Bytes& r) {
    Capture c;
    vuxotest::show_meas_record_v1(c.file(), r.data());
    return c.text();
}

std::string print_v2(const build::Bytes& r) {
    Capture c;
    vuxotest::show_meas_record_v2(c.file(), r.data());
    return c.text();
}

std::size_t lines(const std::string& text) {
    return std::count(text.begin(), text.end(), '\n');
}

struct V1_case {
    uint8_t flags;
    const char* expected;
};

TEST(PrinterV1, SingleMeasurementCurveAndUnits) {
    const V1_case cases[] = {
        {0x11, "3: 70000 2026/12/06 09:05:07 Type=1,Curve=1,Pin=1,Error=0,Dia=25    "
               "Kappa= 1.500 Units=% [ 2/ 5]\n"},
        {0x21, "3: 70000 2026/12/06 09:05:07 Type=1,Curve=2,Pin=1,Error=0,Dia=25    "
               "Kappa= 1.500 Units=SI [ 2/ 5]\n"},
        {0x05, "3: 70000 2026/12/06 09:05:07 Type=1,Curve=0,Pin=1,Error=0,Dia=25    "
               "Kappa= 1.500 Units=% [ 2/ 5]\n"},
        {0xF9, "3: 70000 2026/12/06 09:05:07 Type=1,Curve=15,Pin=1,Error=0,Dia=25    "
               "Kappa= 1.500 Units=% [ 2/ 5]\n"},
    };
    for (const V1_case& c : cases) {
        EXPECT_EQ(print_v1(build::v1({}, c.flags, 1.5f, 2, 5)), c.expected)
            << "flags " << int{c.flags};
    }
}

TEST(PrinterV1, ScanOfSevenValuesTakesTwoLines) {
    build::Bytes r = build::v1({}, 0x02, 0, 0, 7);
    for (int i = 0; i < 7; ++i) {
        build::v1_value(r, i, -2.0f + 1.25f * static_cast<float>(i), i == 0 || i == 6);
    }
    EXPECT_EQ(print_v1(r), "3: 2026/12/06 09:05:07 Type=2,Curve=0,Units=SI [ 7]\n" + kIndent +
                               "[  -2.000]   -0.750     0.500     1.750     3.000     4.250 \n" +
                               kIndent + "[   5.500]\n");
}

TEST(PrinterV1, ScanWithoutValuesPrintsAnEmptyLine) {
    EXPECT_EQ(print_v1(build::v1({}, 0x12, 0, 0, 0)),
              "3: 2026/12/06 09:05:07 Type=2,Curve=1,Units=% [ 0]\n\n");
}

TEST(PrinterV1, KindsZeroAndThreePrintNothing) {
    EXPECT_EQ(print_v1(build::v1({}, 0x10, 1, 1, 1)), "");
    EXPECT_EQ(print_v1(build::v1({}, 0x13, 1, 1, 1)), "");
}

TEST(PrinterV1, NegativeCountPrintsNoValues) {
    EXPECT_EQ(print_v1(build::v1({}, 0x02, 0, 0, -3)),
              "3: 2026/12/06 09:05:07 Type=2,Curve=0,Units=SI [-3]\n\n");
}

TEST(PrinterV1, OversizeCountStopsAtTheRecordsCapacity) {
    build::Bytes r = build::v1({}, 0x02, 0, 0, 200);
    build::v1_value(r, 179, 7.0f, true);
    const std::string text = print_v1(r);
    EXPECT_EQ(text.substr(0, text.find('\n') + 1),
              "3: 2026/12/06 09:05:07 Type=2,Curve=0,Units=SI [200]\n");
    EXPECT_EQ(lines(text), 1u + 180 / 6);
    EXPECT_TRUE(text.ends_with("[   7.000]\n"));
}

TEST(PrinterV1, MarkBitsPastTheFirstByte) {
    build::Bytes r = build::v1({}, 0x02, 0, 0, 10);
    build::v1_value(r, 9, 1.0f, true);
    EXPECT_EQ(print_v1(r), "3: 2026/12/06 09:05:07 Type=2,Curve=0,Units=SI [10]\n" + kIndent +
                               "    0.000     0.000     0.000     0.000     0.000     0.000 \n" +
                               kIndent + "    0.000     0.000     0.000 [   1.000]\n");
}

struct V2_case {
    build::V2_kind kind;
    const char* expected;
};

TEST(PrinterV2, SingleMeasurementUnits) {
    const V2_case cases[] = {
        {{1, 0, 3, 0x04},
         "3: 9 70000 2026/12/06 09:05:07 Type=1,CurveS=0,CurveC=3,Pin=2,Error=1,Dia=30    "
         "Susc= 0.125CGS Cond=  12.5% [ 1/ 0]\n"},
        {{1, 0, 0, 0},
         "3: 9 70000 2026/12/06 09:05:07 Type=1,CurveS=0,CurveC=0,Pin=2,Error=1,Dia=30    "
         "Susc= 0.125SI Cond=  12.5S/m [ 1/ 0]\n"},
        {{1, 2, 0, 0x08},
         "3: 9 70000 2026/12/06 09:05:07 Type=1,CurveS=2,CurveC=0,Pin=2,Error=1,Dia=30    "
         "Susc= 0.125% Cond=  12.5Ohm.m [ 1/ 0]\n"},
        {{1, 0, 0, 0x0C},
         "3: 9 70000 2026/12/06 09:05:07 Type=1,CurveS=0,CurveC=0,Pin=2,Error=1,Dia=30    "
         "Susc= 0.125CGS Cond=  12.5Ohm.m [ 1/ 0]\n"},
        {{0xFD, 1, 1, 0xFF},
         "3: 9 70000 2026/12/06 09:05:07 Type=1,CurveS=1,CurveC=1,Pin=2,Error=1,Dia=30    "
         "Susc= 0.125% Cond=  12.5% [ 1/ 0]\n"},
    };
    for (const V2_case& c : cases) {
        EXPECT_EQ(print_v2(build::v2({}, c.kind, 0.125f, 12.5f, 1, 0)), c.expected)
            << "curves " << int{c.kind.curve_s} << "/" << int{c.kind.curve_c} << " units "
            << int{c.kind.unit_bits};
    }
}

TEST(PrinterV2, ScanOfTenPairsFillsTwoLines) {
    build::Bytes r = build::v2({}, {2, 1, 2, 0}, 0, 0, 0, 10);
    for (int i = 0; i < 10; ++i) {
        build::v2_value(r, i, 0.5f * static_cast<float>(i), 10.0f * static_cast<float>(i), i == 4);
    }
    EXPECT_EQ(print_v2(r),
              "3: 9 2026/12/06 09:05:07 Type=2,CurveS=1,CurveC=2 [10]\n" + kIndent +
                  "(   0.000    0.0)(   0.500   10.0)(   1.000   20.0)(   1.500   30.0)"
                  "[   2.000   40.0]\n" +
                  kIndent +
                  "(   2.500   50.0)(   3.000   60.0)(   3.500   70.0)(   4.000   80.0)"
                  "(   4.500   90.0)\n");
}

TEST(PrinterV2, ScanWithoutValuesPrintsAnEmptyLine) {
    EXPECT_EQ(print_v2(build::v2({}, {2, 0, 0, 0}, 0, 0, 0, 0, 200)),
              "3: 200 2026/12/06 09:05:07 Type=2,CurveS=0,CurveC=0 [ 0]\n\n");
}

TEST(PrinterV2, KindsZeroAndThreePrintNothing) {
    EXPECT_EQ(print_v2(build::v2({}, {0, 0, 0, 0}, 1, 1, 1, 1)), "");
    EXPECT_EQ(print_v2(build::v2({}, {3, 0, 0, 0}, 1, 1, 1, 1)), "");
}

TEST(PrinterV2, CountsOutsideTheRecord) {
    build::Bytes r = build::v2({}, {2, 0, 0, 0}, 0, 0, 0, 1000);
    build::v2_value(r, 479, 1.0f, 2.0f, true);
    const std::string text = print_v2(r);
    EXPECT_EQ(text.substr(0, text.find('\n') + 1),
              "3: 9 2026/12/06 09:05:07 Type=2,CurveS=0,CurveC=0 [1000]\n");
    EXPECT_EQ(lines(text), 1u + 480 / 5);
    EXPECT_TRUE(text.ends_with("[   1.000    2.0]\n"));

    EXPECT_EQ(print_v2(build::v2({}, {2, 0, 0, 0}, 0, 0, 0, -1)),
              "3: 9 2026/12/06 09:05:07 Type=2,CurveS=0,CurveC=0 [-1]\n\n");
}

TEST(PrintableValues, ClampsToTheRecord) {
    EXPECT_EQ(vuxotest::printable_values(-5, 180), 0);
    EXPECT_EQ(vuxotest::printable_values(0, 180), 0);
    EXPECT_EQ(vuxotest::printable_values(180, 180), 180);
    EXPECT_EQ(vuxotest::printable_values(181, 180), 180);
    EXPECT_EQ(vuxotest::printable_values(INT32_MIN, 480), 0);
    EXPECT_EQ(vuxotest::printable_values(INT32_MAX, 480), 480);
}

} // namespace
