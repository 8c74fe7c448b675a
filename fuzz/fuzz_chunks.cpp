// Post-processing of chunk and memory-usage answers: file reads of both
// generations, note reads and memory usage get fuzzed answers. The instrument's
// own count must never make the library write past a destination sized exactly
// as the caller asked, and what arrives must match what was sent.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fake_comm.h"
#include "frame.h"
#include "fuzz_input.h"
#include "le.h"
#include "m20_comm.h"
#include "m21_comm.h"
#include "mxx_comm.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr int kUnset = -7;
constexpr unsigned char kUntouched = 0xEE;
// The answer buffers the commands use: a chunk is a count and at most 3,996
// data bytes; a memory-usage answer is a value and text.
constexpr std::size_t kChunkAnswer = 4000;
constexpr std::size_t kNoteData = 3996;
constexpr std::size_t kMemoryAnswer = 2048;

enum Op { kReadV1, kReadV2, kNote, kMemoryV1, kMemoryV2, kOps };

struct Reply {
    bool silent = false;
    uint8_t status = 0;
    Bytes payload;
};

// The answer bytes as the command's buffer holds them: the payload when it
// was copied (status 0, fits), zeros elsewhere.
Bytes held(const Reply& r, std::size_t cap) {
    Bytes out(cap, 0);
    if (r.status == 0 && !r.payload.empty() && r.payload.size() <= cap) {
        std::copy(r.payload.begin(), r.payload.end(), out.begin());
    }
    return out;
}

// count: what the call stored, or null when the caller passed no count.
void check_chunk(const Reply& r, int result, const fuzz::Guarded& dest, int32_t limit,
                 bool null_dest, const int* count) {
    FUZZ_CHECK(dest.guards_intact());
    if (r.silent || r.status != 0) {
        FUZZ_CHECK(result == (r.silent ? 255 : 1));
        FUZZ_CHECK(count == nullptr || *count == kUnset);
        FUZZ_CHECK(dest.untouched_from(0, kUntouched));
        return;
    }
    FUZZ_CHECK(result == 0);
    const Bytes answer = held(r, kChunkAnswer);
    const int32_t n = vuxo::load_le<int32_t>(answer.data());
    const std::size_t arrived =
        r.payload.size() <= kChunkAnswer && r.payload.size() > 4 ? r.payload.size() - 4 : 0;
    if (n <= 0) {
        // The instrument's own count of nothing, reported as it is.
        FUZZ_CHECK(count == nullptr || *count == n);
        FUZZ_CHECK(dest.untouched_from(0, kUntouched));
        return;
    }
    const std::size_t room = null_dest ? 0 : static_cast<std::size_t>(std::max(limit, 0));
    const std::size_t expected = std::min({static_cast<std::size_t>(n), arrived, room});
    FUZZ_CHECK(count == nullptr || *count == static_cast<int>(expected));
    FUZZ_CHECK(std::equal(answer.begin() + 4, answer.begin() + 4 + static_cast<long>(expected),
                          dest.data()));
    FUZZ_CHECK(dest.untouched_from(expected, kUntouched));
}

void check_memory(const Reply& r, int result, const fuzz::Guarded& text, int value) {
    FUZZ_CHECK(text.guards_intact());
    if (r.silent || r.status != 0) {
        FUZZ_CHECK(result == (r.silent ? 255 : 1));
        FUZZ_CHECK(value == kUnset);
        FUZZ_CHECK(text.untouched_from(0, kUntouched));
        return;
    }
    FUZZ_CHECK(result == 0);
    const Bytes answer = held(r, kMemoryAnswer);
    FUZZ_CHECK(value == vuxo::load_le<int32_t>(answer.data()));
    // strncpy: the text up to its terminator or the answer's end, then zeros.
    const auto text_begin = answer.begin() + 4;
    const auto end = std::find(text_begin, answer.end(), 0);
    const std::size_t len = std::min(static_cast<std::size_t>(end - text_begin), text.size());
    FUZZ_CHECK(std::equal(text_begin, text_begin + static_cast<long>(len), text.data()));
    FUZZ_CHECK(text.untouched_from(len, 0));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    fake::reset();

    const uint8_t flags = in.u8();
    const Op op = static_cast<Op>(flags % kOps);
    const bool null_count = (flags & 0x20) != 0;
    int32_t length = in.u16() % 6000;
    if ((flags & 0x40) != 0) {
        // Negative lengths, and lengths past any answer without a huge buffer.
        length = static_cast<int16_t>(in.u16());
    }
    const std::size_t text_size = in.u16() % 3000;

    Reply reply;
    const uint8_t how = in.u8();
    reply.silent = (how & 0x80) != 0;
    reply.status = (how & 0x40) != 0 ? static_cast<uint8_t>(in.u8() | 1) : 0;
    std::size_t n = in.u16() % 4200;
    if ((how & 0x20) != 0) {
        n = in.u16() % 64; // short answers, count included or cut
    }
    reply.payload = in.bytes(n);

    int id = -1;
    FUZZ_CHECK(MXX_connect("fuzz", &id, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) == 0);
    fake::state().on_write = [&](int conn, const Bytes& request) {
        if (reply.silent) {
            return;
        }
        const auto answer_id = static_cast<uint16_t>(vuxo::frame_id(request.data()) + 1000);
        fake::data(conn, fake::frame(answer_id, reply.status, reply.payload));
    };

    int count = kUnset;
    int* count_ptr = null_count ? nullptr : &count;
    const std::size_t dest_size =
        op == kNote ? kNoteData : static_cast<std::size_t>(std::max(length, 0));
    fuzz::Guarded dest(dest_size, kUntouched);
    const bool null_dest = (flags & 0x10) != 0;
    void* dest_ptr = null_dest ? nullptr : dest.data();
    switch (op) {
    case kReadV1:
    case kReadV2: {
        const auto read = op == kReadV1 ? M20_Read_File : M21_Read_File;
        const int result = read(id, "meas/meas0001.dat", dest_ptr, 0, length, count_ptr, 1);
        check_chunk(reply, result, dest, length, null_dest, count_ptr);
        break;
    }
    case kNote: {
        const int32_t first = in.i32();
        const int32_t second = in.i32();
        const int32_t third = in.i32();
        const int result = M20_Get_Note(id, first, dest_ptr, second, third, count_ptr, 1);
        check_chunk(reply, result, dest, static_cast<int32_t>(kNoteData), null_dest, count_ptr);
        break;
    }
    case kMemoryV1:
    case kMemoryV2: {
        fuzz::Guarded text(text_size, kUntouched);
        int value = kUnset;
        const bool null_value = null_dest;
        const bool null_text = null_count;
        const auto usage = op == kMemoryV1 ? M20_Memory_Usage : M21_Memory_Usage;
        char* text_ptr = null_text ? nullptr : reinterpret_cast<char*>(text.data());
        const int result = usage(id, null_value ? nullptr : &value, text_ptr, text_size, 1);
        if (null_value || null_text) {
            // Both are required: refused before anything is sent.
            FUZZ_CHECK(result == -1);
            FUZZ_CHECK(fake::state().writes.empty());
            FUZZ_CHECK(value == kUnset && text.untouched_from(0, kUntouched));
        } else {
            check_memory(reply, result, text, value);
        }
        break;
    }
    default:
        break;
    }
    fake::disconnect(id);
    return 0;
}
