// USB instruments among the serial ports the OS lists (usb_ports.h), and the
// connection strings that name them.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "comm.h"
#include "connection_table.h"
#include "guarded.h"
#include "transport.h"
#include "usb_ports.h"

namespace comm {
namespace {

constexpr int kEntrySize = 128;

// Natural order of the names, so ttyUSB2 comes before ttyUSB10 and COM2 before COM10.
std::vector<UsbPort> ports_in_order() {
    std::vector<UsbPort> ports = usb_ports();
    std::sort(ports.begin(), ports.end(), [](const UsbPort& a, const UsbPort& b) {
        return a.name.size() != b.name.size() ? a.name.size() < b.name.size() : a.name < b.name;
    });
    return ports;
}

bool starts_with(const std::string& text, const char* prefix) {
    return prefix == nullptr || text.compare(0, std::strlen(prefix), prefix) == 0;
}

std::string hex(int value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", value);
    return buf;
}

int list_devices(char* entries, int capacity, int* count, const char* serial_prefix,
                 const char* name_prefix, int vid_first, int vid_last, int pid_first,
                 int pid_last) {
    int written = 0;
    for (const UsbPort& tty : ports_in_order()) {
        if (written >= capacity) {
            break;
        }
        if (tty.vid < vid_first || tty.vid > vid_last || tty.pid < pid_first ||
            tty.pid > pid_last || !starts_with(tty.serial, serial_prefix) ||
            !starts_with(tty.name, name_prefix)) {
            continue;
        }
        // USBU names the second product; every other one is listed as USBS.
        const char* prefix = tty.pid == 0xC45 ? "USBU" : "USBS";
        const std::string text = std::string(prefix) + ":" + tty.path + "/" + hex(tty.pid);
        if (store_conn_string(entries + kEntrySize * written, text) == 0) {
            ++written;
        }
    }
    *count = written;
    return 0;
}

// The attached port a USB target names: by its tty path, or by product id and
// USB serial number (empty: the first with that product id).
bool find_usb_tty(const ConnTarget& target, UsbPort* out) {
    const bool by_path = is_port_path(target.where);
    for (UsbPort& tty : ports_in_order()) {
        const bool match = by_path ? target.where == tty.path
                                   : tty.vid == kInstrumentVendor && tty.pid == target.product_id &&
                                         (target.where.empty() || tty.serial == target.where);
        if (match) {
            *out = std::move(tty);
            return true;
        }
    }
    return false;
}

int describe(const char* conn_string, char* port, char* usb_serial, int* product_id) {
    ConnTarget target;
    if (parse_conn_string(conn_string, &target) != 0 || target.kind != LinkKind::usb) {
        return -COMM_EINVAL;
    }
    UsbPort tty;
    if (!find_usb_tty(target, &tty)) {
        return -COMM_ENODEV;
    }
    if (store_conn_string(port, tty.path) != 0 || store_conn_string(usb_serial, tty.serial) != 0) {
        return -COMM_ENAMETOOLONG;
    }
    *product_id = tty.pid;
    return 0;
}

} // namespace

int port_path(const ConnTarget& target, std::string* path) {
    if (target.kind != LinkKind::usb || is_port_path(target.where)) {
        *path = target.where;
        return 0;
    }
    UsbPort tty;
    if (!find_usb_tty(target, &tty)) {
        return -COMM_ENODEV;
    }
    *path = tty.path;
    return 0;
}

} // namespace comm

using namespace comm;

extern "C" COMM_API int comm_list_devices_usb(int flags, char* entries, int capacity, int* count,
                                              const char* filter1, const char* filter2,
                                              int vid_first, int vid_last, int pid_first,
                                              int pid_last) {
    (void)flags; // no listing option exists
    end_walk();
    int ignored = 0;
    int* out_count = count != nullptr ? count : &ignored;
    *out_count = 0;
    if (capacity < 0 || (capacity > 0 && entries == nullptr)) {
        return -COMM_EINVAL;
    }
    return guarded([&] {
        return list_devices(entries, capacity, out_count, filter1, filter2, vid_first, vid_last,
                            pid_first, pid_last);
    });
}

extern "C" COMM_API int comm_usb_describe(const char* conn_string, char* port, char* usb_serial,
                                          int* product_id) {
    end_walk();
    if (conn_string == nullptr || port == nullptr || usb_serial == nullptr ||
        product_id == nullptr) {
        return -COMM_EINVAL;
    }
    port[0] = '\0';
    usb_serial[0] = '\0';
    const int rc = guarded([&] { return describe(conn_string, port, usb_serial, product_id); });
    if (rc != 0) {
        port[0] = '\0';
        usb_serial[0] = '\0';
    }
    return rc;
}
