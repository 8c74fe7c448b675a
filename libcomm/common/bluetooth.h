// What each OS's Bluetooth backend gives the common discovery code
// (bluetooth_discovery.cpp).
#ifndef VUXO_COMM_BLUETOOTH_H
#define VUXO_COMM_BLUETOOTH_H

#include <atomic>

#include "comm.h"

namespace comm {

// 0 when the system has a Bluetooth adapter, else -COMM_E*.
int bt_adapter_status();

// One inquiry: reports every device found until it ends or cancel is set.
// Runs on discovery's own thread.
void bt_inquire(comm_bt_found_fn found, void* user, const std::atomic<bool>& cancel);

// "AA:BB:CC:DD:EE:FF" as six bytes, first byte first.
void bt_address_bytes(const char* text, unsigned char bytes[6]);

} // namespace comm

#endif
