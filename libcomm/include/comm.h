/*
 * libcomm: the transport under libvuxoint.
 *
 * It owns ports, threads, timing and the table of live connections, and knows
 * nothing of frames. Every function returns 0 on success; failures are negative
 * (a negated COMM_E* error number below), so they never read as the protocol's
 * result codes 1 and 255. Time-outs are in milliseconds, measured on the
 * monotonic clock; a time-out of 0 or less means "do not wait".
 *
 * Threads: every function may be called from any thread, including from inside
 * an event procedure (which runs on the thread of its connection), except
 * where noted: comm_shut, and waiting on a connection from inside that same
 * connection's event procedure, answer -COMM_EDEADLK. Each connection has a thread
 * of its own (with an 8 MiB stack); the port is opened on it, so comm_connect
 * returns at once. The events of one connection reach its event procedure one
 * at a time, in order:
 *   COMM_EV_CONNECTED once the port is open (not for a failed open);
 *   COMM_EV_DATA with the bytes read, at most rx_size of them;
 *   COMM_EV_TIMEOUT after each tick of silence;
 *   COMM_EV_CONN_ERROR with the link's error (COMM_E*) when the open fails or
 *     the link breaks (an unplugged adapter, a peer's hang-up: COMM_ECONNRESET
 *     for TCP);
 *   COMM_EV_DISCONNECTED exactly once and last, with the same error, or 0 when
 *     the connection was closed on request.
 * An event procedure that returns a negative value closes its connection.
 *
 * Leading: a caller waiting in comm_wait_response reads the link itself while
 * it waits, and hands the bytes to the event procedure on its own thread as
 * COMM_EV_LEAD_DATA. There the procedure may only assemble frames and capture
 * answers (comm_fill_rsp_buff); it returns how many of the bytes it took
 * (anything outside 0..value counts as 0). The bytes it did not take, and
 * every byte after them, reach it on the connection's thread as COMM_EV_DATA,
 * before anything read later, and the caller waits as before. A procedure that
 * does not know the kind returns 0 and sees every byte as COMM_EV_DATA. So it
 * is guaranteed, not incidental, that every other event, and so every
 * callback of the layers above, runs on the connection's thread, one at a
 * time, in the order its bytes arrived; and COMM_EV_LEAD_DATA never runs at
 * the same time as another event of its connection.
 *
 * Connection ids are positive and never reused within a process. comm_init and
 * comm_shut may be called again and again in one process. Every descriptor is
 * close-on-exec, and no write raises SIGPIPE.
 *
 * Walk safety: comm_get_data never yields a connection whose
 * COMM_EV_DISCONNECTED has begun, and COMM_EV_DISCONNECTED (where the context
 * is freed) waits until no walk that yielded the connection can still be using
 * the context it got. A thread's walk ends when comm_get_data returns 0, when
 * the thread starts another walk or makes any other comm_* call, when its
 * event procedure returns, or when it exits. The close waits for that without
 * a time bound, so a thread that abandons a walk must end it (start another
 * with comm_data_cntr_init) before it blocks or idles, or the close waits too.
 */
#ifndef VUXO_COMM_H
#define VUXO_COMM_H

#include <stdint.h>

#include "vuxo_export.h"

VUXO_BEGIN_DECLS

/* Error numbers: the library's own, the same on every platform. Functions
 * return them negated; COMM_EV_CONN_ERROR and COMM_EV_DISCONNECTED carry them
 * as they are. Each equals the Linux errno of that name, so programs built
 * against earlier releases read them unchanged; the transport maps the OS's
 * own errors to these, and any other to COMM_EIO. */
enum {
    COMM_EPERM = 1,
    COMM_ENOENT = 2,
    COMM_EINTR = 4,
    COMM_EIO = 5,
    COMM_ENXIO = 6,
    COMM_EAGAIN = 11,
    COMM_ENOMEM = 12,
    COMM_EACCES = 13,
    COMM_EBUSY = 16,
    COMM_ENODEV = 19,
    COMM_EINVAL = 22,
    COMM_ENFILE = 23,
    COMM_EMFILE = 24,
    COMM_ENOTTY = 25,
    COMM_EPIPE = 32,
    COMM_EDEADLK = 35,
    COMM_ENAMETOOLONG = 36,
    COMM_ENOSYS = 38,
    COMM_ENOMSG = 42,
    COMM_EOVERFLOW = 75,
    COMM_EMSGSIZE = 90,
    COMM_EPROTONOSUPPORT = 93,
    COMM_EOPNOTSUPP = 95,
    COMM_EAFNOSUPPORT = 97,
    COMM_EADDRNOTAVAIL = 99,
    COMM_ENETDOWN = 100,
    COMM_ENETUNREACH = 101,
    COMM_ECONNABORTED = 103,
    COMM_ECONNRESET = 104,
    COMM_ENOTCONN = 107,
    COMM_ESHUTDOWN = 108,
    COMM_ETIMEDOUT = 110,
    COMM_ECONNREFUSED = 111,
    COMM_EHOSTDOWN = 112,
    COMM_EHOSTUNREACH = 113,
    COMM_ECANCELED = 125
};

/* Event kinds handed to the event procedure. */
enum {
    COMM_EV_CONNECTED = 1,    /* link up */
    COMM_EV_CONN_ERROR = 2,   /* value: the link's error (COMM_E*) */
    COMM_EV_DISCONNECTED = 3, /* last event; the context may be freed in it */
    COMM_EV_DATA = 5,         /* data: received bytes, value: their count */
    COMM_EV_TIMEOUT = 6,      /* one tick of silence passed */
    COMM_EV_LEAD_DATA = 7     /* bytes read by a waiting caller, on its thread (above) */
};

/* Connection states answered by comm_get_state (never an error). */
enum {
    COMM_STATE_NONE = 0,       /* no such connection */
    COMM_STATE_CONNECTING = 1, /* opening the port */
    COMM_STATE_OPEN = 2,       /* link up, instrument not yet signalled */
    COMM_STATE_IDENTIFIED = 3, /* comm_signal_connected was called after identification */
    COMM_STATE_CLOSING = 4     /* closing; COMM_EV_DISCONNECTED follows */
};

/* Result of an event procedure: 0 goes on; -1 asks the transport to close. */
typedef int (*comm_event_proc)(int conn_id, int kind, unsigned char* data, int value,
                               void* context);

/* Host idle-wait callback: stored and forwarded, never called by the transport itself. */
typedef int (*comm_idle_wait_fn)(int a, int b);

/* Bluetooth discovery: called once per device found (address "XX:XX:XX:XX:XX:XX"). */
typedef void (*comm_bt_found_fn)(const char* address, const char* name, void* user);

/* Starts the transport (again after comm_shut); the callback and the values
 * are only stored for the host. 0, also when already started. */
COMM_API int comm_init(comm_idle_wait_fn idle_wait, int a, int b);
/* USB instruments are found by listing; nothing needs registering. 0 while
 * started, -COMM_ESHUTDOWN otherwise. */
COMM_API int comm_usb_register(int a, int b);
COMM_API int comm_usb_deregister(void);
/* Closes every live connection (each gets its COMM_EV_DISCONNECTED), joins
 * every thread the transport started, and refuses new connections until the
 * next comm_init. Not from an event procedure (-COMM_EDEADLK). */
COMM_API int comm_shut(void);

/* Opens a connection. On 0, *conn_id is set and the connection can be walked
 * before this returns; events follow on the connection's thread. rx_size
 * bounds one COMM_EV_DATA (1..65536; 0 or less: 4096); tick_ms is the silence
 * that makes one COMM_EV_TIMEOUT (0 or less: no ticks). -COMM_EINVAL for a text
 * that is no connection string (formats in docs/transport.md), -COMM_EAFNOSUPPORT for
 * Bluetooth where the build has none, -COMM_ESHUTDOWN before comm_init. */
COMM_API int comm_connect(int* conn_id, const char* conn_string, comm_event_proc proc, int rx_size,
                          int tick_ms, void* context);
/* Asks the connection to close and returns at once; its COMM_EV_DISCONNECTED
 * follows on its thread. Also from its own event procedure, and again while
 * it closes (0). -COMM_ENOENT for an id that names no connection. */
COMM_API int comm_disconnect(int conn_id);
COMM_API int comm_get_state(int conn_id);

/* Wakes comm_wait_connected. Called from inside the connection's own event
 * procedure, it counts only once that procedure returned without giving up (a
 * negative result withdraws it, and the connection closes). The wait answers
 * 0 for a signalled connection; -COMM_ENOTCONN at once when the connection failed
 * to open or closes; -COMM_ENOENT for an unknown id; -COMM_ETIMEDOUT at the time-out. */
COMM_API int comm_signal_connected(int conn_id);
COMM_API int comm_wait_connected(int conn_id, int timeout_ms);

/* Writes all len bytes, waiting up to timeout_ms for room (0: only what the
 * port takes at once). flags are accepted and unused. -COMM_ETIMEDOUT when not all
 * went out in time, -COMM_ENOTCONN while the port is not open or once the
 * connection has closed, -COMM_ENOENT for an id that never named a connection,
 * else the OS error. The response calls below answer a closed connection's id
 * with -COMM_ENOTCONN and a never-issued one with -COMM_ENOENT in the same way. */
COMM_API int comm_write(int conn_id, const unsigned char* data, int len, int flags, int timeout_ms);

/* Response capture: one armed set of three buffers per connection; arming
 * again replaces the set, comm_unhook_response disarms it. The buffers are
 * written on the connection's thread until disarmed. */
COMM_API int comm_hook_response(int conn_id, int id1, unsigned char* buf1, int cap1, int id2,
                                unsigned char* buf2, int cap2, int id3, unsigned char* buf3,
                                int cap3);
COMM_API int comm_unhook_response(int conn_id);
/* Copies a whole frame into the first buffer armed for its id (low 16 bits)
 * and wakes the waiter: 0. A frame longer than that buffer is not captured
 * (-COMM_EMSGSIZE); no armed buffer for the id: -COMM_ENOMSG. A buffer whose frame the
 * last wait reported takes no new frame (-COMM_EBUSY) until the waiting caller's
 * thread comes back for this connection (writes, waits, arms or disarms), so
 * the frame is not overwritten while that caller reads it. */
COMM_API int comm_fill_rsp_buff(int conn_id, int id, const unsigned char* frame, int len);
/* Returns as soon as an armed buffer has captured a frame since the last wait
 * (also one captured before this call began), when the connection closes, or
 * at the time-out. Each count is the length of the frame captured in that
 * buffer since the last wait, else 0. Result: 0 when something was captured,
 * -COMM_ETIMEDOUT, -COMM_ENOTCONN, or -COMM_EINVAL when nothing is armed. */
COMM_API int comm_wait_response(int conn_id, int* count1, int* count2, int* count3, int timeout_ms);

/* Walk over the live connections in the order they were opened: init the
 * cursor, then comm_get_data until it returns 0; each step yields an id and the
 * context given to comm_connect. Connections may come and go during a walk. A
 * walk may be abandoned at any step (walk safety, above). */
COMM_API int comm_data_cntr_init(uint32_t* cursor);
COMM_API int comm_get_data(uint32_t* cursor, int* conn_id, void** context);

/* USB listing: the USB-serial ports whose vendor and product ids lie in the
 * given ranges, in natural order of their tty names, up to capacity entries of
 * 128 bytes, each a connection string ending in "/" and the product id in hex
 * ("USBS:/dev/ttyUSB0/c44"; "USBU" for product 0xC45). filter1, when not empty,
 * keeps devices whose USB serial number begins with it; filter2 keeps ttys
 * whose name begins with it. *count (entries written) is always set. */
COMM_API int comm_list_devices_usb(int flags, char* entries, int capacity, int* count,
                                   const char* filter1, const char* filter2, int vid_first,
                                   int vid_last, int pid_first, int pid_last);
/* What a USB connection string (a listing entry, say) names: the tty path it
 * opens (port, 128 bytes), the device's USB serial number (usb_serial, 128
 * bytes; "" when the device has none) and the product id. 0; -COMM_EINVAL for a
 * text that is no USB connection string or a null pointer; -COMM_ENODEV when no
 * attached port matches. On failure port and usb_serial hold "". */
COMM_API int comm_usb_describe(const char* conn_string, char* port, char* usb_serial,
                               int* product_id);

/* Connection strings: zero-terminated, at most 127 characters; out holds 128.
 * A refused string leaves "" in out: -COMM_EINVAL for values the link cannot carry,
 * -COMM_ENAMETOOLONG past 127 characters. Formats are in docs/transport.md.
 * comm_make_conn_string_usb takes a device text that begins with "USBF", "USBS"
 * or "USBU" (then, optionally, ":" and a tty path, a USB serial number, or a
 * whole listing entry), vendor 0x1781 and the product id. */
/* 0 when text is a connection string the transport can open (every field in
 * its format and range), -COMM_EINVAL otherwise; opens nothing. */
COMM_API int comm_check_conn_string(const char* text);
COMM_API int comm_make_conn_string_usb(char* out, const char* device, int flags, int vid, int pid);
COMM_API int comm_make_conn_string_serial(char* out, uint16_t port, int baud, int data_bits,
                                          int stop_bits, int parity, int flow);
COMM_API int comm_make_conn_string_serial_path(char* out, const char* path, int baud, int data_bits,
                                               int stop_bits, int parity, int flow);
COMM_API int comm_make_conn_string_bt(char* out, const char* device, const char* name,
                                      int class_of_device, int channel, const char* pin,
                                      int timeout_ms);
COMM_API int comm_make_conn_string_net(char* out, const char* address, uint16_t port,
                                       int timeout_ms);

/* Bluetooth: 0 when the system has a Bluetooth adapter; -COMM_EAFNOSUPPORT from
 * every call where the transport was built without Bluetooth. Discovery runs
 * on a thread of its own and reports every device it finds. */
COMM_API int comm_bt_is_available(void);
COMM_API int comm_bt_discover(comm_bt_found_fn found, int class_of_device, void* user);
COMM_API int comm_bt_discover_cancel(void);
COMM_API int comm_bt_discover_wait(int timeout_ms);

VUXO_END_DECLS

#endif
