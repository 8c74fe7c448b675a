#include "frame.h"

#include <algorithm>
#include <cstring>

#include "le.h"

namespace vuxo {
namespace {

constexpr unsigned char kSync[4] = {'B', 'R', 'N', 'O'};

} // namespace

// Kept out of line: inlined into the receiver, GCC 12 stops vectorising it
// and the body check becomes several instructions a byte.
[[gnu::noinline]] uint8_t xor_bytes(const unsigned char* p, std::size_t n) {
    uint8_t x = 0;
    for (std::size_t i = 0; i < n; ++i) {
        x ^= p[i];
    }
    return x;
}

std::size_t build_frame(unsigned char* out, uint16_t id, uint16_t word, uint8_t status,
                        const unsigned char* payload, std::size_t n) {
    std::memcpy(out, kSync, sizeof kSync);
    store_le<uint16_t>(out + kOffId, id);
    store_le<uint16_t>(out + kOffLength, static_cast<uint16_t>(n + 1));
    store_le<uint16_t>(out + kOffWord, word);
    out[kOffStatus] = status;
    out[kOffCheck] = xor_bytes(out, kOffCheck);
    if (n > 0) {
        std::memcpy(out + kHeaderSize, payload, n);
    }
    out[kHeaderSize + n] = xor_bytes(out + kHeaderSize, n);
    return kHeaderSize + n + 1;
}

uint16_t frame_id(const unsigned char* frame) {
    return load_le<uint16_t>(frame + kOffId);
}
uint16_t frame_length(const unsigned char* frame) {
    return load_le<uint16_t>(frame + kOffLength);
}

std::size_t FrameReceiver::consume(const unsigned char* data, std::size_t n, bool* complete) {
    *complete = false;
    std::size_t i = 0;
    while (i < n) {
        if (pos < 4) {
            // A byte that breaks the sync word is not looked at again as a new 'B'.
            const unsigned char b = data[i++];
            if (b == kSync[pos]) {
                buf[pos++] = b;
                if (pos == 1) {
                    expected = 0;
                }
            } else {
                pos = 0;
            }
            continue;
        }
        if (pos < static_cast<int32_t>(kHeaderSize)) {
            buf[pos++] = data[i++];
            if (pos < static_cast<int32_t>(kHeaderSize)) {
                continue;
            }
            if (xor_bytes(buf, kOffCheck) != buf[kOffCheck]) {
                pos = 0;
                continue;
            }
            expected = frame_length(buf);
            received = 0;
            if (expected > kMaxRxLength) {
                pos = 0;
                continue;
            }
            if (expected == 0) {
                *complete = true;
                return i;
            }
            continue;
        }
        // Body: take as much of it as this event holds in one copy.
        const std::size_t take = std::min<std::size_t>(n - i, expected - received);
        std::memcpy(buf + pos, data + i, take);
        pos += static_cast<int32_t>(take);
        received += static_cast<uint32_t>(take);
        i += take;
        if (received < expected) {
            continue;
        }
        if (xor_bytes(buf + kHeaderSize, expected) != 0) {
            pos = 0;
            continue;
        }
        *complete = true;
        return i;
    }
    return i;
}

} // namespace vuxo
