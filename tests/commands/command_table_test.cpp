// Every command function against one table: command number, request payload,
// time-out (in the frame's word and as the transport's wait) and answer capacity.
#include <functional>

#include "command_fixture.h"
#include "m17_comm.h"
#include "m20_comm.h"
#include "m21_comm.h"
#include "mdd_comm.h"

namespace {

// What one call hands over and what it leaves behind.
struct Call {
    int id;
    int wait;
    Bytes dest;
    int count = -7;
    int value = -7;
    char text[16] = {};
    unsigned char* out() { return dest.data(); }
};

// How the answer shows after the call: in the destination (direct), in the
// count or value of a post-processed answer, or not at all.
enum class Seen { Direct, Count, Value, Nothing };

struct Entry {
    const char* name;
    int number;
    int timeout_ms;
    int cap;
    bool waits;
    Seen seen;
    Bytes request;
    std::function<int(Call&)> call;
};

const Bytes kRecord = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12,
                       13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};
const Bytes kParams96(96, 0x96);
const Bytes kParams319(319, 0x31);
const Bytes kSerial = text("A1234567");

std::vector<Entry> table() {
    const auto b = [](const Bytes& v) { return v.data(); };
    return {
        // clang-format off
        {"M17_get_fw_version", 8001, 1000, 8, true, Seen::Direct, {},
         [](Call& c) { return M17_get_fw_version(c.id, reinterpret_cast<char*>(c.out()), c.wait); }},
        {"M17_get_time", 8002, 1000, 24, true, Seen::Direct, {},
         [](Call& c) { return M17_get_time(c.id, c.out(), c.wait); }},
        {"M17_set_time", 8003, 1000, 0, true, Seen::Nothing, kRecord,
         [b](Call& c) { return M17_set_time(c.id, b(kRecord), c.wait); }},
        {"M17_get_serial", 8007, 100, 8, true, Seen::Direct, {},
         [](Call& c) { return M17_get_serial(c.id, reinterpret_cast<char*>(c.out()), c.wait); }},
        {"M17_get_serial without buffer", 8007, 100, 0, true, Seen::Nothing, {},
         [](Call& c) { return M17_get_serial(c.id, nullptr, c.wait); }},
        {"M17_get_model_rev", 8008, 1000, 4, true, Seen::Direct, {},
         [](Call& c) { return M17_get_model_rev(c.id, c.out(), c.wait); }},
        {"M17_restart", 8021, 1000, 0, false, Seen::Nothing, {},
         [](Call& c) { return M17_restart(c.id); }},
        {"M17_erase_ext_flash", 8100, 60000, 4, true, Seen::Direct, {},
         [](Call& c) { return M17_erase_ext_flash(c.id, c.out(), c.wait); }},
        {"M17_read_ext_flash", 8101, 1000, 64, true, Seen::Direct, {0x34, 0x12},
         [](Call& c) { return M17_read_ext_flash(c.id, 0x1234, c.out(), c.wait); }},
        {"M17_write_ext_flash", 8102, 1000, 0, true, Seen::Nothing, {0xCD, 0xAB, 7, 8, 9},
         [](Call& c) {
             const unsigned char data[] = {7, 8, 9};
             return M17_write_ext_flash(c.id, 0xABCD, data, 3, c.wait);
         }},
        {"M17_flash_FW", 8103, 30000, 0, true, Seen::Nothing, cat({le32(0x01020304), le32(-2)}),
         [](Call& c) { return M17_flash_FW(c.id, 0x01020304, -2, c.wait); }},
        {"M17_set_serial", 8104, 1000, 0, true, Seen::Nothing, kSerial,
         [](Call& c) { return M17_set_serial(c.id, "A1234567", c.wait); }},
        {"M17_set_model_rev", 8105, 1000, 0, true, Seen::Nothing, le32(-3),
         [](Call& c) { return M17_set_model_rev(c.id, -3, c.wait); }},
        {"M17_probe", 8007, 100, 0, false, Seen::Nothing, {},
         [](Call& c) { return M17_probe(c.id, 4, nullptr, 9); }},
        {"MDD_probe", 8007, 100, 0, false, Seen::Nothing, {},
         [](Call& c) { return MDD_probe(c.id, 4, nullptr, 9); }},
        {"M20_probe", 8007, 100, 0, false, Seen::Nothing, {},
         [](Call& c) { return M20_probe(c.id, 4, nullptr, 9); }},
        {"M21_probe", 8007, 100, 0, false, Seen::Nothing, {},
         [](Call& c) { return M21_probe(c.id, 4, nullptr, 9); }},

        {"M20_Get_Params", 8201, 2000, 4096, true, Seen::Direct, {},
         [](Call& c) { return M20_Get_Params(c.id, c.out(), c.wait); }},
        {"M20_Set_Params", 8202, 2000, 0, true, Seen::Nothing, kParams96,
         [b](Call& c) { return M20_Set_Params(c.id, b(kParams96), c.wait); }},
        {"M20_Get_Status", 8203, 2000, 20, true, Seen::Direct, {},
         [](Call& c) { return M20_Get_Status(c.id, c.out(), c.wait); }},
        {"M20_Get_Meas_Log_Entry_List", 8204, 5000, 640, true, Seen::Direct, le32(128),
         [](Call& c) { return M20_Get_Meas_Log_Entry_List(c.id, 128, c.out(), c.wait); }},
        {"M20_Get_Meas_Log_Entry", 8205, 5000, 828, true, Seen::Direct, cat({le32(17), le32(0)}),
         [](Call& c) { return M20_Get_Meas_Log_Entry(c.id, 17, 0, c.out(), c.wait); }},
        {"M20_Clear_Logs", 8206, 2000, 0, true, Seen::Nothing, le32(5),
         [](Call& c) { return M20_Clear_Logs(c.id, 5, c.wait); }},
        {"M20_Get_Note_Info", 8207, 2000, 4, true, Seen::Direct, le32(6),
         [](Call& c) { return M20_Get_Note_Info(c.id, 6, c.out(), c.wait); }},
        {"M20_Get_Note", 8208, 2000, 4000, true, Seen::Count, cat({le32(1), le32(2), le32(3)}),
         [](Call& c) { return M20_Get_Note(c.id, 1, c.out(), 2, 3, &c.count, c.wait); }},
        {"M20_Delete_Entry", 8209, 2000, 0, true, Seen::Nothing, cat({le32(8), le32(-9)}),
         [](Call& c) { return M20_Delete_Entry(c.id, 8, -9, c.wait); }},
        {"M20_Write_File", 8210, 2000, 0, true, Seen::Nothing,
         cat({name_field("a.txt"), le32(11), le32(2), {0xAA, 0xBB}}),
         [](Call& c) {
             const unsigned char data[] = {0xAA, 0xBB};
             return M20_Write_File(c.id, "a.txt", 11, data, 2, c.wait);
         }},
        {"M20_Read_File", 8211, 2000, 4000, true, Seen::Count,
         cat({name_field("b.dat"), le32(450), le32(3996)}),
         [](Call& c) { return M20_Read_File(c.id, "b.dat", c.out(), 450, 3996, &c.count, c.wait); }},
        {"M20_Measure", 8212, 2000, 4, true, Seen::Direct, {},
         [](Call& c) { return M20_Measure(c.id, c.out(), c.wait); }},
        {"M20_Memory_Usage", 8016, 2000, 2048, true, Seen::Value, {},
         [](Call& c) { return M20_Memory_Usage(c.id, &c.value, c.text, sizeof c.text, c.wait); }},
        {"M20_Send_Event", 8022, 2000, 0, true, Seen::Nothing, le32(0x7F),
         [](Call& c) { return M20_Send_Event(c.id, 0x7F, c.wait); }},
        {"M20_Set_State", 8023, 2000, 0, true, Seen::Nothing, le32(2),
         [](Call& c) { return M20_Set_State(c.id, 2, c.wait); }},
        {"M20_Get_State", 8024, 2000, 4, true, Seen::Direct, {},
         [](Call& c) { return M20_Get_State(c.id, c.out(), c.wait); }},
        {"M20_set_model_rev", 8105, 2000, 0, true, Seen::Nothing, le32(12),
         [](Call& c) { return M20_set_model_rev(c.id, 12, c.wait); }},
        {"M20_get_model_rev", 8008, 2000, 4, true, Seen::Direct, {},
         [](Call& c) { return M20_get_model_rev(c.id, c.out(), c.wait); }},

        {"M21_Get_Params", 8201, 800, 4319, true, Seen::Direct, {},
         [](Call& c) { return M21_Get_Params(c.id, c.out(), c.wait); }},
        {"M21_Set_Params", 8202, 800, 0, true, Seen::Nothing, kParams319,
         [b](Call& c) { return M21_Set_Params(c.id, b(kParams319), c.wait); }},
        {"M21_Get_Status", 8203, 800, 20, true, Seen::Direct, {},
         [](Call& c) { return M21_Get_Status(c.id, c.out(), c.wait); }},
        {"M21_Get_Meas_Log_Entry_List", 8204, 800, 160, true, Seen::Direct, le32(32),
         [](Call& c) { return M21_Get_Meas_Log_Entry_List(c.id, 32, c.out(), c.wait); }},
        {"M21_Clear_Logs", 8206, 300000, 0, true, Seen::Nothing, le32(1),
         [](Call& c) { return M21_Clear_Logs(c.id, 1, c.wait); }},
        {"M21_File_Info", 8209, 800, 40, true, Seen::Value, cat({name_field("c"), Bytes(8, 0)}),
         [](Call& c) { return M21_File_Info(c.id, "c", &c.value, c.wait); }},
        {"M21_Write_File", 8210, 800, 0, true, Seen::Nothing,
         cat({name_field("a.txt"), le32(11), le32(2), {0xAA, 0xBB}}),
         [](Call& c) {
             const unsigned char data[] = {0xAA, 0xBB};
             return M21_Write_File(c.id, "a.txt", 11, data, 2, c.wait);
         }},
        {"M21_Read_File", 8211, 800, 4000, true, Seen::Count,
         cat({name_field("b.dat"), le32(450), le32(3996)}),
         [](Call& c) { return M21_Read_File(c.id, "b.dat", c.out(), 450, 3996, &c.count, c.wait); }},
        {"M21_Measure", 8212, 800, 4, true, Seen::Direct, {},
         [](Call& c) { return M21_Measure(c.id, c.out(), c.wait); }},
        {"M21_Memory_Usage", 8016, 800, 2048, true, Seen::Value, {},
         [](Call& c) { return M21_Memory_Usage(c.id, &c.value, c.text, sizeof c.text, c.wait); }},
        {"M21_Send_Event", 8022, 800, 0, true, Seen::Nothing, le32(0x7F),
         [](Call& c) { return M21_Send_Event(c.id, 0x7F, c.wait); }},
        {"M21_Set_State", 8023, 800, 0, true, Seen::Nothing, le32(2),
         [](Call& c) { return M21_Set_State(c.id, 2, c.wait); }},
        {"M21_Get_State", 8024, 800, 4, true, Seen::Direct, {},
         [](Call& c) { return M21_Get_State(c.id, c.out(), c.wait); }},
        {"M21_Get_Screen", 8213, 800, 1060, true, Seen::Direct, {},
         [](Call& c) { return M21_Get_Screen(c.id, c.out(), c.wait); }},
        // clang-format on
    };
}

// An answer of n bytes that every kind of destination shows: a 32-bit 1 (a
// count or value of 1), then data bytes.
Bytes answer_of(int n) {
    Bytes out(static_cast<std::size_t>(n), 0x5A);
    const Bytes one = le32(1);
    std::copy(one.begin(), one.begin() + std::min(n, 4), out.begin());
    return out;
}

// 1 when the answer reached its destination, as the entry's kind shows it.
int seen(const Entry& e, const Call& c) {
    switch (e.seen) {
    case Seen::Direct:
        return c.dest[0];
    case Seen::Count:
        return c.count;
    case Seen::Value:
        return c.value;
    case Seen::Nothing:
        return -7;
    }
    return -7;
}

class CommandTableTest : public CommandTest {
  protected:
    // Runs one call with the instrument answering `payload` (or silent), on a
    // connection of its own: a silent call leaves its answer owed, and the
    // next call on the same connection would first wait for it.
    int run(const Entry& e, Call& c, std::optional<Bytes> payload) {
        fake::disconnect(id);
        EXPECT_EQ(MXX_connect("fake", &id, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
                  0);
        c.id = id;
        fake::state().writes.clear();
        fake::state().wait_timeouts.clear();
        answer = std::move(payload);
        c.dest.assign(static_cast<std::size_t>(std::max(e.cap, 4000)) + 1, 0xEE);
        return e.call(c);
    }
};

TEST_F(CommandTableTest, NumberRequestAndTimeOut) {
    for (const Entry& e : table()) {
        Call c{id, 1, {}};
        run(e, c, std::nullopt);
        ASSERT_EQ(writes().size(), 1u) << e.name;
        const Bytes& f = writes()[0].bytes;
        EXPECT_EQ(frame_id(f), e.number) << e.name;
        EXPECT_EQ(frame_payload(f), e.request) << e.name;
        EXPECT_EQ(frame_word(f), e.timeout_ms & 0xFFFF) << e.name;
        EXPECT_EQ(writes()[0].timeout_ms, e.timeout_ms) << e.name;
        // Silence is waited for with the full time-out, except by the calls
        // that never wait.
        EXPECT_EQ(fake::state().wait_timeouts,
                  e.waits ? std::vector<int>{e.timeout_ms} : std::vector<int>{})
            << e.name;
    }
}

TEST_F(CommandTableTest, WaitZeroOnlyWritesTheRequest) {
    for (const Entry& e : table()) {
        Call c{id, 0, {}};
        EXPECT_EQ(run(e, c, answer_of(std::max(e.cap, 4))), 0) << e.name;
        EXPECT_EQ(writes().size(), 1u) << e.name;
        EXPECT_TRUE(fake::state().wait_timeouts.empty()) << e.name;
        EXPECT_NE(seen(e, c), 1) << e.name << ": nothing can have been received";
    }
}

TEST_F(CommandTableTest, AnswerOfTheCapacityIsTakenOneByteMoreIsNot) {
    for (const Entry& e : table()) {
        if (e.seen == Seen::Nothing) {
            continue;
        }
        Call fits{id, 1, {}};
        EXPECT_EQ(run(e, fits, answer_of(e.cap)), 0) << e.name;
        EXPECT_EQ(seen(e, fits), 1) << e.name;
        if (e.seen == Seen::Direct) {
            EXPECT_EQ(Bytes(fits.dest.begin(), fits.dest.begin() + e.cap), answer_of(e.cap))
                << e.name;
            EXPECT_NE(fits.dest[static_cast<std::size_t>(e.cap)], 0x5A) << e.name;
        }
        Call too_long{id, 1, {}};
        EXPECT_EQ(run(e, too_long, answer_of(e.cap + 1)), 0) << e.name;
        EXPECT_NE(seen(e, too_long), 1) << e.name;
        EXPECT_EQ(std::count(too_long.dest.begin(), too_long.dest.end(), 0x5A), 0) << e.name;
    }
}

TEST_F(CommandTableTest, InstrumentFailurePassesThroughAndTouchesNoOutput) {
    for (const Entry& e : table()) {
        if (!e.waits) {
            continue;
        }
        Call c{id, 1, {}};
        status = 4;
        EXPECT_EQ(run(e, c, answer_of(std::max(e.cap, 4))), 1) << e.name;
        EXPECT_EQ(c.count, -7) << e.name;
        EXPECT_EQ(c.value, -7) << e.name;
        EXPECT_EQ(std::count(c.dest.begin(), c.dest.end(), 0x5A), 0) << e.name;
        status = 0;
        EXPECT_EQ(run(e, c, std::nullopt), 255) << e.name;
    }
}

} // namespace
