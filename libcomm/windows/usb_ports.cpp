// USB serial ports from SetupAPI: every present COM-port interface, its
// PortName from the device's registry key, and vendor, product and serial
// number from the USB device's instance id (the parent's, for a composite
// device's interface). Ports that are not on USB are skipped.
//
// The environment variable VUXO_COM_DEVICES, when set, names a file that
// replaces what SetupAPI lists (com_devices.h), so that the listing can be
// tested on a machine without the devices.
#include <windows.h>
// clang-format off: the SetupAPI headers need windows.h first
#include <cfgmgr32.h>
#include <setupapi.h>
// clang-format on

#include <cstdlib>
#include <string>
#include <vector>

#include "com_devices.h"
#include "usb_ports.h"

namespace comm {
namespace {

// ntddser.h does not build with MinGW: the COM-port interface class.
const GUID kComPortInterface = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

std::string narrow(const wchar_t* text) {
    std::string out;
    for (; *text != L'\0'; ++text) {
        out += *text < 0x80 ? static_cast<char>(*text) : '?';
    }
    return out;
}

std::string instance_id(DEVINST device) {
    wchar_t id[MAX_DEVICE_ID_LEN] = {};
    return CM_Get_Device_IDW(device, id, MAX_DEVICE_ID_LEN, 0) == CR_SUCCESS ? narrow(id)
                                                                             : std::string();
}

std::string port_name(HDEVINFO set, SP_DEVINFO_DATA* device) {
    HKEY key = SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) {
        return {};
    }
    wchar_t name[64] = {};
    DWORD size = sizeof name - sizeof(wchar_t);
    DWORD type = 0;
    const LONG read =
        RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
    RegCloseKey(key);
    return read == ERROR_SUCCESS && type == REG_SZ ? narrow(name) : std::string();
}

std::vector<ComDevice> present_com_devices() {
    std::vector<ComDevice> found;
    HDEVINFO set = SetupDiGetClassDevsW(&kComPortInterface, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        return found;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        ComDevice com;
        com.port_name = port_name(set, &device);
        com.instance_id = instance_id(device.DevInst);
        DEVINST parent = 0;
        if (CM_Get_Parent(&parent, device.DevInst, 0) == CR_SUCCESS) {
            com.parent_instance_id = instance_id(parent);
        }
        found.push_back(std::move(com));
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

} // namespace

std::vector<UsbPort> usb_ports() {
    const char* injected = std::getenv("VUXO_COM_DEVICES");
    return usb_ports_of(injected != nullptr ? read_com_devices(injected) : present_com_devices());
}

bool is_port_path(const std::string& where) {
    return where.rfind("COM", 0) == 0 || where.rfind("\\\\.\\", 0) == 0;
}

std::string numbered_serial_port(int n) {
    return "COM" + std::to_string(n + 1);
}

} // namespace comm
