// One thread per instrument and a queue of jobs for it: the commands of one
// connection never run at once (the library forbids it), and a slow or silent
// instrument holds up only its own jobs, never the page or another instrument.
// The connection stays open between jobs, so the instrument's own messages (a
// new measurement) arrive; its callbacks only queue a job.
#ifndef VUXOCLI_SERVE_INSTRUMENT_WORKER_H
#define VUXOCLI_SERVE_INSTRUMENT_WORKER_H

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>

#include "conn_target.h"
#include "connect.h"
#include "events.h"
#include "new_measurement.h"
#include "store.h"

namespace vuxocli::serve {

struct ServeContext {
    std::string db;
    EventHub* hub = nullptr;
    bool auto_sync = false;
};

class InstrumentWorker {
  public:
    using Job = std::function<void(InstrumentWorker&)>;

    // source: "usb" (found on USB) or "added" (by address).
    InstrumentWorker(std::string id, std::string conn, std::string source, const ServeContext& ctx);
    // Waits for the job in hand, drops the rest, closes the connection.
    ~InstrumentWorker();
    InstrumentWorker(const InstrumentWorker&) = delete;
    InstrumentWorker& operator=(const InstrumentWorker&) = delete;

    void post(Job job);
    // id, conn, source, connected, busy, serial, generation, firmware, error.
    nlohmann::json describe();
    const std::string& id() const { return id_; }
    const std::string& conn() const { return conn_; }

    // On the worker's thread only. Opens the connection when it is not; false
    // with the words in *error.
    bool ensure_open(std::string* error);
    Instrument& instrument() { return inst_; }
    const ConnTarget& target() const { return *target_; }
    const LinkEvents* events() const { return &events_; }
    const ServeContext& context() const { return ctx_; }
    // The connection conn_id was lost.
    void drop_connection(int conn_id);
    // A new measurement in `slot`: fetched, stored once, published.
    void take_new(int32_t slot);
    // Whether the last sync stored or found every measurement on the instrument.
    bool last_sync_complete = false;

  private:
    void run();
    void set_state(bool connected, const std::string& error);
    void publish_instruments();

    std::string id_;
    std::string conn_;
    std::string source_;
    ServeContext ctx_;
    std::optional<ConnTarget> target_;
    Instrument inst_;
    LinkEvents events_;
    vuxod_session session_{};
    NewMeasurement taken_;
    std::unique_ptr<Store> store_; // for new measurements, opened with the first
    InstrumentRecords keeper_;

    std::mutex mu_;
    std::condition_variable cv_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    bool busy_ = false;
    std::string error_;
    nlohmann::json shown_; // serial, generation, firmware once connected
    std::thread thread_;   // last: starts once everything above exists
};

} // namespace vuxocli::serve

#endif
