// Request frames byte for byte, and the receiver accepting them back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "frame.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Vector {
    const char* name;
    uint16_t id;
    Bytes payload;
    uint32_t timeout_ms;
    Bytes expected;
};

const Vector kVectors[] = {
    {"serial_request",
     8007,
     {},
     100,
     {0x42, 0x52, 0x4E, 0x4F, 0x47, 0x1F, 0x01, 0x00, 0x64, 0x00, 0x00, 0x2C, 0x00}},
    {"flash_read",
     8101,
     {0x10, 0x00},
     1000,
     {0x42, 0x52, 0x4E, 0x4F, 0xA5, 0x1F, 0x03, 0x00, 0xE8, 0x03, 0x00, 0x43, 0x10, 0x00, 0x10}},
    {"clear_logs_long_timeout",
     8206,
     {0x01, 0x00, 0x00, 0x00},
     300000,
     {0x42, 0x52, 0x4E, 0x4F, 0x0E, 0x20, 0x05, 0x00, 0xE0, 0x93, 0x00, 0x49, 0x01, 0x00, 0x00,
      0x00, 0x01}},
};

TEST(Frame, BuildsTheKnownRequests) {
    for (const Vector& v : kVectors) {
        Bytes out(v.payload.size() + 13);
        const std::size_t n =
            vuxo::build_frame(out.data(), v.id, static_cast<uint16_t>(v.timeout_ms), 0,
                              v.payload.data(), v.payload.size());
        EXPECT_EQ(n, v.expected.size()) << v.name;
        EXPECT_EQ(out, v.expected) << v.name;
    }
}

TEST(Frame, ReceiverAcceptsEachKnownRequestWhole) {
    for (const Vector& v : kVectors) {
        vuxo::FrameReceiver rx{};
        bool complete = false;
        const std::size_t used = rx.consume(v.expected.data(), v.expected.size(), &complete);
        EXPECT_TRUE(complete) << v.name;
        EXPECT_EQ(used, v.expected.size()) << v.name;
        EXPECT_EQ(static_cast<std::size_t>(rx.pos), v.expected.size()) << v.name;
        EXPECT_EQ(Bytes(rx.buf, rx.buf + rx.pos), v.expected) << v.name;
    }
}

TEST(Frame, PayloadHoldingTheSyncWordIsCarriedUnchanged) {
    const Bytes payload = {'B', 'R', 'N', 'O', 'B', 'R', 'N', 'O', 7};
    Bytes out(payload.size() + 13);
    vuxo::build_frame(out.data(), 9001, 0, 0, payload.data(), payload.size());
    vuxo::FrameReceiver rx{};
    bool complete = false;
    rx.consume(out.data(), out.size(), &complete);
    ASSERT_TRUE(complete);
    EXPECT_EQ(Bytes(rx.buf + 12, rx.buf + 12 + payload.size()), payload);
}

TEST(Frame, HeaderAnnouncingMoreThanTheBufferHoldsIsDropped) {
    Bytes out(13);
    vuxo::build_frame(out.data(), 9001, 0, 0, nullptr, 0);
    out[6] = 0xF5; // length 65525: one byte more than fits behind the header
    out[7] = 0xFF;
    out[11] = vuxo::xor_bytes(out.data(), 11);
    vuxo::FrameReceiver rx{};
    bool complete = false;
    rx.consume(out.data(), 12, &complete);
    EXPECT_FALSE(complete);
    EXPECT_EQ(rx.pos, 0);
}

// A frame left one byte short is completed, unchanged, by that byte alone, and
// the receiver then goes on with the next frame as if nothing had happened.
TEST(Frame, AFrameGivenBackItsLastByteCompletesAgainWithIt) {
    auto frame = [](uint16_t id, const Bytes& payload) {
        Bytes out(payload.size() + 13);
        vuxo::build_frame(out.data(), id, 0, 0, payload.data(), payload.size());
        return out;
    };
    Bytes header_only = frame(9302, {});
    header_only.resize(12);
    header_only[6] = 0;
    header_only[11] = vuxo::xor_bytes(header_only.data(), 11);
    const Bytes next = frame(9001, {4, 5});
    struct Case {
        const char* name;
        Bytes frame;
        std::size_t split; // bytes per consume call up to the completing byte
    };
    const Case cases[] = {
        {"header only", header_only, SIZE_MAX},
        {"header only, byte by byte", header_only, 1},
        {"empty body", frame(9003, {}), SIZE_MAX},
        {"body in one copy", frame(9004, {1, 2, 3, 'B', 'R'}), SIZE_MAX},
        {"body byte by byte", frame(9004, {1, 2, 3, 'B', 'R'}), 1},
    };
    for (const Case& c : cases) {
        Bytes stream = c.frame;
        stream.insert(stream.end(), next.begin(), next.end());
        vuxo::FrameReceiver rx{};
        bool complete = false;
        std::size_t at = 0;
        while (!complete && at < stream.size()) {
            at += rx.consume(stream.data() + at, std::min(c.split, stream.size() - at), &complete);
        }
        ASSERT_TRUE(complete) << c.name;
        ASSERT_EQ(at, c.frame.size()) << c.name;
        rx.unconsume_last();
        EXPECT_EQ(static_cast<std::size_t>(rx.pos), c.frame.size() - 1) << c.name;
        --at;
        EXPECT_EQ(rx.consume(stream.data() + at, stream.size() - at, &complete), 1u) << c.name;
        EXPECT_TRUE(complete) << c.name;
        EXPECT_EQ(Bytes(rx.buf, rx.buf + rx.pos), c.frame) << c.name;
        rx.reset();
        ++at;
        EXPECT_EQ(rx.consume(stream.data() + at, stream.size() - at, &complete), next.size())
            << c.name;
        EXPECT_TRUE(complete) << c.name;
        EXPECT_EQ(Bytes(rx.buf, rx.buf + rx.pos), next) << c.name;
    }
}

} // namespace
