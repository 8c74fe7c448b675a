// One table of operations per kind of link; a connection holds a pointer to
// the table of its kind and never asks which kind it is.
#ifndef VUXO_COMM_TRANSPORT_H
#define VUXO_COMM_TRANSPORT_H

#include <cstddef>
#include <string>

#include "conn_string.h"
#include "os.h"

namespace comm {

struct Transport {
    const char* name;
    // Opens the link for reads that never block, or returns -COMM_E*. stop
    // is woken when the connection is asked to stop, so a slow open (a TCP
    // connect) can give up early (-COMM_ECANCELED).
    os::Link (*open)(const ConnTarget& target, const os::Waker& stop);
    // Bytes read (> 0), -COMM_EAGAIN when there are none yet, or -COMM_E*. A
    // link that reads as "ready, nothing there" answers with its own hang-up
    // error instead of 0.
    std::ptrdiff_t (*read)(os::Link link, unsigned char* buf, std::size_t n);
    // Bytes written (>= 0), -COMM_EAGAIN when the link is full, or -COMM_E*.
    std::ptrdiff_t (*write)(os::Link link, const unsigned char* buf, std::size_t n);
    void (*close)(os::Link link);
};

extern const Transport kSerialTransport; // serial ports and USB instruments
extern const Transport kTcpTransport;
extern const Transport kBluetoothTransport; // open is null where the build has none

// Ends a Bluetooth discovery that is still running.
void bluetooth_shut();

// The table for a kind of link, or null when this build cannot carry it.
const Transport* transport_for(LinkKind kind);

// The port a serial or USB target opens: a serial target's own path, a USB
// target's own path, or the first attached instrument with its product id
// (and USB serial number, when the target names one). 0 or -COMM_ENODEV.
int port_path(const ConnTarget& target, std::string* path);

} // namespace comm

#endif
