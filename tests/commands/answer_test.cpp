// Answers that the command functions post-process: chunk counts, memory-usage
// text, serial number and file information.
#include <cstring>
#include <functional>

#include "command_fixture.h"
#include "m17_comm.h"
#include "m20_comm.h"
#include "m21_comm.h"

namespace {

// Data bytes that differ from the destination's fill.
Bytes data_of(int n) {
    Bytes out(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        out[static_cast<std::size_t>(i)] = static_cast<unsigned char>(i % 200 + 1);
    }
    return out;
}

struct ChunkFn {
    const char* name;
    bool limited_by_length; // the file reads also stop at the length asked
    std::function<int(int id, void* dest, int32_t length, int* count)> call;
};

const ChunkFn kChunkFns[] = {
    {"M20_Read_File", true,
     [](int id, void* dest, int32_t length, int* count) {
         return M20_Read_File(id, "f", dest, 0, length, count, 1);
     }},
    {"M21_Read_File", true,
     [](int id, void* dest, int32_t length, int* count) {
         return M21_Read_File(id, "f", dest, 0, length, count, 1);
     }},
    {"M20_Get_Note", false,
     [](int id, void* dest, int32_t length, int* count) {
         return M20_Get_Note(id, 0, dest, 0, length, count, 1);
     }},
};

TEST_F(CommandTest, ChunkCountIsClampedToWhatArrivedAndWhatWasAsked) {
    struct Case {
        const char* name;
        int32_t count;  // as the instrument reports it
        int arrived;    // data bytes actually sent after the count
        int32_t length; // asked for
        int file_count; // count reported by the file reads
        int note_count; // count reported by the note read
    };
    const Case cases[] = {
        {"count as sent", 10, 10, 450, 10, 10},
        {"count 0", 0, 10, 450, 0, 0},
        {"negative count stays, nothing copied", -5, 10, 450, -5, -5},
        {"count larger than received", 10, 4, 450, 4, 4},
        {"count larger than asked", 10, 10, 6, 6, 10},
        {"count beyond the answer buffer", 100000, 3996, 4000, 3996, 3996},
        {"asked for nothing", 10, 10, 0, 0, 10},
        {"asked for a negative length", 10, 10, -3, 0, 10},
    };
    for (const ChunkFn& fn : kChunkFns) {
        for (const Case& c : cases) {
            const std::string label = std::string(fn.name) + ": " + c.name;
            const Bytes data = data_of(c.arrived);
            answer_with(cat({le32(c.count), data}));
            Bytes dest(4100, 0xEE);
            int count = -7;
            ASSERT_EQ(fn.call(id, dest.data(), c.length, &count), 0) << label;
            const int expected = fn.limited_by_length ? c.file_count : c.note_count;
            EXPECT_EQ(count, expected) << label;
            const auto copied = static_cast<std::size_t>(std::max(expected, 0));
            EXPECT_EQ(Bytes(dest.begin(), dest.begin() + static_cast<long>(copied)),
                      Bytes(data.begin(), data.begin() + static_cast<long>(copied)))
                << label;
            EXPECT_EQ(std::count(dest.begin() + static_cast<long>(copied), dest.end(), 0xEE),
                      static_cast<long>(dest.size() - copied))
                << label << ": wrote past the count";
        }
    }
}

TEST_F(CommandTest, ChunkWithoutUsableAnswerReadsAsCountZero) {
    for (const ChunkFn& fn : kChunkFns) {
        struct Case {
            const char* name;
            std::optional<Bytes> payload;
        };
        const Case cases[] = {
            {"empty answer", Bytes{}},
            {"answer above the local buffer", cat({le32(10), data_of(3997)})},
            {"count cut short", Bytes{5, 0}},
        };
        for (const Case& c : cases) {
            answer = c.payload;
            Bytes dest(16, 0xEE);
            int count = -7;
            EXPECT_EQ(fn.call(id, dest.data(), 16, &count), 0) << fn.name << ": " << c.name;
            EXPECT_EQ(count, 0) << fn.name << ": " << c.name;
            EXPECT_EQ(dest, Bytes(16, 0xEE)) << fn.name << ": " << c.name;
        }
        // No count pointer and no destination: nothing is stored, nothing breaks.
        answer_with(cat({le32(3), data_of(3)}));
        EXPECT_EQ(fn.call(id, nullptr, 16, nullptr), 0) << fn.name;
        int count = -7;
        EXPECT_EQ(fn.call(id, nullptr, 16, &count), 0) << fn.name;
        EXPECT_EQ(count, 0) << fn.name;
    }
}

TEST_F(CommandTest, MemoryUsageTextIsCopiedLikeStrncpy) {
    using MemoryFn = int (*)(int, int*, char*, size_t, int);
    struct Case {
        const char* name;
        Bytes text_part; // answer bytes after the value
        std::size_t size;
        Bytes expected;
    };
    const Bytes no_nul(2044, 'z');
    const Case cases[] = {
        {"shorter than the buffer", cat({text("abc"), {0}}), 8, cat({text("abc"), Bytes(5, 0)})},
        {"as long as the buffer", cat({text("abcdefgh"), {0}}), 8, text("abcdefgh")},
        {"longer than the buffer", cat({text("abcdefghij"), {0}}), 8, text("abcdefgh")},
        {"no NUL, small buffer", no_nul, 8, Bytes(8, 'z')},
        {"no NUL, large buffer: ends with the answer", no_nul, 3000,
         cat({no_nul, Bytes(3000 - 2044, 0)})},
        {"no text at all", {}, 4, Bytes(4, 0)},
        {"size 0 writes nothing", text("abc"), 0, {}},
    };
    for (MemoryFn fn : {MemoryFn{M20_Memory_Usage}, MemoryFn{M21_Memory_Usage}}) {
        for (const Case& c : cases) {
            answer_with(cat({le32(-42), c.text_part}));
            std::vector<char> buf(c.size + 1, 'q');
            int value = -7;
            ASSERT_EQ(fn(id, &value, buf.data(), c.size, 1), 0) << c.name;
            EXPECT_EQ(value, -42) << c.name;
            EXPECT_EQ(Bytes(buf.begin(), buf.begin() + static_cast<long>(c.size)), c.expected)
                << c.name;
            EXPECT_EQ(buf[c.size], 'q') << c.name << ": wrote past the size";
        }
        // A failed command leaves both outputs alone.
        answer_with(cat({le32(9), text("x"), {0}}), 2);
        int value = -7;
        char buf[4] = {'q', 'q', 'q', 'q'};
        EXPECT_EQ(fn(id, &value, buf, sizeof buf, 1), 1);
        EXPECT_EQ(value, -7);
        EXPECT_EQ(buf[0], 'q');
    }
}

TEST_F(CommandTest, SerialNumberIsAlwaysATerminatedText) {
    struct Case {
        const char* name;
        Bytes answer;
        std::string expected;
    };
    const Case cases[] = {
        {"eight characters", text("51234567"), "51234567"},
        {"short", text("A12"), "A12"},
        {"longer than eight is not copied", text("512345678"), ""},
    };
    for (const Case& c : cases) {
        answer_with(c.answer);
        char serial[10];
        std::memset(serial, 'q', sizeof serial);
        EXPECT_EQ(M17_get_serial(id, serial, 1), 0) << c.name;
        EXPECT_EQ(std::string(serial), c.expected) << c.name;
        EXPECT_EQ(Bytes(serial + c.expected.size(), serial + 9), Bytes(9 - c.expected.size(), 0))
            << c.name;
        EXPECT_EQ(serial[9], 'q') << c.name << ": wrote past the nine bytes";
    }
}

TEST_F(CommandTest, VersionBufferIsZeroedEvenWhenNothingArrives) {
    char version[9];
    std::memset(version, 'q', sizeof version);
    EXPECT_EQ(M17_get_fw_version(id, version, 1), 255);
    EXPECT_EQ(Bytes(version, version + 8), Bytes(8, 0));
    EXPECT_EQ(version[8], 'q');
    answer_with(text("v1.2.3-a"));
    EXPECT_EQ(M17_get_fw_version(id, nullptr, 1), 0);
    EXPECT_EQ(M17_get_fw_version(id, version, 1), 0);
    EXPECT_EQ(std::string(version, 8), "v1.2.3-a");
}

TEST_F(CommandTest, FileInfoStoresTheFirstValueOnlyOnSuccess) {
    answer_with(cat({le32(-123456), Bytes(36, 9)}));
    int value = -7;
    EXPECT_EQ(M21_File_Info(id, "meas/last.dat", &value, 1), 0);
    EXPECT_EQ(value, -123456);
    EXPECT_EQ(M21_File_Info(id, "meas/last.dat", nullptr, 1), 0);
    answer_with({}); // empty answer: reads as 0, not as stale memory
    EXPECT_EQ(M21_File_Info(id, "x", &value, 1), 0);
    EXPECT_EQ(value, 0);
    value = -7;
    answer_with(le32(5), 3);
    EXPECT_EQ(M21_File_Info(id, "x", &value, 1), 1);
    EXPECT_EQ(value, -7);
}

} // namespace
