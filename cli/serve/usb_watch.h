// The seam to the operating system for instruments plugged in or out: a watch
// that wakes the server when the USB devices may have changed (Linux: a udev
// monitor; elsewhere a periodic listing), and the listing itself, the record
// layer's "usb" form. Both are replaced by fakes in tests.
#ifndef VUXOCLI_SERVE_USB_WATCH_H
#define VUXOCLI_SERVE_USB_WATCH_H

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vuxocli::serve {

class UsbWatch {
  public:
    virtual ~UsbWatch() = default;
    // Returns after `most`, or sooner once something may have changed.
    virtual void wait(std::chrono::milliseconds most) = 0;
    // Ends a wait in progress and every later one at once.
    virtual void stop() = 0;
    // True when a wait ends at every change: the listing then need not be
    // repeated often just in case.
    virtual bool notices_changes() const = 0;
};

// This platform's watch.
std::unique_ptr<UsbWatch> make_usb_watch();

// The connection strings of the USB instruments found now.
using UsbListing = std::function<std::vector<std::string>()>;
std::vector<std::string> list_usb_instruments();

} // namespace vuxocli::serve

#endif
