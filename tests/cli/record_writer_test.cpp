// The sync's writer thread: a record counts as stored only once its batch
// committed, and after a failed batch nothing more is taken or counted.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>

#include "record_writer.h"

namespace {

using vuxocli::PutResult;

// Commits batches until the failing one; every record of a committed batch is new.
class BatchStore : public vuxocli::Store {
  public:
    explicit BatchStore(int fail_batch) : fail_batch_(fail_batch) {}
    bool put_all(int64_t, const std::vector<const vuxod_record*>& records,
                 std::vector<PutResult>* results, std::string* error) override {
        std::lock_guard lock(mu_);
        if (++batches_ == fail_batch_) {
            results->assign(records.size(), PutResult::failed);
            *error = "disk full";
            return false;
        }
        committed_ += static_cast<int>(records.size());
        results->assign(records.size(), PutResult::stored);
        return true;
    }
    int committed() {
        std::lock_guard lock(mu_);
        return committed_;
    }

    bool find_instrument(const std::string&, int64_t*, std::string*, std::string*) override {
        return false;
    }
    bool note_sync(const vuxocli::InstrumentInfo&, int64_t* id, std::string*) override {
        *id = 1;
        return true;
    }
    bool instruments(const std::optional<std::string>&, std::vector<vuxocli::StoredInstrument>*,
                     std::string*) override {
        return true;
    }
    bool has(int64_t, int32_t, uint32_t, std::string*) override { return false; }
    bool held(const std::string&, std::vector<vuxod_slot_key>*, std::string*) override {
        return true;
    }
    bool query(const vuxocli::QueryFilter&, const HeaderFn&, const RowFn&, std::string*) override {
        return true;
    }
    bool records(const vuxocli::QueryFilter&, const RecordFn&, std::string*) override {
        return true;
    }
    bool page(const vuxocli::PageQuery&, const HeaderFn&, const RowFn&, int64_t*,
              std::string*) override {
        return true;
    }

  private:
    std::mutex mu_;
    int fail_batch_;
    int batches_ = 0;
    int committed_ = 0;
};

vuxod_record record_of(int32_t slot, vuxod_measurement* m) {
    vuxod_record r{};
    r.slot = slot;
    r.key = static_cast<uint32_t>(slot) + 1;
    r.m = m;
    r.raw = m->raw;
    r.raw_size = 828;
    return r;
}

TEST(RecordWriter, CountsWhatCommittedAndTakesNothingAfterAFailedBatch) {
    auto m = std::make_unique<vuxod_measurement>();
    for (const int fail_batch : {0, 1, 2}) {
        BatchStore store(fail_batch);
        vuxocli::InstrumentRecords records;
        records.store = &store;
        vuxocli::RecordWriter writer(&records, 4);
        int taken = 0;
        for (int32_t slot = 0; slot < 200; ++slot) {
            if (!writer.push(record_of(slot, m.get()))) {
                break;
            }
            ++taken;
        }
        const vuxocli::RecordWriter::Counts c = writer.drain();
        EXPECT_EQ(static_cast<int>(c.stored), store.committed()) << fail_batch;
        EXPECT_EQ(c.failed, fail_batch != 0) << fail_batch;
        if (fail_batch == 0) {
            EXPECT_EQ(taken, 200);
            EXPECT_EQ(c.stored, 200u);
        } else {
            EXPECT_EQ(c.error, "disk full");
            EXPECT_LT(taken, 200) << "a failed writer must refuse more records";
            EXPECT_FALSE(writer.push(record_of(999, m.get())));
        }
    }
}

} // namespace
