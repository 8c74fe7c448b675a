// The simulator's answers over a real loopback connection, checked with the library's
// own frame builder and receiver.
#include <chrono>
#include <cstring>

#include "le.h"
#include "sim_fixture.h"

using namespace simtest;
using namespace vuxo::sim;
using Bytes = std::vector<unsigned char>;

namespace {

struct Exchange {
    const char* what;
    Generation gen;
    uint16_t cmd;
    Bytes payload;
    uint16_t answer_id;
    uint8_t status;
    std::size_t answer_size;
};

const Exchange kExchanges[] = {
    {"fw version", Generation::v1, 8001, {}, 9001, 0, 8},
    {"clock", Generation::v2, 8002, {}, 9002, 0, 24},
    {"serial v2", Generation::v2, 8007, {}, 9007, 0, 8},
    {"model rev", Generation::v1, 8008, {}, 9008, 0, 4},
    {"erase flash", Generation::v2, 8100, {}, 9100, 0, 4},
    {"read flash", Generation::v1, 8101, {0x10, 0x00}, 9101, 0, 64},
    {"flash fw", Generation::v2, 8103, cat(i32(1), i32(2)), 9103, 0, 0},
    {"v1 params", Generation::v1, 8201, {}, 9201, 0, 4096},
    {"v2 params, a frame above 4 KB", Generation::v2, 8201, {}, 9201, 0, 4319},
    {"v1 set params", Generation::v1, 8202, Bytes(96, 1), 9202, 0, 0},
    {"v2 set params", Generation::v2, 8202, Bytes(319, 1), 9202, 0, 0},
    {"status", Generation::v1, 8203, {}, 9203, 0, 20},
    {"v1 entry page", Generation::v1, 8204, i32(0), 9204, 0, 640},
    {"v2 entry page", Generation::v2, 8204, i32(32), 9204, 0, 160},
    {"v1 log entry", Generation::v1, 8205, cat(i32(0), i32(0)), 9205, 0, 828},
    {"v1 log entry of an empty slot", Generation::v1, 8205, cat(i32(1), i32(0)), 12290, 1, 0},
    {"log entry on v2", Generation::v2, 8205, cat(i32(0), i32(0)), 12290, 1, 0},
    {"clear logs", Generation::v2, 8206, i32(0), 9206, 0, 0},
    {"note info", Generation::v1, 8207, i32(0), 9207, 0, 4},
    {"note on v2", Generation::v2, 8208, cat(cat(i32(0), i32(0)), i32(10)), 12290, 1, 0},
    {"v1 delete entry", Generation::v1, 8209, cat(i32(3), i32(0)), 9209, 0, 0},
    {"v2 file info", Generation::v2, 8209, file_request("meas/meas0000.dat", 0, 0), 9209, 0, 40},
    {"read first chunk", Generation::v2, 8211, file_request("meas/meas0000.dat", 0, 450), 9211, 0,
     454},
    {"read more than a chunk holds", Generation::v2, 8211, file_request("meas/last.dat", 0, 5000),
     9211, 0, 4000},
    {"read past the end", Generation::v2, 8211, file_request("meas/last.dat", 4063, 450), 9211, 0,
     4},
    {"read a missing file", Generation::v2, 8211, file_request("meas/meas0001.dat", 0, 450), 12290,
     1, 0},
    {"measure", Generation::v1, 8212, {}, 9212, 0, 4},
    {"memory usage", Generation::v2, 8016, {}, 9016, 0, 29},
    {"send event", Generation::v1, 8022, i32(5), 9022, 0, 0},
    {"set state", Generation::v2, 8023, i32(2), 9023, 0, 0},
    {"get state", Generation::v2, 8024, {}, 9024, 0, 4},
    {"screen", Generation::v2, 8213, {}, 9213, 0, 1060},
    {"screen on v1", Generation::v1, 8213, {}, 12290, 1, 0},
    {"unknown command", Generation::v2, 4711, {}, 12290, 1, 0},
    {"list without its index", Generation::v2, 8204, {}, 12290, 1, 0},
};

class Exchanges : public SimTest, public ::testing::WithParamInterface<Exchange> {};

} // namespace

TEST_P(Exchanges, AnswerIdStatusAndSize) {
    const Exchange& e = GetParam();
    start(e.gen);
    const auto a = host.ask(e.cmd, e.payload);
    ASSERT_TRUE(a) << e.what;
    EXPECT_EQ(a->id, e.answer_id) << e.what;
    EXPECT_EQ(a->status, e.status) << e.what;
    EXPECT_EQ(a->payload.size(), e.answer_size) << e.what;
    EXPECT_EQ(sim->count(e.cmd), 1u);
}

INSTANTIATE_TEST_SUITE_P(Sim, Exchanges, ::testing::ValuesIn(kExchanges),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_F(SimTest, IdentityClockAndSettersRoundTrip) {
    start(Generation::v1);
    EXPECT_EQ(host.ask(8007)->payload[0], '5');
    EXPECT_EQ(host.ask(8002)->payload,
              cat(cat(cat(i32(6), i32(12)), cat(i32(2026), i32(9))), cat(i32(5), i32(7))));
    const Bytes clock = cat(cat(cat(i32(1), i32(2)), cat(i32(2027), i32(3))), cat(i32(4), i32(5)));
    EXPECT_EQ(host.ask(8003, clock)->id, 9003);
    EXPECT_EQ(host.ask(8002)->payload, clock);
    EXPECT_EQ(host.ask(8104, Bytes{'5', 'X', 'Y', 'Z', '0', '0', '0', '1'})->id, 9104);
    EXPECT_EQ(host.ask(8007)->payload, (Bytes{'5', 'X', 'Y', 'Z', '0', '0', '0', '1'}));
    EXPECT_EQ(host.ask(8105, i32(42))->id, 9105);
    EXPECT_EQ(host.ask(8008)->payload, i32(42));
    EXPECT_EQ(host.ask(8102, Bytes{0xF0, 0xFF, 1, 2, 3})->id, 9102);
    const Bytes flash = host.ask(8101, Bytes{0xF0, 0xFF})->payload;
    EXPECT_EQ(Bytes(flash.begin(), flash.begin() + 3), (Bytes{1, 2, 3}));
    EXPECT_EQ(host.ask(8023, i32(9))->id, 9023);
    EXPECT_EQ(host.ask(8024)->payload, i32(9));
}

TEST_F(SimTest, AnswersEchoTheTimeOutWord) {
    start(Generation::v2);
    ASSERT_TRUE(host.send_bytes(request(8206, i32(0), 37856)));
    EXPECT_EQ(host.next()->word, 37856);
}

TEST_F(SimTest, V1LogEntryIsTheRecordTheApiComputes) {
    start(Generation::v1);
    EXPECT_EQ(host.ask(8205, cat(i32(2), i32(0)))->payload, sim->record_bytes(2));
    EXPECT_EQ(host.ask(8204, i32(0))->payload, sim->entry_page(0));
    EXPECT_EQ(host.ask(8201)->payload, sim->param_block());
    EXPECT_EQ(host.ask(8207, i32(0))->payload, i32(21));
    const Bytes note = host.ask(8208, cat(cat(i32(0), i32(0)), i32(100)))->payload;
    EXPECT_EQ(vuxo::load_le<int32_t>(note.data()), 21);
    EXPECT_EQ(std::string(note.begin() + 4, note.end()), "Note of measurement 1");
}

TEST_F(SimTest, V2FileReadInChunksOf450GivesTheRecord) {
    start(Generation::v2);
    for (const auto& [name, slot] :
         {std::pair<std::string, uint32_t>{"meas/meas0003.dat", 3}, {"meas/last.dat", 5}}) {
        Bytes got;
        int requests = 0;
        for (;;) {
            const auto a =
                host.ask(8211, file_request(name, static_cast<int32_t>(got.size()), 450));
            ASSERT_TRUE(a);
            ++requests;
            const int32_t count = vuxo::load_le<int32_t>(a->payload.data());
            ASSERT_EQ(a->payload.size(), 4u + static_cast<std::size_t>(count));
            if (count == 0) {
                break;
            }
            got.insert(got.end(), a->payload.begin() + 4, a->payload.end());
        }
        EXPECT_EQ(got, sim->record_bytes(slot)) << name;
        EXPECT_EQ(requests, 11) << name; // ten with data, the last one at the end of the file
    }
}

TEST_F(SimTest, WrittenFileReadsBackAndReportsItsSize) {
    start(Generation::v2);
    EXPECT_EQ(host.ask(8210, cat(file_request("cfg/user.txt", 2, 3), Bytes{'a', 'b', 'c'}))->id,
              9210);
    const auto info = host.ask(8209, file_request("cfg/user.txt", 0, 0));
    EXPECT_EQ(vuxo::load_le<int32_t>(info->payload.data()), 5);
    const auto chunk = host.ask(8211, file_request("cfg/user.txt", 0, 100));
    EXPECT_EQ(chunk->payload, cat(i32(5), Bytes{0, 0, 'a', 'b', 'c'}));
    const auto missing = host.ask(8209, file_request("nope", 0, 0));
    EXPECT_EQ(vuxo::load_le<int32_t>(missing->payload.data()), -1);
}

TEST_F(SimTest, RestartGetsNoAnswer) {
    start(Generation::v1);
    ASSERT_TRUE(host.send(8021));
    // Requests are answered in order, so the next frame answers the next request.
    EXPECT_EQ(host.ask(8007)->id, 9007);
    EXPECT_EQ(sim->count(8021), 1u);
}

TEST_F(SimTest, MeasureStoresARecordAndReportsItsSlot) {
    start(Generation::v2);
    const auto a = host.ask(8212);
    EXPECT_EQ(a->id, 9212);
    const auto live = host.next();
    ASSERT_TRUE(live);
    EXPECT_EQ(live->id, 9302);
    ASSERT_EQ(live->payload.size(), 16u);
    EXPECT_EQ(vuxo::load_le<int32_t>(live->payload.data()), 256);
    EXPECT_EQ(vuxo::load_le<int32_t>(live->payload.data() + 4), 6);
    EXPECT_EQ(sim->entry_count(), 7u);
    EXPECT_EQ(vuxo::load_le<uint32_t>(host.ask(8201)->payload.data() + 94), 7u);
    EXPECT_EQ(sim->file("meas/last.dat"), sim->record_bytes(6));
    const Bytes rec = sim->record_bytes(6);
    EXPECT_EQ(vuxo::load_le<float>(live->payload.data() + 8),
              vuxo::load_le<float>(rec.data() + kV2OffSusc));
}

TEST_F(SimTest, StoreMeasurementFromCodeSendsLiveData) {
    start(Generation::v1);
    ASSERT_TRUE(sim->wait_for_connections(1, std::chrono::seconds(10)));
    EXPECT_EQ(sim->store_measurement(), 6);
    const auto live = host.next();
    ASSERT_TRUE(live);
    EXPECT_EQ(live->id, 9302);
    EXPECT_EQ(vuxo::load_le<int32_t>(live->payload.data() + 4), 6);
    EXPECT_EQ(host.ask(8205, cat(i32(6), i32(0)))->payload, sim->record_bytes(6));
}

TEST_F(SimTest, IdleHostAfterALogReadGetsANewMeasurement) {
    Config cfg = config_for(Generation::v2);
    cfg.measure_after_idle = 0.05;
    start(cfg);
    EXPECT_EQ(host.ask(8007)->id, 9007); // identification alone does not arm it
    EXPECT_EQ(host.ask(8201)->id, 9201);
    const auto live = host.next();
    ASSERT_TRUE(live);
    EXPECT_EQ(live->id, 9302);
    EXPECT_EQ(vuxo::load_le<int32_t>(live->payload.data() + 4), 6);
    // It fires once per read; the next read arms it again.
    EXPECT_EQ(host.ask(8204, i32(0))->id, 9204);
    EXPECT_EQ(vuxo::load_le<int32_t>(host.next()->payload.data() + 4), 7);
}

TEST_F(SimTest, MeasureEveryReportsWhileAHostIsConnected) {
    Config cfg = config_for(Generation::v1);
    cfg.measure_every = 0.02;
    start(cfg);
    for (int32_t slot : {6, 7, 8}) {
        const auto live = host.next();
        ASSERT_TRUE(live);
        EXPECT_EQ(live->id, 9302);
        EXPECT_EQ(vuxo::load_le<int32_t>(live->payload.data() + 4), slot);
    }
}

TEST_F(SimTest, SendFrameReachesTheHostUnchanged) {
    start(Generation::v2);
    ASSERT_TRUE(sim->wait_for_connections(1, std::chrono::seconds(10)));
    sim->send_frame(live_data_frame(133, 42, 1.5f, -2.0f));
    const auto a = host.next();
    ASSERT_TRUE(a);
    EXPECT_EQ(a->frame, live_data_frame(133, 42, 1.5f, -2.0f));
    EXPECT_EQ(a->payload,
              cat(cat(i32(133), i32(42)), cat(Bytes{0, 0, 0xC0, 0x3F}, Bytes{0, 0, 0, 0xC0})));
}

TEST_F(SimTest, ReceivedFramesAreRecordedWhole) {
    start(Generation::v2);
    host.ask(8007);
    host.ask(8204, i32(64));
    const auto frames = sim->received_frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], request(8007));
    EXPECT_EQ(frames[1], request(8204, i32(64)));
    EXPECT_EQ(sim->received_count(), 2u);
    EXPECT_EQ(sim->counts().at(8204), 1u);
}

TEST_F(SimTest, RequestSplitAndSurroundedByNoiseIsStillFound) {
    start(Generation::v2);
    const Bytes req = request(8007);
    ASSERT_TRUE(host.send_bytes(Bytes{'B', 'R', 0x00, 0x42, 0x52, 0x4E, 0x00}));
    ASSERT_TRUE(host.send_bytes(Bytes(req.begin(), req.begin() + 5)));
    ASSERT_TRUE(host.send_bytes(Bytes(req.begin() + 5, req.end())));
    Bytes bad = request(8001);
    bad[11] ^= 1; // a header check the receiver must refuse
    ASSERT_TRUE(host.send_bytes(bad));
    EXPECT_EQ(host.ask(8024)->id, 9007);
    EXPECT_EQ(host.next()->id, 9024);
    EXPECT_EQ(sim->count(8001), 0u);
}

TEST_F(SimTest, NextHostIsServedAfterAHangUp) {
    start(Generation::v1);
    EXPECT_EQ(host.ask(8007)->id, 9007);
    host.close();
    ASSERT_TRUE(host.connect_tcp(sim->port()));
    EXPECT_EQ(host.ask(8001)->id, 9001);
    EXPECT_EQ(sim->connections(), 2u);
}

TEST(SimPty, ServesTheSlaveAndItsReopening) {
    Config cfg = config_for(Generation::v2);
    cfg.link = LinkKind::pty;
    Simulator sim(cfg);
    std::string error;
    ASSERT_TRUE(sim.start(&error)) << error;
    ASSERT_FALSE(sim.pty_path().empty());
    for (int round = 0; round < 2; ++round) {
        RawClient host;
        ASSERT_TRUE(host.open_pty(sim.pty_path()));
        const auto a = host.ask(8201);
        ASSERT_TRUE(a) << "round " << round;
        EXPECT_EQ(a->payload.size(), 4319u);
        EXPECT_EQ(host.ask(8007)->payload[0], 'A');
    }
    sim.stop();
}
