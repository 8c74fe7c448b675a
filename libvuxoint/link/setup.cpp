// Transport setup: starts and stops the transport, builds connection strings
// with the instrument's fixed line values, lists USB instruments and forwards
// the connection and Bluetooth calls.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "comm.h"
#include "mxx_comm.h"

namespace {

constexpr int kVendor = MXX_USB_VENDOR;      // 0x1781
constexpr int kProductF = MXX_USB_PRODUCT_F; // 0xC44, links "USBF" and "USBS"
constexpr int kProductU = MXX_USB_PRODUCT_U; // 0xC45, links "USBU"
constexpr int kProductLast = 3149;           // 0xC4D, the end of the listed range
constexpr int kEntrySize = 128;
constexpr int kPrefixLen = 4;

constexpr int kSerialBaud = 115200;
constexpr int kSerialDataBits = 8;
constexpr int kSerialStopBits = 1;
constexpr int kSerialParity = 0;
constexpr int kSerialFlow = 0;

constexpr int kBtClassOfDevice = 0xFFE050;
constexpr int kBtChannel = 1;
constexpr const char* kBtPin = "4817";
constexpr int kBtTimeoutMs = 60000;

constexpr int kNetTimeoutMs = 1000;

// Written only by MXX_init and MXX_shut; atomic so that a reader on another
// thread sees either value whole.
std::atomic<MXX_idle_wait_fn> g_wait_callback{nullptr};

// The product id after an entry's last "/", read as "%x" reads it; 0 when
// nothing can be read.
unsigned entry_product(const char* entry) {
    const char* slash = std::strrchr(entry, '/');
    unsigned product = 0;
    if (slash != nullptr && std::sscanf(slash + 1, "%x", &product) != 1) {
        product = 0;
    }
    return product;
}

void mark_usbf_entries(char* entries, int capacity, int count) {
    if (entries == nullptr) {
        return;
    }
    const int n = count < capacity ? count : capacity;
    for (int i = 0; i < n; ++i) {
        char* entry = entries + kEntrySize * i;
        if (std::memchr(entry, '\0', kEntrySize) == nullptr || std::strchr(entry, '/') == nullptr) {
            continue;
        }
        if (entry_product(entry) == static_cast<unsigned>(kProductF)) {
            std::memcpy(entry, "USBF", kPrefixLen);
        }
    }
}

int product_for_prefix(const char* device) {
    if (device == nullptr) {
        return -1;
    }
    if (std::strncmp(device, "USBF", kPrefixLen) == 0 ||
        std::strncmp(device, "USBS", kPrefixLen) == 0) {
        return kProductF;
    }
    if (std::strncmp(device, "USBU", kPrefixLen) == 0) {
        return kProductU;
    }
    return -1;
}

} // namespace

extern "C" {

VUXO_API int MXX_init(MXX_idle_wait_fn idle_wait, int a, int b) {
    if (comm_init(idle_wait, a, b) != 0) {
        return -1;
    }
    g_wait_callback = idle_wait;
    return comm_usb_register(a, b);
}

VUXO_API int MXX_shut(void) {
    comm_usb_deregister();
    comm_shut();
    g_wait_callback = nullptr;
    return 0;
}

VUXO_API int MXX_idle_wait(int a, int b) {
    const MXX_idle_wait_fn callback = g_wait_callback;
    if (callback == nullptr) {
        return 0;
    }
    return callback(a, static_cast<int>(static_cast<uint16_t>(b)));
}

VUXO_API int MXX_wait_connected(int conn_id, int timeout_ms) {
    return comm_wait_connected(conn_id, timeout_ms);
}

VUXO_API int MXX_disconnect(int conn_id) {
    return comm_disconnect(conn_id);
}

VUXO_API int MXX_get_conn_state_id(int conn_id) {
    return comm_get_state(conn_id);
}

VUXO_API int MXX_list_usb_devices(char* entries, int capacity, int* count) {
    const int result = comm_list_devices_usb(0, entries, capacity, count, "", "", kVendor, kVendor,
                                             kProductF, kProductLast);
    if (count != nullptr) {
        mark_usbf_entries(entries, capacity, *count);
    }
    return result;
}

VUXO_API int MXX_make_usb_conn_string(char* out, const char* device, int flags) {
    const int product = product_for_prefix(device);
    if (product < 0) {
        return -1;
    }
    return comm_make_conn_string_usb(out, device, flags, kVendor, product);
}

VUXO_API int MXX_make_serial_conn_string(char* out, uint16_t port) {
    return comm_make_conn_string_serial(out, port, kSerialBaud, kSerialDataBits, kSerialStopBits,
                                        kSerialParity, kSerialFlow);
}

VUXO_API int MXX_make_serial_path_conn_string(char* out, const char* path) {
    return comm_make_conn_string_serial_path(out, path, kSerialBaud, kSerialDataBits,
                                             kSerialStopBits, kSerialParity, kSerialFlow);
}

VUXO_API int MXX_make_bt_conn_string(char* out, const char* device, const char* name) {
    return comm_make_conn_string_bt(out, device, name, kBtClassOfDevice, kBtChannel, kBtPin,
                                    kBtTimeoutMs);
}

VUXO_API int MXX_make_net_conn_string(char* out, const char* address, uint16_t port) {
    return comm_make_conn_string_net(out, address, port, kNetTimeoutMs);
}

VUXO_API int MXX_bt_is_available(void) {
    return comm_bt_is_available();
}

VUXO_API int MXX_comm_bt_discover(MXX_bt_found_fn found, void* user) {
    return comm_bt_discover(found, kBtClassOfDevice, user);
}

VUXO_API int MXX_comm_bt_discover_cancel(void) {
    return comm_bt_discover_cancel();
}

VUXO_API int MXX_comm_bt_discover_wait(int timeout_ms) {
    return comm_bt_discover_wait(timeout_ms);
}

} // extern "C"
