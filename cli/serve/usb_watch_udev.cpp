// Linux: udev tells of every tty that comes or goes (a USB-serial adapter is
// one), so a meter plugged in shows at once instead of at the next listing.
#include <libudev.h>
#include <poll.h>
#include <unistd.h>

#include <array>

#include "usb_watch.h"

namespace vuxocli::serve {

namespace {

class UdevWatch final : public UsbWatch {
  public:
    UdevWatch() {
        if (pipe(stop_pipe_.data()) != 0) {
            stop_pipe_ = {-1, -1};
        }
        udev_ = udev_new();
        if (udev_ != nullptr) {
            monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
        }
        if (monitor_ != nullptr &&
            (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "tty", nullptr) < 0 ||
             udev_monitor_enable_receiving(monitor_) < 0)) {
            udev_monitor_unref(monitor_);
            monitor_ = nullptr;
        }
    }
    ~UdevWatch() override {
        if (monitor_ != nullptr) {
            udev_monitor_unref(monitor_);
        }
        if (udev_ != nullptr) {
            udev_unref(udev_);
        }
        for (const int fd : stop_pipe_) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }
    UdevWatch(const UdevWatch&) = delete;
    UdevWatch& operator=(const UdevWatch&) = delete;

    // Without a monitor (no udev in a container) this is the periodic listing.
    void wait(std::chrono::milliseconds most) override {
        std::array<pollfd, 2> fds{};
        fds[0] = {stop_pipe_[0], POLLIN, 0};
        fds[1] = {monitor_ != nullptr ? udev_monitor_get_fd(monitor_) : -1, POLLIN, 0};
        if (poll(fds.data(), fds.size(), static_cast<int>(most.count())) > 0 &&
            (fds[1].revents & POLLIN) != 0) {
            // Drained, so the next wait sleeps until the next change.
            while (udev_device* d = udev_monitor_receive_device(monitor_)) {
                udev_device_unref(d);
            }
        }
    }
    bool notices_changes() const override { return monitor_ != nullptr; }
    void stop() override {
        if (stop_pipe_[1] >= 0) {
            const char byte = 1;
            (void)!write(stop_pipe_[1], &byte, 1);
        }
    }

  private:
    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
    std::array<int, 2> stop_pipe_{-1, -1};
};

} // namespace

std::unique_ptr<UsbWatch> make_usb_watch() {
    return std::make_unique<UdevWatch>();
}

} // namespace vuxocli::serve
