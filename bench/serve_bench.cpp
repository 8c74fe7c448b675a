// vuxoint serve, in process, over loopback HTTP:
//   - a database of a full 128,000-entry V2 log (the records the simulator's
//     big data set holds there): the first page of the measurements table, a
//     page deep inside it and the last one, by time and by number downwards;
//   - a live measurement from the instrument's message to the page's event
//     stream: p99 of 200;
//   - the server idle with one instrument connected and one page's event
//     stream open: CPU time over 10 s (the instrument's side, an in-process
//     simulator, counts too).
#include <httplib.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "auth.h"
#include "connect.h"
#include "report.h"
#include "server.h"
#include "simulator.h"
#include "store.h"
#include "store_fill.h"
#include "vuxodata.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace vuxocli::serve;

constexpr uint32_t kEntries = 128000;
constexpr int kPageRounds = 20;
constexpr int kLive = 200;
constexpr double kPageLimitMs = 100;
constexpr double kLiveLimitMs = 500;
constexpr double kIdleLimit = 0.001; // of a core
constexpr auto kIdleFor = std::chrono::seconds(10);

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double quantile(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, static_cast<std::size_t>(q * v.size()))];
}

// Never wakes early and lists nothing: no USB instrument takes part.
class NoUsb final : public UsbWatch {
  public:
    void wait(std::chrono::milliseconds most) override { std::this_thread::sleep_for(most); }
    bool notices_changes() const override { return false; }
    void stop() override {}
};

struct Session {
    httplib::Client client;
    httplib::Headers headers;
    Session(const Server& server) : client("127.0.0.1", server.port()) {
        const std::string address = server.address();
        const auto login = client.Get("/?token=" + address.substr(address.find("token=") + 6));
        headers = {
            {"Cookie", std::string(kSessionCookie) + "=" +
                           cookie_value(login->get_header_value("Set-Cookie"), kSessionCookie)}};
    }
};

void pages(const fs::path& dir) {
    vuxo::sim::Config cfg;
    cfg.data.gen = vuxo::sim::Generation::v2;
    cfg.data.set = vuxo::sim::DataSet::big;
    cfg.data.entries = kEntries;
    const vuxo::sim::Simulator sim(cfg);
    const fs::path db = dir / "pages.db";
    bench::StoreTimes filled;
    const auto filling = Clock::now();
    if (!bench::fill_store(sim, db, &filled)) {
        bench::row("serve table pages", "failed", "-", "-", "-", bench::Verdict::missed);
        return;
    }
    const int stored = filled.stored;
    std::printf("database of %d measurements filled in %.1f s\n", stored, ms_since(filling) / 1000);
    ServeConfig config;
    config.db = db.string();
    Server server(config, std::make_unique<NoUsb>(), [] { return std::vector<std::string>{}; });
    std::string error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "serve: %s\n", error.c_str());
        return;
    }
    Session s(server);
    const int last = (stored + 49) / 50;
    const std::vector<std::pair<std::string, std::string>> asked = {
        {"first page", "/api/measurements?page=1&limit=50"},
        {"page 1000", "/api/measurements?page=1000&limit=50"},
        {"last page", "/api/measurements?page=" + std::to_string(last) + "&limit=50"},
        {"first page by number, downwards",
         "/api/measurements?page=1&limit=50&sort=number&order=desc"},
        {"page 1000 by number, downwards",
         "/api/measurements?page=1000&limit=50&sort=number&order=desc"}};
    double worst = 0;
    for (const auto& [name, path] : asked) {
        std::vector<double> ms;
        for (int i = 0; i < kPageRounds; ++i) {
            const auto start = Clock::now();
            const auto res = s.client.Get(path, s.headers);
            ms.push_back(ms_since(start));
            if (!res || res->status != 200) {
                bench::row("serve " + name, "failed", "-", "-", "-", bench::Verdict::missed);
                return;
            }
        }
        std::printf("%s: first %.1f ms, median %.1f ms, max %.1f ms\n", name.c_str(), ms[0],
                    quantile(ms, 0.5), quantile(ms, 1.0));
        worst = std::max(worst, quantile(ms, 1.0));
        bench::row("serve table, " + name + " (" + std::to_string(stored) + " rows), max of " +
                       std::to_string(kPageRounds),
                   bench::fmt("%.1f ms", quantile(ms, 1.0)), bench::fmt("%.0f ms", kPageLimitMs),
                   bench::fmt("%.2f", quantile(ms, 1.0) / kPageLimitMs), "<= 1",
                   bench::at_most(quantile(ms, 1.0), kPageLimitMs));
    }
    server.stop();
}

void live_and_idle(const fs::path& dir) {
    vuxo::sim::Config cfg;
    cfg.data.gen = vuxo::sim::Generation::v2;
    cfg.data.set = vuxo::sim::DataSet::big;
    cfg.data.entries = 300;
    cfg.keep_frames = 0;
    vuxo::sim::Simulator sim(cfg);
    std::string error;
    vuxocli::Library library;
    ServeConfig config;
    config.db = (dir / "live.db").string();
    Server server(config, make_usb_watch(), list_usb_instruments);
    if (!sim.start(&error) || !server.start(&error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return;
    }
    Session s(server);
    s.headers.emplace(kCsrfHeader, "");
    const auto session = s.client.Get("/api/session", s.headers);
    const std::string csrf = nlohmann::json::parse(session->body)["csrf"];
    s.headers.erase(kCsrfHeader);
    s.headers.emplace(kCsrfHeader, csrf);
    s.client.Post("/api/instruments?conn=tcp://127.0.0.1:" + std::to_string(sim.port()), s.headers,
                  "", "text/plain");
    s.client.Get("/api/instruments/1/info", s.headers); // connects

    std::mutex mu;
    std::condition_variable cv;
    int arrived = 0;
    Clock::time_point arrival;
    httplib::Client stream("127.0.0.1", server.port());
    stream.set_read_timeout(30, 0);
    bool ending = false;
    std::thread page([&] {
        stream.Get("/api/events", s.headers, [&](const char* data, size_t size) {
            const std::string text(data, size);
            std::lock_guard lock(mu);
            for (std::size_t at = 0;
                 (at = text.find("event: measurement", at)) != std::string::npos; ++at) {
                ++arrived;
                arrival = Clock::now();
            }
            cv.notify_all();
            return !ending;
        });
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::vector<double> ms;
    for (int i = 0; i < kLive; ++i) {
        std::unique_lock lock(mu);
        const int before = arrived;
        const auto start = Clock::now();
        lock.unlock();
        if (sim.store_measurement() < 0) {
            break;
        }
        lock.lock();
        if (!cv.wait_for(lock, std::chrono::seconds(5), [&] { return arrived > before; })) {
            break;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(arrival - start).count());
    }
    const bool all = static_cast<int>(ms.size()) == kLive;
    std::printf("live: %zu of %d arrived, p50 %.2f ms, p99 %.2f ms\n", ms.size(), kLive,
                quantile(ms, 0.5), quantile(ms, 0.99));
    bench::row("serve live measurement to the event stream, p99 of " + std::to_string(kLive),
               all ? bench::fmt("%.2f ms", quantile(ms, 0.99)) : "lost some",
               bench::fmt("%.0f ms", kLiveLimitMs),
               bench::fmt("%.4f", quantile(ms, 0.99) / kLiveLimitMs), "<= 1",
               all ? bench::at_most(quantile(ms, 0.99), kLiveLimitMs) : bench::Verdict::missed);

    std::this_thread::sleep_for(std::chrono::seconds(1)); // the last job ends
    const double cpu_before = cpu_seconds();
    const auto start = Clock::now();
    std::this_thread::sleep_for(kIdleFor);
    const double share = (cpu_seconds() - cpu_before) / (ms_since(start) / 1000);
    std::printf("idle: %.5f of a core\n", share);
    bench::row("serve idle, one instrument connected, one page open (share of a core)",
               bench::fmt("%.5f", share), bench::fmt("%.3f", kIdleLimit),
               bench::fmt("%.3f", share / kIdleLimit), "<= 1", bench::at_most(share, kIdleLimit));
    {
        std::lock_guard lock(mu);
        ending = true;
    }
    server.stop();
    page.join();
}

} // namespace

int main() {
    const fs::path dir =
        fs::temp_directory_path() / ("vuxo_serve_bench_" + std::to_string(getpid()));
    fs::create_directories(dir);
    pages(dir);
    live_and_idle(dir);
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
