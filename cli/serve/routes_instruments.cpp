// The instruments: listed, added by address, and each one's info, clock, sync
// and clear as jobs on its worker.
#include <httplib.h>

#include <chrono>
#include <future>

#include "instrument_jobs.h"
#include "server.h"

namespace vuxocli::serve {

namespace {

// Long enough for an instrument that is slow to answer every retry of a step.
constexpr auto kJobWait = std::chrono::seconds(120);

void answer(httplib::Response& res, const JobResult& r) {
    res.status = r.status;
    res.set_content(r.body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                    "application/json");
}

JobResult run_job(InstrumentWorker& w, JobResult (*job)(InstrumentWorker&)) {
    auto promise = std::make_shared<std::promise<JobResult>>();
    std::future<JobResult> result = promise->get_future();
    w.post([promise, job](InstrumentWorker& worker) { promise->set_value(job(worker)); });
    if (result.wait_for(kJobWait) != std::future_status::ready) {
        return JobResult{504, {{"error", "the instrument has not finished; try again later"}}};
    }
    try {
        return result.get();
    } catch (const std::future_error&) {
        // The worker ended (the instrument was unplugged) before the job ran.
        return JobResult{410, {{"error", "the instrument is gone"}}};
    }
}

// A serial device is the one path an address may be; nothing else on disk.
bool acceptable_address(const std::string& conn, std::string* why) {
    const bool path =
        conn.rfind('/', 0) == 0 || conn.rfind("./", 0) == 0 || conn.rfind("../", 0) == 0;
    if (path && (conn.rfind("/dev/", 0) != 0 || conn.find("..") != std::string::npos)) {
        *why = "a serial port is named by its device, /dev/...";
        return false;
    }
    return parse_conn(conn, why).has_value();
}

using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

// A route over the instrument its path names.
Handler on_instrument(
    ServeState& s,
    std::function<void(InstrumentWorker&, const httplib::Request&, httplib::Response&)> route) {
    return [&s, route](const httplib::Request& req, httplib::Response& res) {
        const std::shared_ptr<InstrumentWorker> w = s.instruments->find(req.matches[1]);
        if (!w) {
            answer(res, JobResult{404, {{"error", "no such instrument"}}});
            return;
        }
        route(*w, req, res);
    };
}

} // namespace

void add_instrument_routes(httplib::Server& http, ServeState& s) {
    http.Get("/api/instruments", [&s](const httplib::Request&, httplib::Response& res) {
        answer(res, JobResult{200, s.instruments->list()});
    });
    http.Post("/api/instruments", [&s](const httplib::Request& req, httplib::Response& res) {
        const std::string conn = req.get_param_value("conn");
        std::string why;
        if (!acceptable_address(conn, &why)) {
            answer(res, JobResult{400, {{"error", "CONN \"" + conn + "\": " + why}}});
            return;
        }
        const std::shared_ptr<InstrumentWorker> w = s.instruments->add(conn);
        s.hub.publish("instruments", s.instruments->list());
        answer(res, JobResult{200, w->describe()});
    });
    const std::string one = R"(/api/instruments/(\d+))";
    http.Get(one + "/info",
             on_instrument(s, [](InstrumentWorker& w, const httplib::Request&,
                                 httplib::Response& res) { answer(res, run_job(w, info_job)); }));
    http.Post(one + "/clock", on_instrument(s, [](InstrumentWorker& w, const httplib::Request&,
                                                  httplib::Response& res) {
                  answer(res, run_job(w, set_clock_job));
              }));
    http.Post(one + "/sync", on_instrument(s, [](InstrumentWorker& w, const httplib::Request&,
                                                 httplib::Response& res) {
                  w.post(sync_job);
                  answer(res, JobResult{202, {{"started", true}}});
              }));
    http.Post(one + "/clear", on_instrument(s, [](InstrumentWorker& w, const httplib::Request& req,
                                                  httplib::Response& res) {
                  if (req.get_param_value("confirm") != "yes") {
                      answer(res, JobResult{400, {{"error", "clearing needs confirm=yes"}}});
                      return;
                  }
                  answer(res, run_job(w, clear_job));
              }));
}

} // namespace vuxocli::serve
