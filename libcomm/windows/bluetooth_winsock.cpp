// Bluetooth through Winsock (AF_BTH, RFCOMM) and the Bluetooth API's device
// search. Pairing (and its PIN) is the system's business, as on Linux; a
// paired device also appears as a COM port, which the serial link opens.
#include <winsock2.h>
#include <ws2bth.h>
// clang-format off: the Bluetooth API needs the Winsock headers first
#include <bluetoothapis.h>
// clang-format on

#include <string>

#include "bluetooth.h"
#include "os_error.h"
#include "socket_link.h"
#include "transport.h"
#include "win_link.h"

namespace comm {
namespace {

constexpr UCHAR kInquiryUnits = 8; // 8 x 1.28 s

BTH_ADDR to_bth_addr(const std::string& text) {
    unsigned char bytes[6];
    bt_address_bytes(text.c_str(), bytes);
    BTH_ADDR addr = 0;
    for (unsigned char b : bytes) {
        addr = (addr << 8) | b;
    }
    return addr;
}

os::Link bt_open(const ConnTarget& target, const os::Waker& stop) {
    if (const int started = winsock_start(); started != 0) {
        return started;
    }
    const SOCKET s = socket(AF_BTH, SOCK_STREAM, BTHPROTO_RFCOMM);
    if (s == INVALID_SOCKET) {
        return os::last_socket_error();
    }
    SOCKADDR_BTH addr{};
    addr.addressFamily = AF_BTH;
    addr.btAddr = to_bth_addr(target.where);
    addr.port = static_cast<ULONG>(target.channel);
    return socket_connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr, stop,
                          target.timeout_ms);
}

std::string text_of(const BLUETOOTH_ADDRESS& addr) {
    char text[18];
    const BYTE* b = addr.rgBytes; // last byte first
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", b[5], b[4], b[3], b[2], b[1],
                  b[0]);
    return text;
}

std::string narrow(const wchar_t* text) {
    std::string out;
    for (; *text != L'\0'; ++text) {
        out += *text < 0x80 ? static_cast<char>(*text) : '?';
    }
    return out;
}

} // namespace

const Transport kBluetoothTransport = {"bluetooth", bt_open, os::link_read, os::link_write,
                                       os::link_close};

int bt_adapter_status() {
    BLUETOOTH_FIND_RADIO_PARAMS params{};
    params.dwSize = sizeof params;
    HANDLE radio = nullptr;
    HBLUETOOTH_RADIO_FIND find = BluetoothFindFirstRadio(&params, &radio);
    if (find == nullptr) {
        const DWORD error = GetLastError();
        return error == ERROR_NO_MORE_ITEMS ? -COMM_ENODEV : -os::from_win32(error);
    }
    CloseHandle(radio);
    BluetoothFindRadioClose(find);
    return 0;
}

void bt_inquire(comm_bt_found_fn found, void* user, const std::atomic<bool>& cancel) {
    BLUETOOTH_DEVICE_SEARCH_PARAMS params{};
    params.dwSize = sizeof params;
    params.fReturnAuthenticated = TRUE;
    params.fReturnRemembered = TRUE;
    params.fReturnUnknown = TRUE;
    params.fReturnConnected = TRUE;
    params.fIssueInquiry = TRUE;
    params.cTimeoutMultiplier = kInquiryUnits;
    BLUETOOTH_DEVICE_INFO info{};
    info.dwSize = sizeof info;
    HBLUETOOTH_DEVICE_FIND find = BluetoothFindFirstDevice(&params, &info);
    if (find == nullptr) {
        return;
    }
    do {
        found(text_of(info.Address).c_str(), narrow(info.szName).c_str(), user);
    } while (!cancel && BluetoothFindNextDevice(find, &info));
    BluetoothFindDeviceClose(find);
}

} // namespace comm
