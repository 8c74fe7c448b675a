// One table of operations per kind of link; a connection holds a pointer to
// the table of its kind and never asks which kind it is.
#ifndef VUXO_COMM_TRANSPORT_H
#define VUXO_COMM_TRANSPORT_H

#include <sys/types.h>

#include "conn_string.h"

namespace comm {

struct Transport {
    const char* name;
    // Opens the link and returns a non-blocking, close-on-exec descriptor, or
    // -errno. wake_fd becomes readable when the connection is asked to stop,
    // so a slow open (a TCP connect) can give up early.
    int (*open)(const ConnTarget& target, int wake_fd);
    // Bytes read (> 0), or -errno. A link that reads as "readable, nothing
    // there" answers with its own hang-up error instead of 0.
    ssize_t (*read)(int fd, unsigned char* buf, size_t n);
    // Bytes written (>= 0), or -errno (-EAGAIN when the link is full).
    ssize_t (*write)(int fd, const unsigned char* buf, size_t n);
    void (*close)(int fd);
};

extern const Transport kSerialTransport; // serial ports and USB instruments
extern const Transport kTcpTransport;
extern const Transport kBluetoothTransport;

// Stream-socket operations shared by TCP and Bluetooth: MSG_NOSIGNAL, and a
// peer's orderly close reads as -ECONNRESET.
ssize_t socket_read(int fd, unsigned char* buf, size_t n);
ssize_t socket_write(int fd, const unsigned char* buf, size_t n);
void socket_close(int fd);
// Waits for a non-blocking connect to finish: 0, or -errno; -ECANCELED when
// wake_fd becomes readable. A time-out of 0 leaves the limit to the OS.
int socket_finish_connect(int fd, int wake_fd, int timeout_ms);

// Ends a Bluetooth discovery that is still running (bluetooth.cpp).
void bluetooth_shut();

// The table for a kind of link, or null when this build cannot carry it.
const Transport* transport_for(LinkKind kind);

// Resolves a USB target to the tty path to open: its own path, or the first
// attached instrument with its product id (and USB serial number, when the
// target names one). 0 or -ENODEV.
int usb_resolve_path(const ConnTarget& target, std::string* path);

} // namespace comm

#endif
