// Detection: which frames each test probe accepts and the type code it leaves,
// the attempts per command it sets, and detection through the link layer.
#include <cstring>

#include "command_fixture.h"
#include "m17_comm.h"
#include "m20_comm.h"
#include "m21_comm.h"
#include "mdd_comm.h"

namespace {

using TestProbe = int (*)(int, const unsigned char*, int*, int);

struct Verdict {
    int accepted;
    int type;
};

// A frame as the link layer holds it: in a larger receive buffer whose bytes
// after the frame are left over from an earlier, longer frame.
struct HeldFrame {
    const char* name;
    Bytes bytes;
    Verdict mdd, m20, m21, m17;
};

Bytes held(const Bytes& frame) {
    Bytes buf(64, '5');
    std::copy(frame.begin(), frame.end(), buf.begin());
    return buf;
}

// A frame whose length field says 1: the check byte of an empty payload only.
Bytes check_byte_only(uint16_t id) {
    Bytes f = fake::frame(id, 0, {});
    EXPECT_EQ(f.size(), 13u);
    return f;
}

TEST_F(CommandTest, TestProbesOverTheFramesTheyMeet) {
    const HeldFrame cases[] = {
        {"V1 serial",
         held(fake::frame(9007, 0, text("51234567"))),
         {1, 5},
         {1, 5},
         {0, 10},
         {1, 3}},
        {"V2 serial",
         held(fake::frame(9007, 0, text("A1234567"))),
         {1, 10},
         {0, 5},
         {1, 10},
         {1, 3}},
        {"'5' in another message",
         held(fake::frame(9201, 0, text("5"))),
         {1, 5},
         {0, 5},
         {0, 10},
         {0, 3}},
        {"'A' in another message",
         held(fake::frame(9302, 0, text("A"))),
         {1, 10},
         {0, 5},
         {0, 10},
         {0, 3}},
        {"serial of neither generation",
         held(fake::frame(9007, 0, text("B1234567"))),
         {0, 0},
         {0, 5},
         {0, 10},
         {1, 3}},
        {"lower-case a", held(fake::frame(9007, 0, text("a"))), {0, 0}, {0, 5}, {0, 10}, {1, 3}},
        {"header only", held(fake::header_only(9007)), {0, 0}, {0, 5}, {0, 10}, {0, 3}},
        {"check byte only", held(check_byte_only(9007)), {0, 0}, {0, 5}, {0, 10}, {0, 3}},
    };
    struct Probe {
        const char* name;
        TestProbe fn;
        Verdict HeldFrame::*verdict;
        int attempts_after; // attempts of the next command on the connection
    };
    const Probe probes[] = {
        {"MDD_test_probe", MDD_test_probe, &HeldFrame::mdd, 1},
        {"M20_test_probe", M20_test_probe, &HeldFrame::m20, 1},
        {"M21_test_probe", M21_test_probe, &HeldFrame::m21, 3},
        {"M17_test_probe", M17_test_probe, &HeldFrame::m17, 1},
    };
    for (const Probe& p : probes) {
        for (const HeldFrame& c : cases) {
            const std::string label = std::string(p.name) + ": " + c.name;
            MXX_set_cmd_num_try(id, 1);
            int type = -7;
            const Verdict expected = c.*p.verdict;
            EXPECT_EQ(p.fn(id, c.bytes.data(), &type, 0), expected.accepted) << label;
            EXPECT_EQ(type, expected.type) << label;
            // A silent command shows how many attempts the connection now makes.
            fake::state().writes.clear();
            EXPECT_EQ(M17_get_model_rev(id, nullptr, 1), 255) << label;
            EXPECT_EQ(writes().size(), static_cast<std::size_t>(p.attempts_after)) << label;
        }
    }
}

struct Detected {
    std::vector<int> types;
};

int on_connected(int, MXX_link*, int type, void* user) {
    static_cast<Detected*>(user)->types.push_back(type);
    return 0;
}

TEST(Detection, ThroughTheLinkLayer) {
    struct Case {
        const char* name;
        MXX_probe_fn probe;
        MXX_test_probe_fn test_probe;
        const char* serial;
        std::vector<int> types;
        std::size_t attempts; // of a silent command afterwards
    };
    const Case cases[] = {
        {"MDD, V1", MDD_probe, MDD_test_probe, "51234567", {5}, 1},
        {"MDD, V2", MDD_probe, MDD_test_probe, "A1234567", {10}, 1},
        {"M21 pair, V2", M21_probe, M21_test_probe, "A1234567", {10}, 3},
        {"M20 pair, V2: not identified", M20_probe, M20_test_probe, "A1234567", {}, 1},
        {"M17 pair, any serial", M17_probe, M17_test_probe, "Z", {3}, 1},
    };
    for (const Case& c : cases) {
        fake::reset();
        Detected detected;
        int id = -1;
        ASSERT_EQ(MXX_connect("fake", &id, on_connected, nullptr, nullptr, c.probe, c.test_probe,
                              &detected),
                  0);
        const std::string serial = c.serial;
        fake::state().on_write = [&serial](int conn, const Bytes& request) {
            if (frame_id(request) == 8007) {
                fake::data(conn, fake::frame(9007, 0, text(serial)));
            }
        };
        fake::link_up(id);
        ASSERT_FALSE(fake::state().writes.empty()) << c.name;
        const fake::Write& probe = fake::state().writes[0];
        EXPECT_EQ(frame_id(probe.bytes), 8007) << c.name;
        EXPECT_EQ(probe.bytes.size(), 13u) << c.name;
        EXPECT_EQ(frame_word(probe.bytes), 100) << c.name;
        EXPECT_TRUE(fake::state().wait_timeouts.empty()) << c.name << ": a probe never waits";
        EXPECT_EQ(detected.types, c.types) << c.name;

        fake::state().on_write = nullptr;
        fake::state().writes.clear();
        EXPECT_EQ(M17_get_time(id, nullptr, 1), 255) << c.name;
        EXPECT_EQ(fake::state().writes.size(), c.attempts) << c.name;
        fake::disconnect(id);
    }
}

} // namespace
