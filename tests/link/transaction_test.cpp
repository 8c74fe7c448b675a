// The command transaction's outcomes, attempts and copying rules.
#include "link_fixture.h"

#include <deque>

namespace {

using fake::Bytes;

constexpr int kCmd = 8201;
constexpr int kAnswer = 9201;

// The instrument's turns: one list of frames played back for each request.
class TransactionTest : public LinkTest {
  protected:
    void SetUp() override {
        LinkTest::SetUp();
        fake::state().on_write = [this](int conn, const Bytes&) {
            if (turns.empty()) {
                return;
            }
            const std::vector<Bytes> frames = turns.front();
            turns.pop_front();
            for (const Bytes& f : frames) {
                fake::data(conn, f);
            }
        };
    }
    int send(int num_try, int cap, int wait = 1) {
        MXX_set_cmd_num_try(id, num_try);
        return MXX_send_cmd(id, kCmd, nullptr, 0, response.data(), cap, &out_len, &out_word,
                            &out_status, 800, wait);
    }
    std::deque<std::vector<Bytes>> turns;
    Bytes response = Bytes(8, 0xEE);
    int out_len = -7;
    int out_word = -7;
    int out_status = -7;
};

const Bytes kPayload = {1, 2, 3, 4};

struct Outcome {
    const char* name;
    int num_try;
    std::vector<std::vector<Bytes>> turns;
    int result;
    std::size_t writes;
    bool copied;
    int status;
};

TEST_F(TransactionTest, OutcomeTable) {
    const Bytes answer = fake::frame(kAnswer, 0, kPayload, 0x1234);
    const Bytes failed = fake::frame(kAnswer, 3, kPayload);
    const Bytes error = fake::frame(MXX_MSG_ERROR, 1, {});
    const Bytes resend0 = fake::frame(MXX_MSG_RESEND, 0, {});
    const Bytes resend2 = fake::frame(MXX_MSG_RESEND, 2, {});
    const Outcome cases[] = {
        {"answer", 1, {{answer}}, 0, 1, true, 0},
        {"non-zero status copies nothing", 1, {{failed}}, 1, 1, false, 3},
        {"error message", 3, {{error}}, 1, 1, false, 1},
        {"resend then answer", 2, {{resend0}, {answer}}, 0, 2, true, 0},
        {"resend on the last attempt is a failure", 1, {{resend0}}, 1, 1, false, 0},
        {"resend with status on the last attempt", 2, {{resend2}, {resend2}}, 1, 2, false, 2},
        {"silence, three attempts", 3, {}, 255, 3, false, -7},
        {"answer beats error", 1, {{error, answer}}, 0, 1, true, 0},
        {"answer for another command is ignored",
         1,
         {{fake::frame(9202, 0, kPayload)}},
         255,
         1,
         false,
         -7},
        {"silence, then answer", 3, {{}, {answer}}, 0, 2, true, 0},
    };
    for (const Outcome& c : cases) {
        fake::state().writes.clear();
        turns.assign(c.turns.begin(), c.turns.end());
        response.assign(8, 0xEE);
        out_len = out_status = -7;
        EXPECT_EQ(send(c.num_try, 8), c.result) << c.name;
        EXPECT_EQ(fake::state().writes.size(), c.writes) << c.name;
        EXPECT_EQ(Bytes(response.begin(), response.begin() + 4) == kPayload, c.copied) << c.name;
        EXPECT_EQ(out_len, c.copied ? 4 : -7) << c.name;
        EXPECT_EQ(out_status, c.status) << c.name;
        EXPECT_FALSE(fake::find(id)->hooked) << c.name << ": hooks left armed";
    }
}

TEST_F(TransactionTest, SilenceWaitsOncePerAttemptWithTheFullTimeout) {
    MXX_set_cmd_num_try(id, 3);
    EXPECT_EQ(MXX_send_cmd(id, 8206, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, 300000, 1),
              255);
    EXPECT_EQ(fake::state().wait_timeouts, (std::vector<int>{300000, 300000, 300000}));
    ASSERT_EQ(fake::state().writes.size(), 3u);
    EXPECT_EQ(fake::state().writes[0].timeout_ms, 300000);
    EXPECT_EQ(fake::state().writes[0].bytes[8], 0xE0);
    EXPECT_EQ(fake::state().writes[0].bytes[9], 0x93);
    // The same frame every time.
    EXPECT_EQ(fake::state().writes[0].bytes, fake::state().writes[2].bytes);
}

TEST_F(TransactionTest, NoWaitWritesOnceAndNeverHooks) {
    fake::state().write_results = {-32};
    EXPECT_EQ(send(3, 8, 0), -32);
    EXPECT_EQ(fake::state().writes.size(), 1u);
    EXPECT_EQ(send(3, 8, 0), 0);
    EXPECT_EQ(fake::state().writes.size(), 2u);
    for (const std::string& call : fake::state().calls) {
        EXPECT_NE(call, "comm_hook_response");
    }
}

TEST_F(TransactionTest, WriteErrorIsRetriedAndTheLastOnePassedThrough) {
    fake::state().write_results = {-104, -32};
    EXPECT_EQ(send(2, 8), -32);
    EXPECT_TRUE(fake::state().wait_timeouts.empty());
    fake::state().write_results = {-104};
    turns = {{fake::frame(kAnswer, 0, kPayload)}};
    EXPECT_EQ(send(2, 8), 0);
}

TEST_F(TransactionTest, CopiesOnlyAPayloadThatFits) {
    struct Case {
        const char* name;
        Bytes payload;
        int cap;
        bool copied;
    };
    const Case cases[] = {
        {"exactly the capacity", Bytes(8, 0x11), 8, true},
        {"one byte more", Bytes(9, 0x22), 8, false},
        {"empty payload", Bytes{}, 8, false},
    };
    for (const Case& c : cases) {
        response.assign(8, 0xEE);
        out_len = -7;
        turns = {{fake::frame(kAnswer, 0, c.payload)}};
        EXPECT_EQ(send(1, c.cap), 0) << c.name;
        EXPECT_EQ(out_len, c.copied ? static_cast<int>(c.payload.size()) : -7) << c.name;
        EXPECT_EQ(response[0], c.copied ? c.payload[0] : 0xEE) << c.name;
    }
    turns = {{fake::header_only(kAnswer)}};
    out_len = -7;
    EXPECT_EQ(send(1, 8), 0);
    EXPECT_EQ(out_len, -7);
}

TEST_F(TransactionTest, AnswerLongerThanFourKilobytesArrivesWhole) {
    const Bytes block(4319, 0x5A);
    Bytes big(4319, 0);
    turns = {{fake::frame(kAnswer, 0, block)}};
    MXX_set_cmd_num_try(id, 1);
    EXPECT_EQ(
        MXX_send_cmd(id, kCmd, nullptr, 0, big.data(), 4319, &out_len, nullptr, nullptr, 800, 1),
        0);
    EXPECT_EQ(out_len, 4319);
    EXPECT_EQ(big, block);
}

TEST_F(TransactionTest, ReportsWordAndStatusOfTheLastFramePicked) {
    turns = {{fake::frame(MXX_MSG_RESEND, 0, {}, 0x0101)},
             {fake::frame(kAnswer, 0, kPayload, 0xBEEF)}};
    EXPECT_EQ(send(2, 8), 0);
    EXPECT_EQ(out_word, 0xBEEF);
    EXPECT_EQ(out_status, 0);
}

TEST_F(TransactionTest, RefusesRequestsThatDoNotFitTheFrame) {
    const Bytes big(65535, 0);
    EXPECT_EQ(
        MXX_send_cmd(id, kCmd, big.data(), 65535, nullptr, 0, nullptr, nullptr, nullptr, 800, 1),
        -1);
    EXPECT_EQ(MXX_send_cmd(id, kCmd, big.data(), -1, nullptr, 0, nullptr, nullptr, nullptr, 800, 1),
              -1);
    EXPECT_EQ(MXX_send_cmd(id, kCmd, nullptr, 4, nullptr, 0, nullptr, nullptr, nullptr, 800, 1),
              -1);
    EXPECT_TRUE(fake::state().writes.empty());
    EXPECT_EQ(
        MXX_send_cmd(id, kCmd, big.data(), 65534, nullptr, 0, nullptr, nullptr, nullptr, 800, 0),
        0);
    ASSERT_EQ(fake::state().writes.size(), 1u);
    EXPECT_EQ(fake::state().writes[0].bytes.size(), 65534u + 13);
}

TEST_F(TransactionTest, NoAttemptsMeansNothingWritten) {
    EXPECT_EQ(send(0, 8), 255);
    EXPECT_EQ(send(-2, 8, 0), 255);
    EXPECT_TRUE(fake::state().writes.empty());
    EXPECT_FALSE(fake::find(id)->hooked);
}

TEST(TransactionUnknownConnection, MakesOneAttempt) {
    fake::reset();
    EXPECT_EQ(MXX_send_cmd(99, 8007, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, 100, 1),
              255);
    EXPECT_EQ(fake::state().writes.size(), 1u);
}

} // namespace
