// USB serial ports among the ttys the kernel exposes in sysfs:
// /sys/class/tty/<name>/device leads up to the USB device directory that
// holds idVendor, idProduct and serial. Ttys without a device link are
// virtual (consoles, ptys) and are skipped.
//
// The environment variable VUXO_SYSFS_ROOT, when set, replaces "/sys" so that
// tests can list a fake tree; nothing else reads it.
#include <dirent.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>

#include "usb_ports.h"

namespace comm {
namespace {

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
bool find_usb_device(std::string dir, const std::string& top, UsbPort* tty) {
    while (dir.size() > top.size() && dir.compare(0, top.size(), top) == 0) {
        if (read_hex(dir + "/idVendor", &tty->vid) && read_hex(dir + "/idProduct", &tty->pid)) {
            tty->serial = first_line(dir + "/serial");
            return true;
        }
        dir.erase(dir.rfind('/'));
    }
    return false;
}

} // namespace

std::vector<UsbPort> usb_ports() {
    const std::string root = sysfs_root();
    const std::string top = real_path(root);
    std::vector<UsbPort> found;
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
        UsbPort tty;
        tty.name = e->d_name;
        const std::string device = real_path(class_dir + "/" + tty.name + "/device");
        if (!device.empty() && find_usb_device(device, top, &tty)) {
            tty.path = "/dev/" + tty.name;
            found.push_back(std::move(tty));
        }
    }
    closedir(dir);
    return found;
}

bool is_port_path(const std::string& where) {
    return !where.empty() && where.front() == '/';
}

std::string numbered_serial_port(int n) {
    return "/dev/ttyS" + std::to_string(n);
}

} // namespace comm
