// An instrument plugged in shows on an open page without a reload: a fake USB
// watch and listing stand in for udev and the USB scan.
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "auth.h"
#include "server.h"

namespace {

using namespace vuxocli::serve;
using namespace std::chrono_literals;

// What the operating system would report, set by the test.
struct FakeUsb {
    std::mutex mu;
    std::condition_variable cv;
    std::vector<std::string> plugged;
    bool changed = false;
    bool stopped = false;
};

class FakeWatch final : public UsbWatch {
  public:
    explicit FakeWatch(FakeUsb* usb) : usb_(usb) {}
    // A long wait: only a change (or the end) may wake it.
    void wait(std::chrono::milliseconds) override {
        std::unique_lock lock(usb_->mu);
        usb_->cv.wait_for(lock, 60s, [this] { return usb_->changed || usb_->stopped; });
        usb_->changed = false;
    }
    bool notices_changes() const override { return true; }
    void stop() override {
        std::lock_guard lock(usb_->mu);
        usb_->stopped = true;
        usb_->cv.notify_all();
    }

  private:
    FakeUsb* usb_;
};

TEST(ServeUsb, APluggedInstrumentAppearsOnAnOpenPage) {
    FakeUsb usb;
    ServeConfig config;
    config.db = testing::TempDir() + "serve_usb_test.db";
    Server server(config, std::make_unique<FakeWatch>(&usb), [&usb] {
        std::lock_guard lock(usb.mu);
        return usb.plugged;
    });
    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;

    httplib::Client client("127.0.0.1", server.port());
    const std::string token = server.address().substr(server.address().find("token=") + 6);
    const httplib::Result login = client.Get("/?token=" + token);
    ASSERT_TRUE(login);
    const std::string cookie = cookie_value(login->get_header_value("Set-Cookie"), kSessionCookie);
    ASSERT_FALSE(cookie.empty());
    const httplib::Headers session = {{"Cookie", std::string(kSessionCookie) + "=" + cookie}};
    ASSERT_EQ(client.Get("/api/instruments", session)->body, "[]");

    // The page's stream, read until it names the plugged instrument.
    std::mutex seen_mu;
    std::string seen;
    httplib::Client stream("127.0.0.1", server.port());
    stream.set_read_timeout(5, 0);
    std::thread page([&] {
        stream.Get("/api/events", session, [&](const char* data, size_t size) {
            std::lock_guard lock(seen_mu);
            seen.append(data, size);
            return seen.find("USBS:fake-meter") == std::string::npos;
        });
    });
    std::this_thread::sleep_for(200ms); // the stream is open before the plug
    {
        std::lock_guard lock(usb.mu);
        usb.plugged = {"USBS:fake-meter"};
        usb.changed = true;
        usb.cv.notify_all();
    }
    page.join();
    {
        std::lock_guard lock(seen_mu);
        EXPECT_NE(seen.find("event: instruments"), std::string::npos) << seen;
        EXPECT_NE(seen.find("\"source\":\"usb\""), std::string::npos) << seen;
    }
    EXPECT_NE(client.Get("/api/instruments", session)->body.find("USBS:fake-meter"),
              std::string::npos);
    server.stop();
}

} // namespace
