// Frames as the instrument and the library put them on the wire, built here so
// the raw baselines send exactly the bytes the library exchanges.
#ifndef VUXO_BENCH_FRAMES_H
#define VUXO_BENCH_FRAMES_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "le.h"

namespace bench {

inline std::vector<unsigned char> frame(uint16_t id, uint16_t word, uint8_t status,
                                        const std::vector<unsigned char>& payload) {
    unsigned char head[12];
    std::memcpy(head, "BRNO", 4);
    vuxo::store_le<uint16_t>(head + 4, id);
    vuxo::store_le<uint16_t>(head + 6, static_cast<uint16_t>(payload.size() + 1));
    vuxo::store_le<uint16_t>(head + 8, word);
    head[10] = status;
    head[11] = 0;
    for (int i = 0; i < 11; ++i) {
        head[11] ^= head[i];
    }
    unsigned char check = 0;
    for (unsigned char b : payload) {
        check ^= b;
    }
    std::vector<unsigned char> f;
    f.reserve(payload.size() + 13);
    for (unsigned char b : head) {
        f.push_back(b);
    }
    for (unsigned char b : payload) {
        f.push_back(b);
    }
    f.push_back(check);
    return f;
}

// The serial-number request (command 8007, 100 ms) and its answer (id 9007).
inline std::vector<unsigned char> serial_request() {
    return frame(8007, 100, 0, {});
}
inline std::vector<unsigned char> serial_answer(const std::string& serial) {
    return frame(9007, 0, 0, std::vector<unsigned char>(serial.begin(), serial.end()));
}

// A file-chunk request (command 8211, 800 ms): 32-byte name field, offset, length.
inline std::vector<unsigned char> read_file_request(const std::string& name, int32_t offset,
                                                    int32_t length) {
    std::vector<unsigned char> payload(40, 0);
    std::memcpy(payload.data(), name.data(), std::min<std::size_t>(name.size(), 32));
    vuxo::store_le<int32_t>(payload.data() + 32, offset);
    vuxo::store_le<int32_t>(payload.data() + 36, length);
    return frame(8211, 800, 0, payload);
}
// Its answer: a 4-byte count and the data.
inline std::vector<unsigned char> read_file_answer(const std::vector<unsigned char>& data) {
    std::vector<unsigned char> payload(4 + data.size());
    vuxo::store_le<int32_t>(payload.data(), static_cast<int32_t>(data.size()));
    std::memcpy(payload.data() + 4, data.data(), data.size());
    return frame(9211, 0, 0, payload);
}

// A live-data message (9302, sent unasked): event code, event value, two floats.
inline std::vector<unsigned char> live_data_frame(int32_t code, int32_t value, float a, float b) {
    std::vector<unsigned char> payload(16);
    vuxo::store_le<int32_t>(payload.data(), code);
    vuxo::store_le<int32_t>(payload.data() + 4, value);
    vuxo::store_le<float>(payload.data() + 8, a);
    vuxo::store_le<float>(payload.data() + 12, b);
    return frame(9302, 0, 0, payload);
}

} // namespace bench

#endif
