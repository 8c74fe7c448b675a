#include "twin_commands.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace vuxo {

namespace {

constexpr int kInvalid = -1;
constexpr int kCountSize = 4;
constexpr int kValueSize = 4;
constexpr int kMaxChunkData = kChunkAnswerSize - kCountSize;

void put_file_head(unsigned char* request, const char* name, int32_t first, int32_t second) {
    put_name_field(request, name);
    store_le<int32_t>(request + kNameFieldSize, first);
    store_le<int32_t>(request + kNameFieldSize + 4, second);
}

// A chunk answer is a signed count and that many data bytes. The count is only
// the instrument's claim: it is clamped to the bytes that arrived and to limit,
// so no answer can make us write past what the caller provided. A count of 0 or
// less is reported as is, with nothing copied.
int receive_chunk(int conn_id, const Command& cmd, const unsigned char* request, int request_len,
                  void* dest, int32_t limit, int* count, int wait) {
    std::array<unsigned char, kChunkAnswerSize> answer{};
    // Only the transaction knows how many bytes arrived, so this call asks for
    // the length that the other command functions leave out.
    int received = 0;
    const int result = MXX_send_cmd(conn_id, cmd.number, request, request_len, answer.data(),
                                    static_cast<int>(answer.size()), &received, nullptr, nullptr,
                                    cmd.timeout_ms, wait);
    if (result != 0) {
        return result;
    }
    int32_t n = load_le<int32_t>(answer.data());
    if (n > 0) {
        const int32_t arrived = std::max(received - kCountSize, 0);
        n = std::min({n, arrived, dest != nullptr ? std::max(limit, 0) : 0});
    }
    if (n > 0) {
        std::memcpy(dest, answer.data() + kCountSize, static_cast<std::size_t>(n));
    }
    if (count != nullptr) {
        *count = n;
    }
    return 0;
}

} // namespace

void put_name_field(unsigned char* field, const char* name) {
    const char* text = name != nullptr ? name : "";
    // std::find stops at the terminator, so a short name is not read past it.
    const char* end = std::find(text, text + kNameFieldSize, '\0');
    unsigned char* rest = std::copy(text, end, field);
    std::fill(rest, field + kNameFieldSize, 0);
}

int write_file(int conn_id, const Command& cmd, const char* name, int32_t position,
               const void* data, int32_t length, int wait) {
    if (length < 0 || length > kMaxFileData) {
        return kInvalid;
    }
    // Zero-filled, so a missing data block goes out as zeros.
    std::array<unsigned char, kFileRequestSize> request{};
    put_file_head(request.data(), name, position, length);
    if (data != nullptr && length > 0) {
        std::memcpy(request.data() + kFileHeadSize, data, static_cast<std::size_t>(length));
    }
    return send(conn_id, cmd, request.data(), kFileHeadSize + length, nullptr, wait);
}

int read_file(int conn_id, const Command& cmd, const char* name, void* dest, int32_t offset,
              int32_t length, int* count, int wait) {
    std::array<unsigned char, kFileHeadSize> request{};
    put_file_head(request.data(), name, offset, length);
    return receive_chunk(conn_id, cmd, request.data(), kFileHeadSize, dest, length, count, wait);
}

int read_note(int conn_id, const Command& cmd, int32_t first, void* dest, int32_t second,
              int32_t third, int* count, int wait) {
    std::array<unsigned char, 12> request{};
    store_le<int32_t>(request.data(), first);
    store_le<int32_t>(request.data() + 4, second);
    store_le<int32_t>(request.data() + 8, third);
    return receive_chunk(conn_id, cmd, request.data(), static_cast<int>(request.size()), dest,
                         kMaxChunkData, count, wait);
}

int memory_usage(int conn_id, const Command& cmd, int* value, char* text, std::size_t text_size,
                 int wait) {
    if (value == nullptr || text == nullptr) {
        return kInvalid;
    }
    std::array<unsigned char, kMemoryAnswerSize> answer{};
    const int result = MXX_send_cmd(conn_id, cmd.number, nullptr, 0, answer.data(),
                                    static_cast<int>(answer.size()), nullptr, nullptr, nullptr,
                                    cmd.timeout_ms, wait);
    if (result != 0) {
        return result;
    }
    *value = load_le<int32_t>(answer.data());
    // A text without a terminator ends where the answer buffer ends.
    const unsigned char* source = answer.data() + kValueSize;
    const unsigned char* source_end = std::find(source, source + (answer.size() - kValueSize), 0);
    const auto length = std::min(static_cast<std::size_t>(source_end - source), text_size);
    std::memcpy(text, source, length);
    std::memset(text + length, 0, text_size - length);
    return 0;
}

} // namespace vuxo
