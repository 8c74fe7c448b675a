// USB instruments among the serial ports the kernel exposes in sysfs:
// /sys/class/tty/<name>/device leads up to the USB device directory that
// holds idVendor, idProduct and serial. Ttys without a device link are
// virtual (consoles, ptys) and are skipped.
//
// The environment variable VUXO_SYSFS_ROOT, when set, replaces "/sys" so that
// tests can list a fake tree; nothing else reads it.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "comm.h"
#include "connection_table.h"
#include "guarded.h"
#include "transport.h"

namespace comm {
namespace {

constexpr int kEntrySize = 128;

struct UsbTty {
    std::string name; // ttyUSB0, ttyACM1, ...
    int vid = 0;
    int pid = 0;
    std::string serial;
};

std::string sysfs_root() {
    const char* root = std::getenv("VUXO_SYSFS_ROOT");
    return root != nullptr && root[0] != '\0' ? root : "/sys";
}

std::string real_path(const std::string& path) {
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) != nullptr ? std::string(buf) : std::string();
}

std::string first_line(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) {
        line.pop_back();
    }
    return line;
}

bool read_hex(const std::string& path, int* value) {
    const std::string text = first_line(path);
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 16);
    if (*end != '\0' || v < 0 || v > 0xFFFF) {
        return false;
    }
    *value = static_cast<int>(v);
    return true;
}

// From the tty's device directory up to the USB device that owns it.
bool find_usb_device(std::string dir, const std::string& top, UsbTty* tty) {
    while (dir.size() > top.size() && dir.compare(0, top.size(), top) == 0) {
        if (read_hex(dir + "/idVendor", &tty->vid) && read_hex(dir + "/idProduct", &tty->pid)) {
            tty->serial = first_line(dir + "/serial");
            return true;
        }
        dir.erase(dir.rfind('/'));
    }
    return false;
}

// Natural order, so ttyUSB2 comes before ttyUSB10.
bool tty_before(const UsbTty& a, const UsbTty& b) {
    if (a.name.size() != b.name.size()) {
        return a.name.size() < b.name.size();
    }
    return a.name < b.name;
}

std::vector<UsbTty> scan_usb_ttys() {
    const std::string root = sysfs_root();
    const std::string top = real_path(root);
    std::vector<UsbTty> found;
    const std::string class_dir = root + "/class/tty";
    DIR* dir = opendir(class_dir.c_str());
    if (dir == nullptr || top.empty()) {
        if (dir != nullptr) {
            closedir(dir);
        }
        return found;
    }
    while (const dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') {
            continue;
        }
        UsbTty tty;
        tty.name = e->d_name;
        const std::string device = real_path(class_dir + "/" + tty.name + "/device");
        if (!device.empty() && find_usb_device(device, top, &tty)) {
            found.push_back(std::move(tty));
        }
    }
    closedir(dir);
    std::sort(found.begin(), found.end(), tty_before);
    return found;
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
    for (const UsbTty& tty : scan_usb_ttys()) {
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
        const std::string text = std::string(prefix) + ":/dev/" + tty.name + "/" + hex(tty.pid);
        if (store_conn_string(entries + kEntrySize * written, text) == 0) {
            ++written;
        }
    }
    *count = written;
    return 0;
}

// The attached port a USB target names: by its tty path, or by product id and
// USB serial number (empty: the first with that product id).
bool find_usb_tty(const ConnTarget& target, UsbTty* out) {
    const bool by_path = !target.where.empty() && target.where.front() == '/';
    for (UsbTty& tty : scan_usb_ttys()) {
        const bool match = by_path ? target.where == "/dev/" + tty.name
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
        return -EINVAL;
    }
    UsbTty tty;
    if (!find_usb_tty(target, &tty)) {
        return -ENODEV;
    }
    if (store_conn_string(port, "/dev/" + tty.name) != 0 ||
        store_conn_string(usb_serial, tty.serial) != 0) {
        return -ENAMETOOLONG;
    }
    *product_id = tty.pid;
    return 0;
}

} // namespace

int usb_resolve_path(const ConnTarget& target, std::string* path) {
    if (!target.where.empty() && target.where.front() == '/') {
        *path = target.where;
        return 0;
    }
    UsbTty tty;
    if (!find_usb_tty(target, &tty)) {
        return -ENODEV;
    }
    *path = "/dev/" + tty.name;
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
        return -EINVAL;
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
        return -EINVAL;
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
