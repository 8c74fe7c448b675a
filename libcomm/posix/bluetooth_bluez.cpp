// Bluetooth through the kernel's sockets (RFCOMM) and inquiry (HCI), built
// where the system's Bluetooth headers are installed.
//
// Pairing (and its PIN) is the system's business: the kernel connects only
// to a device that the system's Bluetooth service has paired.
#include <bluetooth/bluetooth.h>
#include <bluetooth/hci.h>
#include <bluetooth/hci_lib.h>
#include <bluetooth/rfcomm.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "bluetooth.h"
#include "os_error.h"
#include "socket_link.h"
#include "transport.h"

namespace comm {
namespace {

// The kernel keeps an address last byte first.
bdaddr_t to_bdaddr(const std::string& text) {
    unsigned char bytes[6];
    bt_address_bytes(text.c_str(), bytes);
    bdaddr_t addr{};
    for (int i = 0; i < 6; ++i) {
        addr.b[5 - i] = bytes[i];
    }
    return addr;
}

os::Link bt_open(const ConnTarget& target, const os::Waker& stop) {
    const int fd = socket(AF_BLUETOOTH, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, BTPROTO_RFCOMM);
    if (fd < 0) {
        return os::last_error();
    }
    sockaddr_rc addr{};
    addr.rc_family = AF_BLUETOOTH;
    addr.rc_bdaddr = to_bdaddr(target.where);
    addr.rc_channel = static_cast<uint8_t>(target.channel);
    int result = 0;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        result = errno == EINPROGRESS ? socket_finish_connect(fd, stop, target.timeout_ms)
                                      : os::last_error();
    }
    if (result != 0) {
        ::close(fd);
        return result;
    }
    return fd;
}

constexpr int kInquiryUnits = 8; // 8 x 1.28 s
constexpr int kMaxFound = 32;

} // namespace

const Transport kBluetoothTransport = {"bluetooth", bt_open, socket_read, socket_write,
                                       socket_close};

int bt_adapter_status() {
    return hci_get_route(nullptr) >= 0 ? 0 : -COMM_ENODEV;
}

void bt_inquire(comm_bt_found_fn found, void* user, const std::atomic<bool>& cancel) {
    const int dev_id = hci_get_route(nullptr);
    const int sock = dev_id >= 0 ? hci_open_dev(dev_id) : -1;
    inquiry_info* info = nullptr;
    const int n =
        sock >= 0 ? hci_inquiry(dev_id, kInquiryUnits, kMaxFound, nullptr, &info, IREQ_CACHE_FLUSH)
                  : 0;
    for (int i = 0; i < n && !cancel; ++i) {
        char address[19] = {};
        ba2str(&info[i].bdaddr, address);
        char name[248] = {};
        if (hci_read_remote_name(sock, &info[i].bdaddr, sizeof name, name, 0) < 0) {
            name[0] = '\0';
        }
        found(address, name, user);
    }
    bt_free(info);
    if (sock >= 0) {
        ::close(sock);
    }
}

} // namespace comm
