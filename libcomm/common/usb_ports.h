// The USB serial ports attached now, as each OS lists them.
#ifndef VUXO_COMM_USB_PORTS_H
#define VUXO_COMM_USB_PORTS_H

#include <string>
#include <vector>

namespace comm {

struct UsbPort {
    std::string name; // ttyUSB0, COM3: what the name filter sees
    std::string path; // what opens it: /dev/ttyUSB0, COM3
    int vid = 0;
    int pid = 0;
    std::string serial; // the device's USB serial number, "" when it has none
};

// In the order the OS gives them.
std::vector<UsbPort> usb_ports();

// Whether a USB connection string's device part is a port to open rather
// than a USB serial number.
bool is_port_path(const std::string& where);

// The n-th on-board serial port, counted from 0: /dev/ttyS0, COM1.
std::string numbered_serial_port(int n);

} // namespace comm

#endif
