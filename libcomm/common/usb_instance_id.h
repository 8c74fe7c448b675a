// A USB device's instance id, as Windows names a device ("USB\VID_1781&
// PID_0C44\A1B2C3"), read into its vendor, product and serial number.
#ifndef VUXO_COMM_USB_INSTANCE_ID_H
#define VUXO_COMM_USB_INSTANCE_ID_H

#include <string>

namespace comm {

struct UsbIds {
    int vid = 0;
    int pid = 0;
    std::string serial; // "" when Windows made the last part up (it holds '&')
};

// false for an id that is no USB device's, or a composite device's interface
// ("...&MI_00"): its parent holds the serial number.
bool parse_usb_instance_id(const std::string& id, UsbIds* out);

} // namespace comm

#endif
