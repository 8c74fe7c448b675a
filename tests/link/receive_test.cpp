// The receive path: frames found in any split, checks, identification, probing.
#include "link_fixture.h"

namespace {

using fake::Bytes;

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

const Bytes kA = fake::frame(9001, 0, {1, 2, 3});
const Bytes kB = fake::frame(9002, 0, {'B', 'R', 'N', 'O', 9});

Bytes with_bad_header(Bytes f) {
    f[11] ^= 0x01;
    return f;
}
Bytes with_bad_body(Bytes f) {
    f.back() ^= 0x01;
    return f;
}

struct StreamCase {
    const char* name;
    Bytes stream;
    std::size_t split;
    std::vector<Bytes> handed_off;
};

TEST_F(LinkTest, FindsFramesInTheByteStream) {
    Bytes length_one_bad = fake::frame(9003, 0, {});
    length_one_bad[12] = 5;
    const StreamCase cases[] = {
        {"whole", kA, SIZE_MAX, {kA}},
        {"one byte per event", kA, 1, {kA}},
        {"three bytes per event", cat({kA, kB}), 3, {kA, kB}},
        {"two frames in one event", cat({kA, kB}), SIZE_MAX, {kA, kB}},
        {"stray bytes first", cat({{0x00, 0x17}, kA}), SIZE_MAX, {kA}},
        {"stray B loses the frame", cat({{'B'}, kA, kB}), SIZE_MAX, {kB}},
        {"bad header check, then good", cat({with_bad_header(kA), kB}), SIZE_MAX, {kB}},
        {"bad body check, then good", cat({with_bad_body(kA), kB}), 2, {kB}},
        {"length 0 is a 12-byte frame",
         fake::header_only(9004),
         SIZE_MAX,
         {fake::header_only(9004)}},
        {"length 1 with a non-zero body is dropped", cat({length_one_bad, kA}), SIZE_MAX, {kA}},
        {"length 1 with a zero body", fake::frame(9005, 0, {}), 1, {fake::frame(9005, 0, {})}},
    };
    for (const StreamCase& c : cases) {
        fake::state().filled.clear();
        fake::data(id, c.stream, c.split);
        EXPECT_EQ(fake::state().filled, c.handed_off) << c.name;
    }
}

TEST_F(LinkTest, EveryFrameIsOfferedUntilOneIsAccepted) {
    rec.accept_first_byte = 'A';
    const Bytes other = fake::frame(9100, 0, {'x'});
    const Bytes serial = fake::frame(9007, 0, {'A', '1', '2'});
    fake::data(id, cat({other, serial, serial, other}));
    EXPECT_EQ(rec.offered, (std::vector<Bytes>{other, serial}));
    EXPECT_EQ(rec.connected_types, std::vector<int>{42});
    EXPECT_TRUE(fake::find(id)->signalled);
    // The identifying frame and the later ones still reach a waiting transaction.
    EXPECT_EQ(fake::state().filled.size(), 4u);
}

TEST_F(LinkTest, ProbesSevenTimesThenGivesUpAtEveryLaterTimeout) {
    EXPECT_EQ(fake::link_up(id), 0);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(fake::timeout(id), 0);
    }
    EXPECT_EQ(rec.probes, (std::vector<int>{0, 0, 1, 2, 3, 4, 5}));
    EXPECT_FALSE(fake::find(id)->signalled);
    EXPECT_EQ(fake::timeout(id), -1);
    EXPECT_TRUE(fake::find(id)->signalled);
    EXPECT_EQ(fake::timeout(id), -1);
    EXPECT_EQ(rec.probes.size(), 7u);
    EXPECT_TRUE(rec.connected_types.empty());
}

TEST_F(LinkTest, TimeoutBeforeIdentificationKeepsAPartialFrame) {
    fake::data(id, Bytes(kA.begin(), kA.begin() + 7));
    fake::timeout(id);
    fake::data(id, Bytes(kA.begin() + 7, kA.end()));
    EXPECT_EQ(fake::state().filled, std::vector<Bytes>{kA});
}

TEST_F(LinkTest, TimeoutAfterIdentificationDiscardsAPartialFrame) {
    rec.accept_first_byte = '5';
    fake::data(id, fake::frame(9007, 0, {'5'}));
    fake::state().filled.clear();
    // A frame whose payload hides a whole frame: after the cut its tail is
    // hunted through and the inner frame is found.
    const Bytes outer = fake::frame(9010, 0, kB);
    fake::data(id, Bytes(outer.begin(), outer.begin() + 12));
    fake::timeout(id);
    fake::data(id, Bytes(outer.begin() + 12, outer.end()));
    EXPECT_EQ(fake::state().filled, std::vector<Bytes>{kB});
    EXPECT_EQ(rec.probes.size(), 0u);
}

TEST_F(LinkTest, ConnectionEventsReachTheCallbacksWithTheirValue) {
    fake::conn_error(id, 104);
    fake::conn_error(id, 5);
    EXPECT_EQ(rec.conn_errors, (std::vector<int>{104, 5}));
    EXPECT_EQ(MXX_get_user_data(id), &user);
    fake::disconnect(id, 7);
    EXPECT_EQ(rec.disconnects, std::vector<int>{7});
    EXPECT_EQ(MXX_get_user_data(id), nullptr);
}

TEST_F(LinkTest, OtherEventKindsAndEmptyDataDoNothing) {
    for (int kind : {0, 4, 8, 255, 0x104}) {
        EXPECT_EQ(fake::event(id, kind, kA.data(), static_cast<int>(kA.size())), 0);
    }
    fake::event(id, COMM_EV_DATA, kA.data(), 0);
    fake::event(id, COMM_EV_DATA, kA.data(), -3);
    EXPECT_TRUE(fake::state().filled.empty());
    EXPECT_TRUE(rec.probes.empty());
}

TEST(LinkConnect, RefusalsReturnMinusOne) {
    fake::reset();
    int id = -1;
    EXPECT_EQ(MXX_connect("", &id, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_TRUE(fake::state().calls.empty());
    fake::state().connect_result = -111;
    EXPECT_EQ(MXX_connect("x", &id, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(fake::state().conns.size(), 0u);
}

TEST(LinkConnect, PassesRxSizeAndTickAndWorksWithoutCallbacks) {
    fake::reset();
    int id = -1;
    ASSERT_EQ(MXX_connect("tcp:x", &id, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(fake::find(id)->rx_size, 4096);
    EXPECT_EQ(fake::find(id)->tick_ms, 200);
    fake::link_up(id);
    fake::data(id, kA);
    fake::timeout(id);
    fake::conn_error(id, 1);
    EXPECT_EQ(fake::disconnect(id), 0);
}

} // namespace
