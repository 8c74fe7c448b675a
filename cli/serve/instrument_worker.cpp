#include "instrument_worker.h"

#include "result_text.h"
#include "shown_text.h"
#include "vuxodata.h"

namespace vuxocli::serve {

namespace {

// The transport's thread: hand over, never call the library.
void on_live_data(int, MXX_link*, int32_t code, int32_t value, float, float, void* user) {
    if (reports_new_measurement(code)) {
        static_cast<InstrumentWorker*>(user)->post(
            [value](InstrumentWorker& w) { w.take_new(value); });
    }
}

void on_disconnected(int conn_id, MXX_link*, void* user, int) {
    static_cast<InstrumentWorker*>(user)->post(
        [conn_id](InstrumentWorker& w) { w.drop_connection(conn_id); });
}

} // namespace

InstrumentWorker::InstrumentWorker(std::string id, std::string conn, std::string source,
                                   const ServeContext& ctx)
    : id_(std::move(id)), conn_(std::move(conn)), source_(std::move(source)), ctx_(ctx) {
    events_.on_live_data = on_live_data;
    events_.on_disconnected = on_disconnected;
    events_.user = this;
    thread_ = std::thread([this] { run(); });
}

InstrumentWorker::~InstrumentWorker() {
    {
        std::lock_guard lock(mu_);
        stopping_ = true;
        jobs_.clear();
    }
    cv_.notify_all();
    thread_.join();
}

void InstrumentWorker::post(Job job) {
    {
        std::lock_guard lock(mu_);
        if (stopping_) {
            return;
        }
        jobs_.push_back(std::move(job));
    }
    cv_.notify_all();
}

void InstrumentWorker::run() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mu_);
            cv_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_) {
                break;
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
            busy_ = true;
        }
        job(*this);
        std::lock_guard lock(mu_);
        busy_ = false;
    }
    // Closed here, on the thread that used it; its callbacks end with it.
    close_instrument(inst_);
}

nlohmann::json InstrumentWorker::describe() {
    std::lock_guard lock(mu_);
    nlohmann::json j = shown_.is_object() ? shown_ : nlohmann::json::object();
    j["id"] = id_;
    j["conn"] = shown(conn_);
    j["source"] = source_;
    j["connected"] = shown_.is_object();
    j["busy"] = busy_;
    j["error"] = error_;
    return j;
}

void InstrumentWorker::set_state(bool connected, const std::string& error) {
    {
        std::lock_guard lock(mu_);
        error_ = error;
        if (!connected) {
            shown_ = nullptr;
        } else {
            shown_ = {{"serial", shown(inst_.serial)},
                      {"generation", inst_.generation == VUXOD_V1 ? "V1" : "V2"},
                      {"firmware", shown(inst_.firmware)}};
        }
    }
    publish_instruments();
}

void InstrumentWorker::publish_instruments() {
    ctx_.hub->publish("instrument", describe());
}

bool InstrumentWorker::ensure_open(std::string* error) {
    if (inst_.conn_id >= 0) {
        return true;
    }
    if (!target_) {
        std::string why;
        target_ = parse_conn(conn_, &why);
        if (!target_) {
            *error = "CONN \"" + shown(conn_) + "\": " + why;
            set_state(false, *error);
            return false;
        }
    }
    if (!open_instrument(*target_, &inst_, error, &events_)) {
        set_state(false, *error);
        return false;
    }
    const int rc = vuxod_session_open(&session_, inst_.conn_id);
    if (rc != VUXOD_OK) {
        *error = vuxocli::describe(*target_, inst_.conn_string) +
                 ": identify the instrument: " + result_text(rc);
        close_instrument(inst_);
        set_state(false, *error);
        return false;
    }
    keeper_ = InstrumentRecords{};
    set_state(true, "");
    return true;
}

void InstrumentWorker::drop_connection(int conn_id) {
    // A connection a sync replaced ends too; only the one in use matters.
    if (inst_.conn_id < 0 || inst_.conn_id != conn_id) {
        return;
    }
    close_instrument(inst_);
    set_state(false, "the connection was lost");
}

void InstrumentWorker::take_new(int32_t slot) {
    if (inst_.conn_id < 0) {
        return;
    }
    // A sync may have opened the connection again since.
    vuxod_session_open(&session_, inst_.conn_id);
    const char* step = "";
    const int rc = fetch_new_measurement(session_, slot, &taken_, &step);
    if (rc != VUXOD_OK) {
        ctx_.hub->publish(
            "live-error",
            {{"id", id_}, {"error", step + std::to_string(slot) + ": " + result_text(rc)}});
        return;
    }
    std::string error;
    if (!store_) {
        store_ = Store::open(ctx_.db, Store::Mode::write, &error);
    }
    nlohmann::ordered_json j = new_measurement_json(inst_.serial, taken_);
    j["id"] = id_;
    if (store_) {
        if (keeper_.store == nullptr) {
            keeper_.store = store_.get();
            keeper_.info = InstrumentInfo{inst_.serial, inst_.generation, inst_.firmware};
        }
        const PutResult put = keeper_.keep(taken_.record(), &error);
        j["stored"] = put == PutResult::stored;
        if (put == PutResult::failed) {
            j["error"] = "database " + ctx_.db + ": store the record of slot " +
                         std::to_string(slot) + ": " + error;
        }
    } else {
        j["stored"] = false;
        j["error"] = "database " + ctx_.db + ": open: " + error;
    }
    ctx_.hub->publish("measurement", j);
}

} // namespace vuxocli::serve
