// Each fault switch of the simulator, seen from a raw host. Absence of an answer is shown
// without waiting: requests are answered in order, so when the next request's answer is the
// next frame, the earlier request got none.
#include <cstdio>
#include <fstream>

#include "le.h"
#include "sim_fixture.h"

using namespace simtest;
using namespace vuxo::sim;
using Bytes = std::vector<unsigned char>;

namespace {

Config with_faults(const Faults& f, Generation gen = Generation::v2) {
    Config cfg = config_for(gen);
    cfg.faults = f;
    return cfg;
}

struct FirstFault {
    const char* what;
    Faults faults;
    uint16_t first_id;
    uint8_t first_status;
};

FirstFault first_fault(const char* what, void (*set)(Faults&), uint16_t id, uint8_t status) {
    FirstFault f{what, {}, id, status};
    set(f.faults);
    return f;
}

} // namespace

class FirstAnswerFaults : public SimTest {};

TEST_F(FirstAnswerFaults, ReplaceOnlyTheFirstAnswerOfTheirCommand) {
    const FirstFault cases[] = {
        first_fault(
            "resend first", [](Faults& f) { f.resend_first = {8001}; }, 12289, 0),
        first_fault(
            "error first", [](Faults& f) { f.error_first = {8001}; }, 12290, 1),
    };
    for (const FirstFault& c : cases) {
        start(with_faults(c.faults));
        EXPECT_EQ(host.ask(8007)->id, 9007) << c.what; // other commands are untouched
        const auto first = host.ask(8001);
        ASSERT_TRUE(first) << c.what;
        EXPECT_EQ(first->id, c.first_id) << c.what;
        EXPECT_EQ(first->status, c.first_status) << c.what;
        EXPECT_TRUE(first->payload.empty()) << c.what;
        const auto second = host.ask(8001);
        EXPECT_EQ(second->id, 9001) << c.what;
        EXPECT_EQ(second->payload.size(), 8u) << c.what;
        TearDown();
    }
}

TEST_F(SimTest, FailFromTheKthRequestOn) {
    Faults f;
    f.fail_from[8204] = 2;
    start(with_faults(f));
    EXPECT_EQ(host.ask(8204, i32(0))->id, 9204);
    for (int i = 0; i < 2; ++i) {
        const auto a = host.ask(8204, i32(32));
        EXPECT_EQ(a->id, 12290);
        EXPECT_EQ(a->status, 1);
    }
    EXPECT_EQ(host.ask(8201)->id, 9201);
}

TEST_F(SimTest, EmptyChunkFromTheKthFileRead) {
    Faults f;
    f.empty_chunk_from = 2;
    start(with_faults(f));
    EXPECT_EQ(host.ask(8211, file_request("meas/meas0000.dat", 0, 450))->payload.size(), 454u);
    EXPECT_EQ(host.ask(8211, file_request("meas/meas0000.dat", 450, 450))->payload, i32(0));
}

TEST_F(SimTest, DropNextAnswers) {
    Faults f;
    f.drop_next = 2;
    start(with_faults(f));
    ASSERT_TRUE(host.send(8001));
    ASSERT_TRUE(host.send(8002));
    EXPECT_EQ(host.ask(8007)->id, 9007);
    EXPECT_EQ(host.ask(8001)->id, 9001);
}

TEST_F(SimTest, CorruptedChecksAreRefusedByTheReceiver) {
    struct Case {
        const char* what;
        uint32_t Faults::*counter;
        std::size_t spoilt_at; // from the frame's start, or from its end when npos-relative
        bool from_end;
    };
    const Case cases[] = {{"header", &Faults::corrupt_header_next, 11, false},
                          {"body", &Faults::corrupt_body_next, 1, true}};
    for (const Case& c : cases) {
        Faults f;
        f.*c.counter = 1;
        start(with_faults(f));
        ASSERT_TRUE(host.send(8007));
        const Bytes raw = host.read_raw(21, std::chrono::seconds(10));
        ASSERT_EQ(raw.size(), 21u) << c.what;
        const Bytes good = [&] {
            const Bytes serial{'A', '2', '0', '0', '0', '4', '5', '6'};
            Bytes frame(21);
            vuxo::build_frame(frame.data(), 9007, 1000, 0, serial.data(), serial.size());
            return frame;
        }();
        const std::size_t at = c.from_end ? raw.size() - c.spoilt_at : c.spoilt_at;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (i == at) {
                EXPECT_NE(raw[i], good[i]) << c.what;
            } else {
                EXPECT_EQ(raw[i], good[i]) << c.what << " byte " << i;
            }
        }
        // Only the next answer is spoilt.
        EXPECT_EQ(host.ask(8007)->frame, good) << c.what;
        TearDown();
    }
}

TEST_F(SimTest, WriteModesStillDeliverWholeFrames) {
    struct Case {
        const char* what;
        void (*set)(Faults&);
    };
    const Case cases[] = {
        {"byte by byte", [](Faults& f) { f.byte_by_byte = true; }},
        {"latency", [](Faults& f) { f.latency_ms = 20; }},
        {"baud", [](Faults& f) { f.baud = 115200; }},
        {"garbage", [](Faults& f) { f.garbage = true; }},
    };
    for (const Case& c : cases) {
        Faults f;
        c.set(f);
        start(with_faults(f));
        const auto a = host.ask(8201);
        ASSERT_TRUE(a) << c.what;
        EXPECT_EQ(a->payload, sim->param_block()) << c.what;
        EXPECT_EQ(host.ask(8007)->id, 9007) << c.what;
        TearDown();
    }
}

TEST_F(SimTest, GarbageComesBeforeTheFrame) {
    Faults f;
    f.garbage = true;
    start(with_faults(f));
    ASSERT_TRUE(host.send(8024));
    const Bytes raw = host.read_raw(14 + 17, std::chrono::seconds(10));
    ASSERT_EQ(raw.size(), 31u);
    EXPECT_NE(Bytes(raw.begin(), raw.begin() + 4), (Bytes{'B', 'R', 'N', 'O'}));
    EXPECT_EQ(Bytes(raw.begin() + 14, raw.begin() + 18), (Bytes{'B', 'R', 'N', 'O'}));
}

TEST_F(SimTest, SilentRecordsButNeverAnswers) {
    Faults f;
    f.silent = true;
    start(with_faults(f));
    ASSERT_TRUE(host.send(8212)); // carried out, but its live data stays unsent too
    ASSERT_TRUE(host.send(8007));
    // Frames are handled one after the other: once 8007 is counted, 8212 is done.
    ASSERT_TRUE(sim->wait_for_count(8007, 1, std::chrono::seconds(10)));
    sim->set_faults(Faults{});
    EXPECT_EQ(host.ask(8001)->id, 9001);
    EXPECT_EQ(sim->entry_count(), 7u);
}

TEST_F(SimTest, HangUpAfterNFramesThenServeTheNextHost) {
    Faults f;
    f.hangup_after = 2;
    start(with_faults(f));
    EXPECT_EQ(host.ask(8007)->id, 9007);
    ASSERT_TRUE(host.send(8001));
    EXPECT_TRUE(host.wait_closed(std::chrono::seconds(10)));
    ASSERT_TRUE(host.connect_tcp(sim->port()));
    EXPECT_EQ(host.ask(8001)->id, 9001);
    EXPECT_EQ(sim->hangups(), 1u);
}

TEST_F(SimTest, ChaosSpoilsSomeAnswersAndARetryingHostGetsThrough) {
    Faults f;
    f.chaos = true;
    f.chaos_seed = 3;
    f.chaos_rate = 0.5;
    start(with_faults(f));
    int intact = 0;
    int other = 0;
    for (int attempt = 0; attempt < 200 && intact < 10; ++attempt) {
        ASSERT_TRUE(host.send(8007));
        // A lost answer ends the wait; a late one is taken by a later attempt.
        const auto a = host.next(std::chrono::milliseconds(300));
        if (a && a->id == 9007) {
            ++intact;
        } else {
            ++other;
        }
    }
    EXPECT_EQ(intact, 10);
    EXPECT_GT(other, 0);
    EXPECT_GT(sim->count(8007), 10u);
}

TEST_F(SimTest, LogFileHoldsEveryRequestAsHex) {
    const std::string path = ::testing::TempDir() + "vuxosim_log_" +
                             std::to_string(reinterpret_cast<uintptr_t>(this)) + ".txt";
    Config cfg = config_for(Generation::v2);
    cfg.log_path = path;
    start(cfg);
    host.ask(8007);
    host.ask(8204, i32(32));
    sim->stop();
    std::ifstream in(path);
    std::string line1;
    std::string line2;
    std::getline(in, line1);
    std::getline(in, line2);
    EXPECT_EQ(line1, "42524e4f471f0100e80300a300");
    EXPECT_EQ(line2.substr(0, 8), "42524e4f");
    EXPECT_EQ(line2.size(), 2u * 17u);
    std::remove(path.c_str());
}
