// The record layer over the real transport against the simulated instrument on loopback
// TCP: what it decodes is checked against the simulator's own description of each record.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sim_session.h"
#include "simulator.h"
#include "vuxodata.h"
#include "vuxoint.h"

namespace {

using namespace std::chrono_literals;
using vuxo::sim::DataSet;
using vuxo::sim::DataSpec;
using vuxo::sim::Faults;
using vuxo::sim::Generation;

constexpr uint16_t kReadFile = 8211;

// A connected instrument and a session on it.
class DataSim : public ::testing::Test {
  protected:
    void TearDown() override {
        live.reset();
        vuxo_library_shut();
    }

    void open(DataSpec data, Faults faults = {}) {
        data_set = data;
        vuxo::sim::Config cfg;
        cfg.data = data;
        cfg.faults = faults;
        ASSERT_EQ(vuxo_library_init(), 0);
        live = std::make_unique<simsession::SimSession>(cfg);
        sim = &live->sim();
        ASSERT_EQ(live->open(5000), "");
        conn = live->id();
        ASSERT_EQ(vuxod_session_open(&session, conn), VUXOD_OK);
    }

    std::unique_ptr<simsession::SimSession> live;
    vuxo::sim::Simulator* sim = nullptr;
    DataSpec data_set;
    int conn = -1;
    vuxod_session session{};
};

struct Seen {
    std::vector<std::pair<int32_t, uint32_t>> records; // slot, key in order of arrival
    std::vector<vuxod_measurement> decoded;
    std::vector<uint8_t> entry_flags;
    std::vector<std::vector<int>> progress; // phase, done, total
    int stop_after = -1;
    std::vector<int32_t> failed_slots;
    int32_t skip_slot = -2;
};

int on_record(const vuxod_record* r, void* user) {
    auto* seen = static_cast<Seen*>(user);
    seen->records.emplace_back(r->slot, r->key);
    seen->decoded.push_back(*r->m);
    seen->entry_flags.push_back(r->entry_flags);
    return static_cast<int>(seen->records.size()) == seen->stop_after ? 1 : 0;
}

void on_progress(int phase, uint32_t done, uint32_t total, void* user) {
    static_cast<Seen*>(user)->progress.push_back(
        {phase, static_cast<int>(done), static_cast<int>(total)});
}

int on_failure(int32_t slot, uint32_t, int, void* user) {
    static_cast<Seen*>(user)->failed_slots.push_back(slot);
    return 0;
}

vuxod_log_options options(Seen* seen) {
    vuxod_log_options o;
    vuxod_log_options_init(&o);
    o.on_record = on_record;
    o.progress = on_progress;
    o.on_failure = on_failure;
    o.user = seen;
    return o;
}

// The slots a log read must deliver, in order: keys ascending (unsigned), equal keys by
// slot, never an empty slot or the all-ones key.
std::vector<std::pair<int32_t, uint32_t>> expected_order(const vuxo::sim::Simulator& sim) {
    std::vector<std::pair<uint32_t, int32_t>> by_key;
    for (uint32_t slot = 0; slot < sim.entry_count(); ++slot) {
        const uint32_t key = sim.entry(slot).key;
        if (key != 0 && key != 0xFFFFFFFFu) {
            by_key.emplace_back(key, static_cast<int32_t>(slot));
        }
    }
    std::sort(by_key.begin(), by_key.end());
    std::vector<std::pair<int32_t, uint32_t>> out;
    for (const auto& [key, slot] : by_key) {
        out.emplace_back(slot, key);
    }
    return out;
}

class DecodeEdge : public DataSim, public ::testing::WithParamInterface<Generation> {};

TEST_P(DecodeEdge, EveryRecordMatchesTheSimulatorsDescription) {
    open({GetParam(), DataSet::edge});
    Seen seen;
    const vuxod_log_options o = options(&seen);
    vuxod_log_report report;
    ASSERT_EQ(vuxod_read_log(&session, &o, &report), VUXOD_OK);
    ASSERT_EQ(seen.records, expected_order(*sim));
    EXPECT_EQ(report.fetched, seen.records.size());
    EXPECT_EQ(report.entry_count, sim->entry_count());

    const bool v1 = GetParam() == Generation::v1;
    const vuxo::sim::Log log(data_set);
    for (std::size_t k = 0; k < seen.records.size(); ++k) {
        const auto slot = static_cast<uint32_t>(seen.records[k].first);
        const vuxod_measurement& m = seen.decoded[k];
        const vuxo::sim::RecordSpec rs = log.record_spec(slot);
        const vuxo::sim::RecordValues want = vuxo::sim::record_values(data_set, slot, rs);
        SCOPED_TRACE("slot " + std::to_string(slot));
        EXPECT_EQ(seen.entry_flags[k], rs.entry_flags);
        EXPECT_EQ(m.generation, v1 ? VUXOD_V1 : VUXOD_V2);
        EXPECT_EQ(
            std::vector<int>({m.number, m.id, m.year, m.month, m.day, m.hour, m.minute, m.second}),
            std::vector<int>({want.number, want.id, want.year, want.month, want.day, want.hour,
                              want.minute, want.second}));
        EXPECT_EQ(m.kind, rs.kind);
        EXPECT_EQ(
            std::vector<int>({m.pin, m.error, m.diameter, m.first_count, m.value_count}),
            std::vector<int>({rs.pin, rs.error, rs.diameter, rs.first_count, rs.value_count}));
        EXPECT_EQ(m.susceptibility, want.susceptibility);
        EXPECT_EQ(m.conductivity, want.conductivity);
        if (v1) {
            EXPECT_EQ(m.curve_s, rs.flags >> 4);
        } else {
            EXPECT_EQ(std::vector<int>({m.curve_s, m.curve_c, m.unit_bits, m.tag}),
                      std::vector<int>({rs.curve_s, rs.curve_c, rs.units, rs.tag}));
        }
        ASSERT_EQ(m.values_decoded, static_cast<int32_t>(want.susc_values.size()));
        for (int32_t i = 0; i < m.values_decoded; ++i) {
            EXPECT_EQ(m.susc_values[i], want.susc_values[static_cast<std::size_t>(i)]) << i;
            EXPECT_EQ(m.marks[i], vuxo::sim::scan_value_marked(i) ? 1 : 0) << i;
            if (!v1) {
                EXPECT_EQ(m.cond_values[i], want.cond_values[static_cast<std::size_t>(i)]) << i;
            }
        }
        const std::vector<unsigned char> raw = sim->record_bytes(slot);
        EXPECT_EQ(std::vector<unsigned char>(m.raw, m.raw + m.raw_size), raw);
    }
}

INSTANTIATE_TEST_SUITE_P(Generations, DecodeEdge, ::testing::Values(Generation::v1, Generation::v2),
                         [](const auto& info) { return vuxo::sim::generation_name(info.param); });

// Two reads a record while the instrument takes large reads; one refused read and then
// ten small ones a record when it does not, whichever way it refuses.
TEST_F(DataSim, LargeReadsFallBackToSmallOnesForTheRestOfTheConnection) {
    struct Case {
        Faults::LargeReads mode;
        int32_t chunk;
    };
    for (const Case c : {Case{Faults::LargeReads::allow, VUXOD_CHUNK_LARGE},
                         Case{Faults::LargeReads::error, VUXOD_CHUNK_SMALL},
                         Case{Faults::LargeReads::fail, VUXOD_CHUNK_SMALL}}) {
        TearDown();
        conn = -1;
        Faults f;
        f.large_reads = c.mode;
        open({Generation::v2, DataSet::basic}, f);
        Seen seen;
        const vuxod_log_options o = options(&seen);
        ASSERT_EQ(vuxod_read_log(&session, &o, nullptr), VUXOD_OK);
        const auto n = static_cast<uint64_t>(seen.records.size());
        ASSERT_GT(n, 1u);
        EXPECT_EQ(session.chunk, c.chunk);
        // Two refusals in a row, each followed by a small read, before reads stay small.
        EXPECT_EQ(sim->count(kReadFile), c.chunk == VUXOD_CHUNK_LARGE ? 2 * n : 2 + 10 * n);
        for (std::size_t k = 0; k < seen.records.size(); ++k) {
            const auto slot = static_cast<uint32_t>(seen.records[k].first);
            const vuxod_measurement& m = seen.decoded[k];
            EXPECT_EQ(std::vector<unsigned char>(m.raw, m.raw + m.raw_size),
                      sim->record_bytes(slot));
        }
    }
}

// A missing file fails at both sizes: that is no reason to give up large reads.
TEST_F(DataSim, MissingFileLeavesLargeReads) {
    open({Generation::v2, DataSet::basic});
    vuxod_measurement m;
    EXPECT_EQ(vuxod_fetch_measurement(&session, 1, &m), VUXOD_FAILED);
    EXPECT_EQ(session.chunk, VUXOD_CHUNK_LARGE);
    ASSERT_EQ(vuxod_fetch_measurement(&session, -1, &m), VUXOD_OK);
    EXPECT_EQ(session.chunk, VUXOD_CHUNK_LARGE);
    EXPECT_EQ(std::vector<unsigned char>(m.raw, m.raw + m.raw_size),
              sim->record_bytes(static_cast<uint32_t>(sim->entry_count() - 1)));
}

TEST_F(DataSim, StopsAtTheFirstFailureAndSaysWhere) {
    struct Case {
        const char* name;
        uint16_t fail_cmd;
        uint32_t fail_from;
        bool empty_chunks;
        uint32_t flags;
        int stop_after;
        int code;
        int step;
        int fetched; // -1: all but the failed ones
        int failed;  // -1: every record from the third on
        int where;   // index into the download order, -1 none, -2 the second page
    };
    const Case cases[] = {
        {"params", 8201, 1, false, 0, -1, VUXOD_FAILED, VUXOD_STEP_ENTRY_COUNT, 0, 0, -1},
        {"second page", 8204, 2, false, 0, -1, VUXOD_FAILED, VUXOD_STEP_ENTRY_LIST, 0, 0, -2},
        // Two large reads a record; the fifth read and its small retry fail.
        {"third record", kReadFile, 5, false, 0, -1, VUXOD_FAILED, VUXOD_STEP_RECORD, 2, 1, 2},
        {"keep going", kReadFile, 5, false, VUXOD_LOG_KEEP_GOING, -1, VUXOD_FAILED,
         VUXOD_STEP_RECORD, 2, -1, 2},
        {"empty chunk", 0, 0, true, 0, -1, VUXOD_E_SHORT, VUXOD_STEP_RECORD, 0, 1, 0},
        {"caller stops", 0, 0, false, 0, 2, VUXOD_E_STOPPED, VUXOD_STEP_CALLBACK, 2, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        conn = -1;
        Faults f;
        if (c.fail_cmd != 0) {
            f.fail_from[c.fail_cmd] = c.fail_from;
        }
        f.empty_chunk_from = c.empty_chunks ? 1 : 0;
        DataSpec data{Generation::v2, DataSet::basic};
        data.entries = 40; // two pages
        open(data, f);
        const auto order = expected_order(*sim);
        Seen seen;
        seen.stop_after = c.stop_after;
        vuxod_log_options o = options(&seen);
        o.flags = c.flags;
        vuxod_log_report r;
        EXPECT_EQ(vuxod_read_log(&session, &o, &r), c.code);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.step, c.step);
        const int to_fetch = static_cast<int>(order.size());
        EXPECT_EQ(static_cast<int>(r.fetched), c.fetched >= 0 ? c.fetched : 0);
        EXPECT_EQ(static_cast<int>(r.failed), c.failed >= 0 ? c.failed : to_fetch - 2);
        EXPECT_EQ(seen.records.size(), r.fetched);
        if (c.where >= 0) {
            EXPECT_EQ(r.slot, order[static_cast<std::size_t>(c.where)].first);
            EXPECT_EQ(r.key, order[static_cast<std::size_t>(c.where)].second);
        } else {
            EXPECT_EQ(r.slot, c.where == -2 ? 32 : -1);
        }
        if (c.flags == VUXOD_LOG_KEEP_GOING) {
            EXPECT_EQ(seen.failed_slots.size(), r.failed);
        }
        EXPECT_NE(std::string(vuxod_result_text(r.code)), "");
    }
}

int skip_slot(int32_t slot, uint32_t, void* user) {
    return slot == static_cast<Seen*>(user)->skip_slot ? 1 : 0;
}

// Skipping is by (slot, key): a pair whose key no longer matches is fetched again, as a
// slot refilled after the log was cleared must be.
TEST_F(DataSim, SkipsExactlyTheGivenPairsAndReportsProgress) {
    DataSpec data{Generation::v2, DataSet::basic};
    data.entries = 40;
    open(data);
    const auto order = expected_order(*sim);
    ASSERT_GT(order.size(), 3u);
    std::vector<vuxod_slot_key> pairs = {
        {order[1].first, order[1].second}, {order[0].first, order[0].second + 1}, // stale key
    };
    Seen seen;
    seen.skip_slot = order[2].first;
    vuxod_log_options o = options(&seen);
    o.skip = skip_slot;
    o.skip_pairs = pairs.data();
    o.skip_count = pairs.size();
    if (pairs[0].slot > pairs[1].slot) {
        EXPECT_EQ(vuxod_read_log(&session, &o, nullptr), VUXOD_E_UNSORTED);
        EXPECT_EQ(sim->count(8201), 0u);
    }
    vuxod_sort_slot_keys(pairs.data(), pairs.size());
    vuxod_log_report r;
    ASSERT_EQ(vuxod_read_log(&session, &o, &r), VUXOD_OK);

    auto want = order;
    want.erase(want.begin() + 1, want.begin() + 3);
    EXPECT_EQ(seen.records, want);
    EXPECT_EQ(r.skipped, 2u);
    EXPECT_EQ(r.to_fetch, want.size());
    EXPECT_EQ(sim->count(kReadFile), 2 * want.size());

    const int total = static_cast<int>(want.size());
    const std::vector<std::vector<int>> first = {
        {VUXOD_PHASE_ENTRIES, 1, 2}, {VUXOD_PHASE_ENTRIES, 2, 2}, {VUXOD_PHASE_RECORDS, 0, total}};
    ASSERT_EQ(seen.progress.size(), first.size() + want.size());
    EXPECT_TRUE(std::equal(first.begin(), first.end(), seen.progress.begin()));
    EXPECT_EQ(seen.progress.back(), (std::vector<int>{VUXOD_PHASE_RECORDS, total, total}));
}

// Whatever the instrument does, a delivered record is the instrument's record of that
// slot, and every record is either delivered or counted as failed.
void expect_true_records(const Seen& seen, const vuxod_log_report& r,
                         const vuxo::sim::Simulator& sim) {
    for (std::size_t k = 0; k < seen.records.size(); ++k) {
        const auto slot = static_cast<uint32_t>(seen.records[k].first);
        const vuxod_measurement& m = seen.decoded[k];
        EXPECT_EQ(std::vector<unsigned char>(m.raw, m.raw + m.raw_size), sim.record_bytes(slot))
            << "slot " << slot;
    }
    EXPECT_EQ(r.fetched, seen.records.size());
}

// An answer that comes later than the connection waits for owed answers (twice the
// 800 ms time-out) must still never be taken for a later request of the same kind: in
// the entry list, at a record's first chunk or at its second.
TEST_F(DataSim, LateAnswersNeverPairWithALaterRequest) {
    // Requests from the fault on: 1 parameters, 2-3 pages, then two reads a record.
    for (const uint32_t at : {3u, 4u, 9u}) {
        SCOPED_TRACE("late request " + std::to_string(at));
        TearDown();
        conn = -1;
        DataSpec data{Generation::v2, DataSet::big};
        data.entries = 40;
        open(data);
        Faults f;
        f.slow_answer_at = at;
        f.slow_answer_ms = 2500;
        sim->set_faults(f);
        Seen seen;
        vuxod_log_options o = options(&seen);
        o.flags = VUXOD_LOG_KEEP_GOING;
        vuxod_log_report r;
        vuxod_read_log(&session, &o, &r);
        expect_true_records(seen, r, *sim);
        EXPECT_GT(r.to_fetch, 0u) << "the entry list is read again";
        EXPECT_EQ(r.fetched + r.failed, r.to_fetch);
        EXPECT_LE(r.failed, 1u);
        // A lost answer is no refusal of large reads.
        EXPECT_EQ(session.chunk, VUXOD_CHUNK_LARGE);
    }
}

// Correctly framed answers with status 0 but the wrong size: nothing of them is used.
TEST_F(DataSim, AnswersOfTheWrongSizeAreRefused) {
    struct Case {
        Generation gen;
        uint16_t cmd;
        uint32_t size;
        int step;
    };
    const Case cases[] = {
        {Generation::v1, 8205, 0, VUXOD_STEP_RECORD},
        {Generation::v1, 8205, 400, VUXOD_STEP_RECORD},
        {Generation::v1, 8205, 827, VUXOD_STEP_RECORD},
        {Generation::v1, 8205, 829, VUXOD_STEP_RECORD},
        {Generation::v1, 8205, 832, VUXOD_STEP_RECORD},
        {Generation::v2, kReadFile, 100, VUXOD_STEP_RECORD}, // claims 3996, brings 96
        {Generation::v1, 8201, 0, VUXOD_STEP_ENTRY_COUNT},   // an empty parameter block
        {Generation::v2, 8201, 97, VUXOD_STEP_ENTRY_COUNT},  // the count cut short
        {Generation::v1, 8204, 0, VUXOD_STEP_ENTRY_LIST},    // an empty page
        {Generation::v2, 8204, 20, VUXOD_STEP_ENTRY_LIST},   // four of six entries
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.cmd) + " answering " + std::to_string(c.size) + " bytes");
        TearDown();
        conn = -1;
        open({c.gen, DataSet::basic});
        Faults f;
        f.answer_size[c.cmd] = c.size;
        sim->set_faults(f);
        Seen seen;
        vuxod_log_options o = options(&seen);
        o.flags = VUXOD_LOG_KEEP_GOING;
        vuxod_log_report r;
        EXPECT_EQ(vuxod_read_log(&session, &o, &r), VUXOD_E_ANSWER);
        EXPECT_EQ(r.step, c.step);
        EXPECT_TRUE(seen.records.empty());
        if (c.step == VUXOD_STEP_RECORD) {
            EXPECT_EQ(r.failed, r.to_fetch);
            EXPECT_GT(r.failed, 0u);
        } else {
            EXPECT_EQ(sim->count(c.cmd), 3u) << "the read is tried three times";
        }
    }
}

// One resend or error message costs a repeat, not the sync, and one refused large read
// does not make every later read small.
TEST_F(DataSim, OneRefusalIsRetried) {
    for (const uint16_t cmd : {uint16_t{8201}, uint16_t{8204}, kReadFile}) {
        for (const bool resend : {true, false}) {
            SCOPED_TRACE(std::to_string(cmd) + (resend ? " resend" : " error"));
            TearDown();
            conn = -1;
            DataSpec data{Generation::v2, DataSet::basic};
            data.entries = 40;
            open(data);
            Faults f;
            (resend ? f.resend_first : f.error_first).insert(cmd);
            sim->set_faults(f);
            Seen seen;
            const vuxod_log_options o = options(&seen);
            vuxod_log_report r;
            EXPECT_EQ(vuxod_read_log(&session, &o, &r), VUXOD_OK);
            expect_true_records(seen, r, *sim);
            EXPECT_EQ(r.fetched, r.to_fetch);
            EXPECT_EQ(session.chunk, VUXOD_CHUNK_LARGE);
        }
    }
}

struct SilentRun {
    Seen seen;
    vuxo::sim::Simulator* sim = nullptr;
};

int record_then_silence(const vuxod_record* rec, void* user) {
    auto* run = static_cast<SilentRun*>(user);
    on_record(rec, &run->seen);
    if (run->seen.records.size() == 5) {
        Faults f;
        f.silent = true;
        run->sim->set_faults(f);
    }
    return 0;
}

// An instrument that falls silent on an open link is given up after one record and
// its resynchronisation, not after a time-out for every record left.
TEST_F(DataSim, SilentInstrumentIsGivenUp) {
    DataSpec data{Generation::v2, DataSet::big};
    data.entries = 40;
    open(data);
    SilentRun run;
    run.sim = sim;
    vuxod_log_options o;
    vuxod_log_options_init(&o);
    o.flags = VUXOD_LOG_KEEP_GOING;
    o.on_record = record_then_silence;
    o.user = &run;
    vuxod_log_report r;
    EXPECT_EQ(vuxod_read_log(&session, &o, &r), VUXOD_E_GONE);
    EXPECT_EQ(r.fetched, 5u);
    EXPECT_EQ(r.failed, 1u);
    EXPECT_GT(r.to_fetch, 10u);
    EXPECT_EQ(sim->count(kReadFile), 2u * 5 + 1);
    EXPECT_EQ(sim->count(8001), 3u);
}

struct Notes {
    std::map<int32_t, std::string> by_slot; // slots delivered with a note
    std::vector<int32_t> slots;             // every slot delivered
};

int keep_note(const vuxod_record* r, void* user) {
    auto* notes = static_cast<Notes*>(user);
    notes->slots.push_back(r->slot);
    if (r->note != nullptr) {
        notes->by_slot[r->slot] = std::string(r->note, r->note + r->note_size);
    }
    return 0;
}

// A V1 measurement's note comes with its record; a record whose note cannot be read is
// not delivered, so that the next read fetches both again.
TEST_F(DataSim, V1NotesComeWithTheirRecords) {
    for (const bool fail_notes : {false, true}) {
        SCOPED_TRACE(fail_notes ? "note reads fail" : "notes read");
        TearDown();
        conn = -1;
        open({Generation::v1, DataSet::basic});
        if (fail_notes) {
            Faults f;
            f.fail_from[8208] = 1;
            sim->set_faults(f);
        }
        Notes notes;
        vuxod_log_options o;
        vuxod_log_options_init(&o);
        o.flags = VUXOD_LOG_KEEP_GOING;
        o.on_record = keep_note;
        o.user = &notes;
        vuxod_log_report r;
        vuxod_read_log(&session, &o, &r);
        std::map<int32_t, std::string> want;
        uint32_t noted = 0;
        for (const auto& [slot, key] : expected_order(*sim)) {
            if ((sim->entry(static_cast<uint32_t>(slot)).flags & VUXOD_ENTRY_NOTE) != 0) {
                want[slot] = "Note of measurement " + std::to_string(slot + 1);
                ++noted;
            }
        }
        ASSERT_GT(noted, 0u);
        if (fail_notes) {
            want.clear();
        }
        EXPECT_EQ(notes.by_slot, want);
        EXPECT_EQ(r.failed, fail_notes ? noted : 0u);
        EXPECT_EQ(notes.slots.size() + r.failed, r.to_fetch);
    }
}

} // namespace
