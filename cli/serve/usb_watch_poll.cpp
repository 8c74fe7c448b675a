// Where no device monitor is at hand the listing is simply repeated: the
// server's loop lists again after every wait.
#include <condition_variable>
#include <mutex>

#include "usb_watch.h"

namespace vuxocli::serve {

namespace {

class PollWatch final : public UsbWatch {
  public:
    void wait(std::chrono::milliseconds most) override {
        std::unique_lock lock(mu_);
        cv_.wait_for(lock, most, [this] { return stopped_; });
    }
    bool notices_changes() const override { return false; }
    void stop() override {
        {
            std::lock_guard lock(mu_);
            stopped_ = true;
        }
        cv_.notify_all();
    }

  private:
    std::mutex mu_;
    std::condition_variable cv_;
    bool stopped_ = false;
};

} // namespace

std::unique_ptr<UsbWatch> make_usb_watch() {
    return std::make_unique<PollWatch>();
}

} // namespace vuxocli::serve
