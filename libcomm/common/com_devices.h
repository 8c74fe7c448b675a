// The COM ports Windows lists, as names and instance ids, and the USB serial
// ports among them. Kept apart from SetupAPI so that a list can be injected.
#ifndef VUXO_COMM_COM_DEVICES_H
#define VUXO_COMM_COM_DEVICES_H

#include <string>
#include <vector>

#include "usb_ports.h"

namespace comm {

struct ComDevice {
    std::string port_name;          // COM3; "" when the device has none
    std::string instance_id;        // USB\VID_1781&PID_0C44\A1B2C3, ACPI\PNP0501\1
    std::string parent_instance_id; // "" when it has no parent
};

// The ports on USB, with ids from the device's instance id or, for one interface
// of a composite device, its parent's; others are left out.
std::vector<UsbPort> usb_ports_of(const std::vector<ComDevice>& devices);

// A list written one device a line, its fields separated by tabs: port name,
// instance id, parent instance id (may be left out). Empty when the file cannot
// be read.
std::vector<ComDevice> read_com_devices(const std::string& file);

} // namespace comm

#endif
