// One connection on the fake transport and a scripted instrument that answers
// each request (id N) with id N + 1000, a status and a payload, or stays silent.
#ifndef VUXO_COMMAND_FIXTURE_H
#define VUXO_COMMAND_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fake_comm.h"
#include "mxx_comm.h"

using fake::Bytes;

inline Bytes le32(int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    return {static_cast<unsigned char>(u), static_cast<unsigned char>(u >> 8),
            static_cast<unsigned char>(u >> 16), static_cast<unsigned char>(u >> 24)};
}

inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

inline Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// The 32-byte name field as the instrument expects it.
inline Bytes name_field(const std::string& name) {
    Bytes out = text(name.substr(0, 32));
    out.resize(32, 0);
    return out;
}

inline int frame_id(const Bytes& f) {
    return f[4] | (f[5] << 8);
}
inline int frame_word(const Bytes& f) {
    return f[8] | (f[9] << 8);
}
inline Bytes frame_payload(const Bytes& f) {
    return f.size() > 13 ? Bytes(f.begin() + 12, f.end() - 1) : Bytes{};
}

class CommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::reset();
        ASSERT_EQ(MXX_connect("fake", &id, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
                  0);
        fake::state().on_write = [this](int conn, const Bytes& request) {
            if (answer) {
                fake::data(conn, fake::frame(static_cast<uint16_t>(frame_id(request) + 1000),
                                             status, *answer));
            }
        };
    }
    void TearDown() override { fake::disconnect(id); }

    // The instrument answers every request with this payload (silent when unset).
    void answer_with(const Bytes& payload, uint8_t answer_status = 0) {
        answer = payload;
        status = answer_status;
    }
    const std::vector<fake::Write>& writes() const { return fake::state().writes; }
    Bytes last_payload() const { return frame_payload(writes().back().bytes); }

    int id = -1;
    std::optional<Bytes> answer;
    uint8_t status = 0;
};

#endif
