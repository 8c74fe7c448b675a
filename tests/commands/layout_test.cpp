// Request layouts that the table does not show: file name fields at their
// limits, the time-out word of a long wait, the bare write heads, and the
// argument checks that refuse a request which cannot be framed.
#include "command_fixture.h"
#include "m17_comm.h"
#include "m20_comm.h"
#include "m21_comm.h"

namespace {

const std::string kName32 = "meas/abcdefghijklmnopqrstuvw.dat"; // 32 characters
const std::string kName40 = kName32 + "EXTRA123";

TEST_F(CommandTest, NameFieldIsCutAtThirtyTwoWithoutTerminator) {
    ASSERT_EQ(kName32.size(), 32u);
    struct Case {
        const char* name; // null: sent as an empty name
        Bytes field;
    };
    const Case cases[] = {
        {kName32.c_str(), text(kName32)},
        {kName40.c_str(), text(kName32)},
        {"x", name_field("x")},
        {nullptr, Bytes(32, 0)},
    };
    for (const Case& c : cases) {
        const std::string label = c.name != nullptr ? c.name : "(null)";
        fake::state().writes.clear();
        int count = -7;
        int value = -7;
        unsigned char dest[8];
        EXPECT_EQ(M20_Write_File(id, c.name, 1, nullptr, 0, 0), 0) << label;
        EXPECT_EQ(M21_Read_File(id, c.name, dest, 2, 8, &count, 0), 0) << label;
        EXPECT_EQ(M21_File_Info(id, c.name, &value, 0), 0) << label;
        ASSERT_EQ(writes().size(), 3u) << label;
        EXPECT_EQ(frame_payload(writes()[0].bytes), cat({c.field, le32(1), le32(0)})) << label;
        EXPECT_EQ(frame_payload(writes()[1].bytes), cat({c.field, le32(2), le32(8)})) << label;
        EXPECT_EQ(frame_payload(writes()[2].bytes), cat({c.field, Bytes(8, 0)})) << label;
    }
}

TEST_F(CommandTest, LongClearLogsTimeOutTravelsAsItsLowSixteenBits) {
    EXPECT_EQ(M21_Clear_Logs(id, 0, 0), 0);
    const Bytes& f = writes().back().bytes;
    EXPECT_EQ(f[8], 0xE0);
    EXPECT_EQ(f[9], 0x93);
    EXPECT_EQ(frame_word(f), 37856);
    EXPECT_EQ(writes().back().timeout_ms, 300000);
}

TEST_F(CommandTest, WriteFileHeads) {
    using WriteFn = int (*)(int, const char*, int32_t, const void*, int32_t, int);
    for (WriteFn write : {WriteFn{M20_Write_File}, WriteFn{M21_Write_File}}) {
        fake::state().writes.clear();
        const unsigned char one = 0x11;
        // Length 0: the 40-byte head alone, whatever data is given.
        EXPECT_EQ(write(id, "f", 7, &one, 0, 0), 0);
        // Data absent with a positive length: zeros in the data part.
        EXPECT_EQ(write(id, "f", 7, nullptr, 3, 0), 0);
        ASSERT_EQ(writes().size(), 2u);
        EXPECT_EQ(writes()[0].bytes.size(), 40u + 13);
        EXPECT_EQ(writes()[0].bytes[6], 41); // length field: payload + check
        EXPECT_EQ(frame_payload(writes()[0].bytes), cat({name_field("f"), le32(7), le32(0)}));
        EXPECT_EQ(frame_payload(writes()[1].bytes),
                  cat({name_field("f"), le32(7), le32(3), Bytes(3, 0)}));
    }
}

TEST_F(CommandTest, WriteFileTakesUpTo4056Bytes) {
    const Bytes data(4057, 0x77);
    using WriteFn = int (*)(int, const char*, int32_t, const void*, int32_t, int);
    for (WriteFn write : {WriteFn{M20_Write_File}, WriteFn{M21_Write_File}}) {
        fake::state().writes.clear();
        EXPECT_EQ(write(id, "f", 0, data.data(), 4057, 0), -1);
        EXPECT_EQ(write(id, "f", 0, data.data(), -1, 0), -1);
        EXPECT_TRUE(writes().empty());
        EXPECT_EQ(write(id, "f", 0, data.data(), 4056, 0), 0);
        ASSERT_EQ(writes().size(), 1u);
        EXPECT_EQ(frame_payload(writes()[0].bytes),
                  cat({name_field("f"), le32(0), le32(4056), Bytes(4056, 0x77)}));
    }
}

TEST_F(CommandTest, FlashWriteHeaderAndLimits) {
    const Bytes data(65533, 0x42);
    EXPECT_EQ(M17_write_ext_flash(id, 0x0102, data.data(), 65533, 0), -1);
    EXPECT_EQ(M17_write_ext_flash(id, 0x0102, data.data(), UINT32_MAX, 0), -1);
    EXPECT_EQ(M17_write_ext_flash(id, 0x0102, nullptr, 1, 0), -1);
    EXPECT_TRUE(writes().empty());

    EXPECT_EQ(M17_write_ext_flash(id, 0x0102, nullptr, 0, 0), 0);
    EXPECT_EQ(frame_payload(writes().back().bytes), (Bytes{0x02, 0x01}));

    EXPECT_EQ(M17_write_ext_flash(id, 0xFEDC, data.data(), 65532, 0), 0);
    const Bytes& f = writes().back().bytes;
    ASSERT_EQ(f.size(), 65534u + 13);
    EXPECT_EQ(f[6] | (f[7] << 8), 65535); // length field: payload + check
    EXPECT_EQ(f[12], 0xDC);
    EXPECT_EQ(f[13], 0xFE);
    EXPECT_EQ(Bytes(f.begin() + 14, f.end() - 1), Bytes(65532, 0x42));
}

TEST_F(CommandTest, MemoryUsageNeedsBothOutputs) {
    answer_with(cat({le32(5), text("x"), {0}}));
    int value = -7;
    char buf[4] = {'q', 'q', 'q', 'q'};
    EXPECT_EQ(M20_Memory_Usage(id, nullptr, buf, sizeof buf, 1), -1);
    EXPECT_EQ(M21_Memory_Usage(id, &value, nullptr, 4, 1), -1);
    EXPECT_TRUE(writes().empty());
    EXPECT_EQ(value, -7);
    EXPECT_EQ(buf[0], 'q');
}

} // namespace
