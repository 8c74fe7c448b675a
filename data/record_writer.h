// Stores records on a thread of its own while the log reader fetches the next:
// records wait in a bounded queue (the reader waits only when it is full), and
// whatever is queued when the writer turns to it goes into one transaction. A
// record counts as stored only once its transaction committed; one still queued
// when the program dies was never counted, and the next sync fetches it again
// from the instrument, which still holds it.
#ifndef VUXOD_RECORD_WRITER_H
#define VUXOD_RECORD_WRITER_H

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "store.h"

namespace vuxocli {

class RecordWriter {
  public:
    struct Counts {
        uint32_t stored = 0;
        uint32_t already_held = 0;
        bool failed = false;
        std::string error;
        int32_t error_slot = -1; // the first record of the batch that failed
    };

    // records (and its store) must outlive the writer.
    RecordWriter(InstrumentRecords* records, std::size_t capacity);
    // Stores what is queued, then ends the thread.
    ~RecordWriter();
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;

    // Queues a copy of the record, waiting for room. False once storing failed:
    // nothing more is taken then.
    bool push(const vuxod_record& record);
    // Waits until everything queued is stored (or storing failed) and returns
    // the counts so far. Between drain and the next push the store is the
    // caller's again.
    Counts drain();

  private:
    struct Item {
        std::unique_ptr<vuxod_measurement> m;
        std::vector<uint8_t> note;
        vuxod_record record{};
    };

    void run();
    void store(std::vector<Item>& batch);

    InstrumentRecords* records_;
    std::size_t capacity_;
    std::mutex mu_;
    std::condition_variable changed_;
    std::deque<Item> queue_;
    bool busy_ = false;
    bool quit_ = false;
    Counts counts_;
    std::thread thread_;
};

} // namespace vuxocli

#endif
