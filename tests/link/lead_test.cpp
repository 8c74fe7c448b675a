// Bytes read by a caller that waits for its answer: the link takes only what
// it can finish on that thread (frames that are nothing but captures) and
// gives back, from the last byte of the first frame that would run anything
// else, the rest for the connection's thread. Whatever the split, the hooks,
// detection and captures must come out exactly as if every byte had been
// delivered the ordinary way.
#include "link_fixture.h"

namespace {

using fake::Bytes;

constexpr int kCmd = 8211;
constexpr uint16_t kLiveId = 9302;

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

std::vector<Bytes> split(const Bytes& bytes, std::size_t n) {
    std::vector<Bytes> out;
    for (std::size_t at = 0; at < bytes.size(); at += n) {
        out.emplace_back(bytes.begin() + static_cast<long>(at),
                         bytes.begin() + static_cast<long>(std::min(at + n, bytes.size())));
    }
    return out;
}

// The fills made so far tell where among the captures each hook ran.
int live_hook(int, MXX_link*, const unsigned char* f, void*) {
    const int len = f[6] | (f[7] << 8);
    g_rec->hook_calls.push_back("live:" + std::to_string(len > 1 ? f[12] : -1) + "@" +
                                std::to_string(fake::state().filled.size()));
    return 0;
}
int catch_all(int, MXX_link*, const unsigned char* f, void*) {
    g_rec->hook_calls.push_back("all:" + std::to_string(f[4] | (f[5] << 8)) + "@" +
                                std::to_string(fake::state().filled.size()));
    return 0;
}

const Bytes kIdent = fake::frame(9007, 0, {'A'});
const Bytes kAnswer = fake::frame(kCmd + 1000, 0, {7, 7, 7, 7}); // 17 bytes
const Bytes kLive = fake::frame(kLiveId, 0, {1});                // 14 bytes
const Bytes kLive2 = fake::frame(kLiveId, 0, {2});
const Bytes kResend = fake::frame(MXX_MSG_RESEND, 0, {}); // 13 bytes
const Bytes kError = fake::frame(MXX_MSG_ERROR, 1, {});
const Bytes kUnhooked = fake::frame(9400, 0, {3});

Bytes corrupt(Bytes f) {
    f.back() ^= 0x20;
    return f;
}

struct Observed {
    std::vector<std::string> hooks;
    std::vector<Bytes> filled;
    std::vector<Bytes> offered;
    std::vector<int> connected;
};

void expect_same(const Observed& got, const Observed& expected) {
    EXPECT_EQ(got.hooks, expected.hooks);
    EXPECT_EQ(got.filled, expected.filled);
    EXPECT_EQ(got.offered, expected.offered);
    EXPECT_EQ(got.connected, expected.connected);
}

struct Row {
    const char* name;
    std::vector<Bytes> reads; // what the waiting caller reads, one read each
    std::size_t handback_at;  // offset in the stream of the first byte given back
    std::size_t lead_fills;   // captures made on the caller's thread
    bool identified = true;
    bool with_catch_all = false;
    bool answer_owed = false;
};

constexpr std::size_t kNone = SIZE_MAX;

class LeadTest : public LinkTest {
  protected:
    int open(const Row& row) {
        int conn = -1;
        EXPECT_EQ(MXX_connect("fake", &conn, rec_connected, rec_conn_error, rec_disconnected,
                              rec_probe, rec_test_probe, &user),
                  0);
        rec.accept_first_byte = 'A';
        if (row.identified) {
            fake::data(conn, kIdent);
        }
        MXX_hook_async_event(conn, kLiveId, live_hook);
        if (row.with_catch_all) {
            MXX_hook_async_event(conn, 0xFFFF, catch_all);
        }
        if (row.answer_owed) {
            MXX_send_cmd(conn, kCmd, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, 800, 0);
        }
        rec = Recorded{};
        rec.accept_first_byte = 'A';
        fake::state().filled.clear();
        return conn;
    }
    Observed observed() const {
        return {rec.hook_calls, fake::state().filled, rec.offered, rec.connected_types};
    }
};

TEST_F(LeadTest, BytesGivenBackRunAsIfAllCameTheOrdinaryWay) {
    const Bytes live_head(kLive.begin(), kLive.begin() + 5);
    const Bytes live_tail(kLive.begin() + 5, kLive.end());
    const Row rows[] = {
        {"answer alone", {kAnswer}, kNone, 1},
        {"live data before the answer", {cat({kLive, kAnswer})}, 13, 0},
        {"live data inside the exchange, after a resend",
         {cat({kResend, kLive, kAnswer})},
         13 + 13,
         1},
        {"live data after the answer, then more in a later read",
         {cat({kAnswer, kLive}), kLive2},
         17 + 13,
         1},
        {"answer one byte per read", split(kAnswer, 1), kNone, 1},
        {"answer and live data three bytes per read", split(cat({kAnswer, kLive}), 3), 30, 1},
        {"live data split over reads is given back from its last byte",
         {live_head, cat({live_tail, kAnswer})},
         13,
         0},
        {"header-only live data after the answer",
         {cat({kAnswer, fake::header_only(kLiveId)})},
         17 + 11,
         1},
        {"resend, then the answer in a later read", {kResend, kAnswer}, kNone, 2},
        {"error message", {kError}, kNone, 1},
        {"unhooked frame, noise and a bad frame before the answer",
         {cat({kUnhooked, {'B', 'R', 0}, corrupt(kAnswer), kAnswer})},
         kNone,
         2},
        {"owed late answer, then the answer",
         {cat({kAnswer, kAnswer})},
         kNone,
         1,
         true,
         false,
         true},
        {"unidentified link", {kAnswer}, 16, 0, false},
        {"catch-all hook installed", {kAnswer}, 16, 0, true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const int reference = open(row);
        for (const Bytes& r : row.reads) {
            fake::data(reference, r);
        }
        const Observed expected = observed();
        fake::disconnect(reference);

        const int conn = open(row);
        Bytes rest;
        std::size_t at = 0;
        std::size_t handback_at = kNone;
        for (const Bytes& r : row.reads) {
            if (handback_at != kNone) {
                rest.insert(rest.end(), r.begin(), r.end());
                continue;
            }
            const int took =
                fake::event(conn, COMM_EV_LEAD_DATA, r.data(), static_cast<int>(r.size()));
            ASSERT_GE(took, 0);
            ASSERT_LE(took, static_cast<int>(r.size()));
            if (static_cast<std::size_t>(took) < r.size()) {
                handback_at = at + static_cast<std::size_t>(took);
                rest.assign(r.begin() + took, r.end());
            }
            at += r.size();
        }
        EXPECT_EQ(handback_at, row.handback_at);
        EXPECT_TRUE(rec.hook_calls.empty() && rec.offered.empty())
            << "a hook or detection ran on the caller's thread";
        EXPECT_EQ(fake::state().filled.size(), row.lead_fills);
        fake::data(conn, rest);
        expect_same(observed(), expected);
        fake::disconnect(conn);
    }
}

TEST_F(LeadTest, NoBytesAreNoneTaken) {
    const unsigned char byte = 'B';
    EXPECT_EQ(fake::event(id, COMM_EV_LEAD_DATA, nullptr, 5), 0);
    EXPECT_EQ(fake::event(id, COMM_EV_LEAD_DATA, &byte, 0), 0);
}

} // namespace
