#include "record_writer.h"

#include <algorithm>
#include <exception>

namespace vuxocli {

namespace {

// Enough to make a commit's cost small per record, small enough that a
// transaction never holds the database for long.
constexpr std::size_t kBatchMax = 64;

} // namespace

RecordWriter::RecordWriter(InstrumentRecords* records, std::size_t capacity)
    : records_(records), capacity_(std::max<std::size_t>(capacity, 1)), thread_([this] { run(); }) {
}

RecordWriter::~RecordWriter() {
    {
        std::lock_guard lock(mu_);
        quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

bool RecordWriter::push(const vuxod_record& record) {
    Item item;
    item.m = std::make_unique<vuxod_measurement>(*record.m);
    item.record = record;
    item.record.m = item.m.get();
    item.record.raw = item.m->raw;
    if (record.note != nullptr) {
        item.note.assign(record.note, record.note + record.note_size);
        item.record.note = item.note.data();
    }
    std::unique_lock lock(mu_);
    changed_.wait(lock, [this] { return queue_.size() < capacity_ || counts_.failed; });
    if (counts_.failed) {
        return false;
    }
    queue_.push_back(std::move(item));
    changed_.notify_all();
    return true;
}

RecordWriter::Counts RecordWriter::drain() {
    std::unique_lock lock(mu_);
    changed_.wait(lock, [this] { return (queue_.empty() && !busy_) || counts_.failed; });
    changed_.wait(lock, [this] { return !busy_; });
    return counts_;
}

void RecordWriter::run() {
    std::vector<Item> batch;
    for (;;) {
        {
            std::unique_lock lock(mu_);
            changed_.wait(lock, [this] { return quit_ || !queue_.empty(); });
            if (queue_.empty()) {
                return;
            }
            const std::size_t n = std::min(queue_.size(), kBatchMax);
            for (std::size_t i = 0; i < n; ++i) {
                batch.push_back(std::move(queue_.front()));
                queue_.pop_front();
            }
            busy_ = true;
        }
        changed_.notify_all();
        store(batch);
        batch.clear();
    }
}

void RecordWriter::store(std::vector<Item>& batch) {
    std::vector<const vuxod_record*> records;
    for (const Item& item : batch) {
        records.push_back(&item.record);
    }
    std::vector<PutResult> results;
    std::string error;
    bool ok = false;
    try {
        ok = records_->keep_all(records, &results, &error);
    } catch (const std::exception& e) {
        error = e.what();
    }
    std::lock_guard lock(mu_);
    for (const PutResult r : results) {
        counts_.stored += r == PutResult::stored ? 1 : 0;
        counts_.already_held += r == PutResult::already_held ? 1 : 0;
    }
    if (!ok && !counts_.failed) {
        counts_.failed = true;
        counts_.error = error;
        counts_.error_slot = batch.front().record.slot;
        // Not stored, so not counted: the next sync fetches them again.
        queue_.clear();
    }
    busy_ = false;
    changed_.notify_all();
}

} // namespace vuxocli
