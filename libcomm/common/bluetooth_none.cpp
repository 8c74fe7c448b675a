// Bluetooth where the build has none: every Bluetooth call answers
// -COMM_EAFNOSUPPORT, and comm_connect refuses a Bluetooth connection string.
#include "bluetooth.h"
#include "transport.h"

namespace comm {

const Transport kBluetoothTransport = {"bluetooth", nullptr, nullptr, nullptr, nullptr};

int bt_adapter_status() {
    return -COMM_EAFNOSUPPORT;
}

void bt_inquire(comm_bt_found_fn found, void* user, const std::atomic<bool>& cancel) {
    (void)found;
    (void)user;
    (void)cancel;
}

} // namespace comm
