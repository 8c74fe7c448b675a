/*
 * libcomm: the transport under libvuxoint.
 *
 * It owns ports, threads, timing and the table of live connections, and knows
 * nothing of frames. Every function returns 0 on success; failures are negative
 * (a negated errno where one applies), so they never read as the protocol's
 * result codes 1 and 255. Time-outs are in milliseconds.
 *
 * Threads: every function may be called from any thread, including from inside
 * an event procedure (which runs on the transport's thread of its connection).
 * The events of one connection reach its event procedure one at a time, in
 * order; COMM_EV_DISCONNECTED comes exactly once and last.
 */
#ifndef VUXO_COMM_H
#define VUXO_COMM_H

#include <stdint.h>

#include "vuxo_export.h"

#define COMM_API VUXO_API

VUXO_BEGIN_DECLS

/* Event kinds handed to the event procedure. */
enum {
    COMM_EV_CONNECTED = 1,    /* link up */
    COMM_EV_CONN_ERROR = 2,   /* value: the OS error (errno) */
    COMM_EV_DISCONNECTED = 3, /* last event; the context may be freed in it */
    COMM_EV_DATA = 5,         /* data: received bytes, value: their count */
    COMM_EV_TIMEOUT = 6       /* one tick of silence passed */
};

/* Connection states answered by comm_get_state. */
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

COMM_API int comm_init(comm_idle_wait_fn idle_wait, int a, int b);
COMM_API int comm_usb_register(int a, int b);
COMM_API int comm_usb_deregister(void);
COMM_API int comm_shut(void);

/* Opens a connection. On 0, *conn_id is set and the connection can be walked
 * before this returns; events follow on the transport's thread. rx_size bounds
 * one COMM_EV_DATA; tick_ms is the silence that makes one COMM_EV_TIMEOUT. */
COMM_API int comm_connect(int* conn_id, const char* conn_string, comm_event_proc proc, int rx_size,
                          int tick_ms, void* context);
COMM_API int comm_disconnect(int conn_id);
COMM_API int comm_get_state(int conn_id);

/* Wakes comm_wait_connected. The wait answers 0 only for a connection signalled
 * while identified, non-zero at once when the connection fails or closes. */
COMM_API int comm_signal_connected(int conn_id);
COMM_API int comm_wait_connected(int conn_id, int timeout_ms);

COMM_API int comm_write(int conn_id, const unsigned char* data, int len, int flags, int timeout_ms);

/* Response capture: one armed set of three buffers per connection. */
COMM_API int comm_hook_response(int conn_id, int id1, unsigned char* buf1, int cap1, int id2,
                                unsigned char* buf2, int cap2, int id3, unsigned char* buf3,
                                int cap3);
COMM_API int comm_unhook_response(int conn_id);
/* Copies a whole frame into the buffer armed for its id (never past its
 * capacity: a longer frame is not captured) and wakes the waiter. */
COMM_API int comm_fill_rsp_buff(int conn_id, int id, const unsigned char* frame, int len);
/* Returns when an armed buffer has captured a frame or at the time-out; each
 * count is the length of the frame captured in that buffer since the last
 * wait, else 0. */
COMM_API int comm_wait_response(int conn_id, int* count1, int* count2, int* count3, int timeout_ms);

/* Walk over the live connections: init the cursor, then comm_get_data until it
 * returns 0. A walk may be abandoned at any step. */
COMM_API int comm_data_cntr_init(uint32_t* cursor);
COMM_API int comm_get_data(uint32_t* cursor, int* conn_id, void** context);

/* USB listing: up to capacity entries of 128 bytes, each a connection string
 * ending in "/" and the product id in hex; *count is always set. */
COMM_API int comm_list_devices_usb(int flags, char* entries, int capacity, int* count,
                                   const char* filter1, const char* filter2, int vid_first,
                                   int vid_last, int pid_first, int pid_last);

/* Connection strings: zero-terminated, at most 127 characters; out holds 128. */
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

COMM_API int comm_bt_is_available(void);
COMM_API int comm_bt_discover(comm_bt_found_fn found, int class_of_device, void* user);
COMM_API int comm_bt_discover_cancel(void);
COMM_API int comm_bt_discover_wait(int timeout_ms);

VUXO_END_DECLS

#endif
