// Answers that come after their request's time-out: never taken for a later
// request, and normal exchanges unchanged. The fake instrument's script says
// what it sends at each write and at each wait, in the order the library
// makes them.
#include <deque>

#include "link_fixture.h"

namespace {

using fake::Bytes;

constexpr int kCmd = 8211;
constexpr int kOtherCmd = 8202;

Bytes answer(int cmd, unsigned char tag) {
    return fake::frame(static_cast<uint16_t>(cmd + 1000), 0, Bytes(4, tag));
}
const Bytes kError = fake::frame(MXX_MSG_ERROR, 1, {});
const Bytes kResend = fake::frame(MXX_MSG_RESEND, 0, {});

struct Tx {
    int cmd;
    int num_try;
    int wait;
    std::vector<std::vector<Bytes>> turns; // one per write or wait, in order
    int result;
    int tag; // first byte of the payload copied, or -1 for none
};

struct Row {
    const char* name;
    std::vector<Tx> txs;
};

class LateAnswerTest : public LinkTest {
  protected:
    void SetUp() override {
        LinkTest::SetUp();
        auto play = [this](int conn) {
            if (turns.empty()) {
                return;
            }
            const std::vector<Bytes> frames = turns.front();
            turns.pop_front();
            for (const Bytes& f : frames) {
                fake::data(conn, f);
            }
        };
        fake::state().on_write = [play](int conn, const Bytes&) { play(conn); };
        fake::state().on_wait = play;
    }
    std::deque<std::vector<Bytes>> turns;
};

TEST_F(LateAnswerTest, LateAnswersGoToNoLaterRequest) {
    const std::vector<Bytes> none;
    const Row rows[] = {
        {"a repeat takes the first attempt's late answer; the second one is dropped",
         {{kCmd, 2, 1, {none, none, none, {answer(kCmd, 1)}}, 0, 1},
          {kCmd, 1, 1, {{answer(kCmd, 1)}, none, {answer(kCmd, 2)}}, 0, 2}}},
        {"late answer after its transaction gave up",
         {{kCmd, 1, 1, {none, none}, 255, -1},
          {kCmd, 1, 1, {{answer(kCmd, 1)}, none, {answer(kCmd, 2)}}, 0, 2}}},
        {"late answer after a resend",
         {{kCmd, 3, 1, {none, none, none, {kResend}, none, {answer(kCmd, 1)}}, 0, 1},
          {kCmd, 1, 1, {{answer(kCmd, 1)}, none, {answer(kCmd, 2)}}, 0, 2}}},
        {"an error message instead of a late answer is no answer to the next command",
         {{kCmd, 1, 1, {none, none}, 255, -1},
          {kOtherCmd, 1, 1, {{kError}, none, {answer(kOtherCmd, 2)}}, 0, 2}}},
        {"an error ends the transaction; the repeat's answer comes later",
         {{kCmd, 2, 1, {none, none, none, {kError}}, 1, -1},
          {kCmd, 1, 1, {{answer(kCmd, 1)}, none, {answer(kCmd, 2)}}, 0, 2}}},
        {"an answer that never comes is forgotten after a quiet wait",
         {{kCmd, 1, 1, {none, none}, 255, -1},
          {kCmd, 1, 1, {none, none, {answer(kCmd, 2)}}, 0, 2}}},
        {"the answer to a request sent without waiting",
         {{kCmd, 1, 0, {none}, 0, -1},
          {kCmd, 1, 1, {{answer(kCmd, 1)}, none, {answer(kCmd, 2)}}, 0, 2}}},
        {"both attempts' late answers go by before the next request",
         {{kCmd, 2, 1, {none, none, none, none}, 255, -1},
          {kCmd, 1, 1, {{answer(kCmd, 1)}, {answer(kCmd, 1)}, none, {answer(kCmd, 2)}}, 0, 2}}},
    };
    for (const Row& row : rows) {
        int conn = -1;
        ASSERT_EQ(MXX_connect("fake", &conn, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
                  0);
        for (std::size_t i = 0; i < row.txs.size(); ++i) {
            const Tx& tx = row.txs[i];
            fake::state().writes.clear();
            turns.assign(tx.turns.begin(), tx.turns.end());
            Bytes response(4, 0xEE);
            MXX_set_cmd_num_try(conn, tx.num_try);
            const int r = MXX_send_cmd(conn, tx.cmd, nullptr, 0, response.data(), 4, nullptr,
                                       nullptr, nullptr, 800, tx.wait);
            const std::string what = std::string(row.name) + ", transaction " + std::to_string(i);
            EXPECT_EQ(r, tx.result) << what;
            EXPECT_EQ(response[0], tx.tag < 0 ? 0xEE : tx.tag) << what;
            EXPECT_TRUE(turns.empty()) << what << ": script not played out";
            for (const fake::Write& w : fake::state().writes) {
                EXPECT_EQ(w.bytes, fake::state().writes.front().bytes) << what;
            }
        }
        fake::disconnect(conn);
    }
}

TEST_F(LateAnswerTest, WithNothingOwedTheExchangeIsAsBefore) {
    turns = {{}, {answer(kCmd, 1)}};
    fake::state().calls.clear();
    Bytes response(4, 0);
    EXPECT_EQ(
        MXX_send_cmd(id, kCmd, nullptr, 0, response.data(), 4, nullptr, nullptr, nullptr, 800, 1),
        0);
    EXPECT_EQ(fake::state().calls,
              (std::vector<std::string>{"comm_hook_response", "comm_write", "comm_wait_response",
                                        "comm_unhook_response"}));
    EXPECT_EQ(fake::state().wait_timeouts, std::vector<int>{800});
}

TEST_F(LateAnswerTest, WaitsForOwedAnswersAtMostTwiceTheirTimeOut) {
    MXX_send_cmd(id, kCmd, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, 300, 1);
    fake::state().wait_timeouts.clear();
    MXX_send_cmd(id, kOtherCmd, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, 5000, 1);
    ASSERT_EQ(fake::state().wait_timeouts.size(), 2u);
    EXPECT_GT(fake::state().wait_timeouts[0], 0);
    EXPECT_LE(fake::state().wait_timeouts[0], 600);
    EXPECT_EQ(fake::state().wait_timeouts[1], 5000);
}

} // namespace
