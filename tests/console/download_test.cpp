// Log and record downloads against a scripted instrument: the exact output, the pages
// and records requested, their order, and every failure path.
#include <gtest/gtest.h>

#include <string>

#include "capture.h"
#include "download.h"
#include "fake_api.h"
#include "printers.h"
#include "record_builder.h"

namespace {

using build::Bytes;

class Download : public ::testing::Test {
  protected:
    void SetUp() override { fake_api::reset(); }
    fake_api::Instrument& inst() { return fake_api::instrument(); }

    // A V1 single measurement whose number tells its slot.
    Bytes v1_record(int32_t slot, uint8_t flags = 0x01) {
        build::Stamp s;
        s.number = 100 + slot;
        return build::v1(s, flags, 0.25f, 1, 1);
    }
    Bytes v2_record(int32_t slot, uint8_t kind = 1) {
        build::Stamp s;
        s.number = 100 + slot;
        return build::v2(s, {kind, 0, 0, 0}, 0.5f, 3.0f, 1, 1);
    }
    void add_v1(uint32_t slot, uint32_t key, uint8_t flags = 0, uint8_t record_flags = 0x01) {
        inst().entries[slot] = {key, flags};
        inst().v1_records[static_cast<int32_t>(slot)] =
            v1_record(static_cast<int32_t>(slot), record_flags);
    }
    void add_v2(uint32_t slot, uint32_t key, uint8_t flags = 0, uint8_t kind = 1) {
        char name[32];
        vuxotest::meas_file_name(static_cast<int32_t>(slot), name);
        inst().entries[slot] = {key, flags};
        inst().files[name] = v2_record(static_cast<int32_t>(slot), kind);
    }
    static std::string shown_v1(const Bytes& r) {
        Capture c;
        vuxotest::show_meas_record_v1(c.file(), r.data());
        return c.text();
    }
    static std::string shown_v2(const Bytes& r) {
        Capture c;
        vuxotest::show_meas_record_v2(c.file(), r.data());
        return c.text();
    }
    int all_v1() { return vuxotest::download_all_meas_v1(out.file(), 7); }
    int all_v2() { return vuxotest::download_all_meas_v2(out.file(), 7); }
    std::vector<std::string> chunk_names() const {
        std::vector<std::string> names;
        for (const auto& c : fake_api::instrument().chunks) {
            names.push_back(c.name);
        }
        return names;
    }

    Capture out;
};

TEST_F(Download, V1EmptyLogFetchesNothing) {
    EXPECT_EQ(all_v1(), 0);
    EXPECT_EQ(out.text(), "Downloading entry table(0 entries)...\nDone.\n\nEntries:\n\n\n");
    EXPECT_TRUE(inst().pages.empty());
    EXPECT_TRUE(inst().v1_fetches.empty());
}

TEST_F(Download, V2EmptyLogFetchesNothing) {
    EXPECT_EQ(all_v2(), 0);
    EXPECT_EQ(out.text(), "Params size:4319\nDownloading V2 entry table(0 entries)...\n"
                          "Done.\n\nEntries:\n\n\n");
    EXPECT_TRUE(inst().pages.empty());
    EXPECT_TRUE(inst().chunks.empty());
}

TEST_F(Download, V1KeyOrderListingAndNotes) {
    inst().entry_count = 4;
    add_v1(0, 5);
    add_v1(2, 3, 0x01);
    add_v1(3, 5, 0xFE); // only bit 0 means a note
    EXPECT_EQ(all_v1(), 0);
    EXPECT_EQ(out.text(), "Downloading entry table(4 entries)...\nDone.\n\nEntries:\n"
                          "    [0000] : 5 \n    [0002] : 3  note\n    [0003] : 5 \n\n\n" +
                              shown_v1(v1_record(2)) + shown_v1(v1_record(0)) +
                              shown_v1(v1_record(3)));
    EXPECT_EQ(inst().v1_fetches, (std::vector<int32_t>{2, 0, 3}));
    EXPECT_EQ(inst().pages, (std::vector<int32_t>{0}));
}

TEST_F(Download, V2KeyOrderAndFileNames) {
    inst().entry_count = 12346;
    add_v2(12345, 1);
    add_v2(7, 2, 0x01);
    add_v2(3, 0xFFFFFFFF);  // never fetched
    add_v2(9, 0x80000000u); // fetched last, not listed
    EXPECT_EQ(all_v2(), 0);
    const std::string text = out.text();
    EXPECT_NE(text.find("Entries:\n    [0007] : 2  note\n    [12345] : 1 \n\n\n" +
                        shown_v2(v2_record(12345)) + shown_v2(v2_record(7)) +
                        shown_v2(v2_record(9))),
              std::string::npos);
    EXPECT_TRUE(text.ends_with(shown_v2(v2_record(9))));
    std::vector<std::string> names = chunk_names();
    names.erase(std::unique(names.begin(), names.end()), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"meas/meas12345.dat", "meas/meas0007.dat",
                                               "meas/meas0009.dat"}));
}

TEST_F(Download, V1PagesOf128) {
    inst().entry_count = 200;
    EXPECT_EQ(all_v1(), 0);
    EXPECT_EQ(inst().pages, (std::vector<int32_t>{0, 128}));
}

TEST_F(Download, V2PagesOf32BetweenPageLines) {
    inst().entry_count = 200;
    add_v2(199, 4);
    EXPECT_EQ(all_v2(), 0);
    EXPECT_EQ(inst().pages, (std::vector<int32_t>{0, 32, 64, 96, 128, 160, 192}));
    std::string expected = "Params size:4319\nDownloading V2 entry table(200 entries)...\n";
    for (int first = 0; first < 200; first += 32) {
        expected +=
            "pred record:" + std::to_string(first) + "\nrecord:" + std::to_string(first) + "\n";
    }
    expected += "Done.\n\nEntries:\n    [0199] : 4 \n\n\n" + shown_v2(v2_record(199));
    EXPECT_EQ(out.text(), expected);
}

TEST_F(Download, KindsZeroAndThreeCountAsDone) {
    inst().entry_count = 3;
    add_v1(0, 1, 0, 0x00);
    add_v1(1, 2, 0, 0x03);
    add_v1(2, 3, 0, 0x01);
    EXPECT_EQ(all_v1(), 0);
    EXPECT_EQ(inst().v1_fetches, (std::vector<int32_t>{0, 1, 2}));
    EXPECT_TRUE(out.text().ends_with("\n\n\n" + shown_v1(v1_record(2))));
}

TEST_F(Download, EntryCountBeyondTheTableStopsAtItsEnd) {
    inst().entry_count = 70000;
    add_v1(65535, 1);
    add_v1(65536, 2); // past the table: never listed nor fetched
    EXPECT_EQ(all_v1(), 0);
    ASSERT_EQ(inst().pages.size(), 512u);
    EXPECT_EQ(inst().pages.back(), 65536 - 128);
    EXPECT_EQ(inst().v1_fetches, (std::vector<int32_t>{65535}));
    EXPECT_EQ(out.text(), "Downloading entry table(70000 entries)...\nDone.\n\nEntries:\n"
                          "    [65535] : 1 \n\n\n" +
                              shown_v1(v1_record(65535)));
}

TEST_F(Download, V2EntryCountBeyondTheTable) {
    inst().entry_count = 0xFFFFFFFF;
    EXPECT_EQ(all_v2(), 0);
    ASSERT_EQ(inst().pages.size(), 4000u);
    EXPECT_EQ(inst().pages.back(), 128000 - 32);
    EXPECT_TRUE(out.text().starts_with("Params size:4319\nDownloading V2 entry table(-1 entries)"));
}

struct Failure_case {
    const char* name;
    bool v2;
    void (*arrange)(fake_api::Instrument&);
    const char* tail; // the output's last lines
};

TEST_F(Download, FailuresAtEachStage) {
    const Failure_case cases[] = {
        {"V1 parameters", false, [](fake_api::Instrument& i) { i.params_rc = 255; },
         "Command download_all_meas_v1 error(code=255)!\n"},
        {"V2 parameters", true, [](fake_api::Instrument& i) { i.params_rc = 1; },
         "Params size:4319\nCommand download_all_meas_v2 error(code=1)!\n"},
        {"V1 page", false, [](fake_api::Instrument& i) { i.failing_page = 0; },
         "Downloading entry table(40 entries)...\nCommand download_all_meas_v1 error(code=255)!\n"},
        {"V2 page", true,
         [](fake_api::Instrument& i) {
             i.failing_page = 32;
             i.page_rc = -5;
         },
         "pred record:32\nCommand download_all_meas_v2 error(code=-5)!\n"},
        {"V1 record", false, [](fake_api::Instrument& i) { i.failing_record = 20; },
         "Command download_record_v1 error(code=1)!\n\nError downloading data!\n"},
        {"V2 chunk", true, [](fake_api::Instrument& i) { i.failing_chunk_offset = 900; },
         "Command download_record_v2 error(code=255)!\n\nError downloading data!\n"},
        {"V2 chunk without bytes", true,
         [](fake_api::Instrument& i) { i.empty_chunk_offset = 450; },
         "    [0030] : 30 \n\n\n\nError downloading data!\n"},
    };
    for (const Failure_case& c : cases) {
        fake_api::reset();
        Capture capture;
        inst().entry_count = 40;
        for (uint32_t slot : {10u, 20u, 30u}) {
            if (c.v2) {
                add_v2(slot, slot);
            } else {
                add_v1(slot, slot);
            }
        }
        c.arrange(inst());
        const int rc = c.v2 ? vuxotest::download_all_meas_v2(capture.file(), 7)
                            : vuxotest::download_all_meas_v1(capture.file(), 7);
        EXPECT_EQ(rc, -1) << c.name;
        EXPECT_TRUE(capture.text().ends_with(c.tail)) << c.name << ":\n" << capture.text();
        // Nothing after the failing step is asked for.
        if (!c.v2) {
            EXPECT_TRUE(inst().v1_fetches.empty() || inst().v1_fetches.back() <= 20) << c.name;
        }
    }
}

TEST_F(Download, RecordsBeforeAFailureStayPrinted) {
    inst().entry_count = 40;
    add_v2(10, 1);
    add_v2(20, 2);
    add_v2(30, 3);
    char name[32];
    vuxotest::meas_file_name(20, name);
    inst().files.erase(name); // the instrument refuses the second record
    EXPECT_EQ(all_v2(), -1);
    EXPECT_TRUE(out.text().ends_with("\n\n\n" + shown_v2(v2_record(10)) +
                                     "Command download_record_v2 error(code=1)!\n"
                                     "\nError downloading data!\n"));
    std::vector<std::string> names = chunk_names();
    EXPECT_EQ(names.back(), "meas/meas0020.dat");
}

TEST_F(Download, V2ChunksOfARecord) {
    add_v2(7, 1);
    unsigned char record[4064];
    ASSERT_EQ(vuxotest::download_record_v2(out.file(), 7, 7, record), 0);
    const auto& chunks = inst().chunks;
    ASSERT_EQ(chunks.size(), 10u);
    for (std::size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(chunks[i].offset, static_cast<int32_t>(450 * i));
        EXPECT_EQ(chunks[i].length, 450);
    }
    EXPECT_EQ(chunks[9].offset, 4050);
    EXPECT_EQ(chunks[9].length, 14); // the room left in the record buffer
    EXPECT_EQ(chunks[0].name, "meas/meas0007.dat");
    EXPECT_EQ(Bytes(record, record + 4063), v2_record(7));
    EXPECT_EQ(out.text(), "");
}

struct Overrun_case {
    const char* name;
    std::size_t file_size;
    int32_t claimed_extra;
};

TEST_F(Download, V2ChunksNeverPassTheRecordBuffer) {
    const Overrun_case cases[] = {
        {"longer file", 5000, 0},
        {"counts above the request", 4063, 100},
        {"longer file and inflated counts", 9000, 1000},
    };
    for (const Overrun_case& c : cases) {
        fake_api::reset();
        inst().files["meas/meas0001.dat"] = Bytes(c.file_size, 0x77);
        inst().claimed_extra = c.claimed_extra;
        Bytes buffer(4064 + 64, 0xEE);
        EXPECT_EQ(vuxotest::download_record_v2(out.file(), 7, 1, buffer.data()), 0) << c.name;
        for (const auto& chunk : inst().chunks) {
            EXPECT_LE(chunk.offset + chunk.length, 4064) << c.name;
        }
        EXPECT_EQ(std::count(buffer.begin() + 4064, buffer.end(), 0xEE), 64) << c.name;
    }
}

TEST_F(Download, ShortFileFailsWithoutAMessageOfItsOwn) {
    inst().files["meas/meas0001.dat"] = Bytes(1000, 1);
    unsigned char record[4064];
    EXPECT_NE(vuxotest::download_record_v2(out.file(), 7, 1, record), 0);
    EXPECT_EQ(out.text(), "");
    EXPECT_EQ(inst().chunks.size(), 4u);
}

TEST_F(Download, SingleRecords) {
    inst().files["meas/last.dat"] = v2_record(41);
    EXPECT_EQ(vuxotest::download_meas_v2(out.file(), 7, -1), 0);
    EXPECT_EQ(out.text(), shown_v2(v2_record(41)));
    EXPECT_EQ(chunk_names().front(), "meas/last.dat");

    fake_api::reset();
    add_v2(3, 1);
    Capture v2_out;
    EXPECT_EQ(vuxotest::download_meas_v2(v2_out.file(), 7, 3), 0);
    EXPECT_EQ(chunk_names().front(), "meas/meas0003.dat");

    add_v1(5, 1);
    Capture v1_out;
    EXPECT_EQ(vuxotest::download_meas_v1(v1_out.file(), 7, 5), 0);
    EXPECT_EQ(v1_out.text(), shown_v1(v1_record(5)));

    Capture failed;
    inst().failing_record = 6;
    inst().record_rc = 255;
    EXPECT_EQ(vuxotest::download_meas_v1(failed.file(), 7, 6), -1);
    EXPECT_EQ(failed.text(),
              "Command download_record_v1 error(code=255)!\n\nError downloading data!\n");
}

TEST(MeasFileName, Table) {
    const std::pair<int32_t, const char*> cases[] = {
        {-1, "meas/last.dat"},       {0, "meas/meas0000.dat"},      {7, "meas/meas0007.dat"},
        {9999, "meas/meas9999.dat"}, {12345, "meas/meas12345.dat"}, {127999, "meas/meas127999.dat"},
    };
    for (const auto& [index, expected] : cases) {
        char name[32];
        vuxotest::meas_file_name(index, name);
        EXPECT_STREQ(name, expected);
    }
}

} // namespace
