#include "com_devices.h"

#include <fstream>
#include <sstream>

#include "usb_instance_id.h"

namespace comm {

std::vector<UsbPort> usb_ports_of(const std::vector<ComDevice>& devices) {
    std::vector<UsbPort> ports;
    for (const ComDevice& device : devices) {
        UsbIds ids;
        if (device.port_name.empty() || (!parse_usb_instance_id(device.instance_id, &ids) &&
                                         !parse_usb_instance_id(device.parent_instance_id, &ids))) {
            continue;
        }
        UsbPort port;
        port.name = device.port_name;
        port.path = device.port_name;
        port.vid = ids.vid;
        port.pid = ids.pid;
        port.serial = ids.serial;
        ports.push_back(std::move(port));
    }
    return ports;
}

std::vector<ComDevice> read_com_devices(const std::string& file) {
    std::vector<ComDevice> devices;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        ComDevice device;
        std::getline(fields, device.port_name, '\t');
        std::getline(fields, device.instance_id, '\t');
        std::getline(fields, device.parent_instance_id, '\t');
        devices.push_back(std::move(device));
    }
    return devices;
}

} // namespace comm
