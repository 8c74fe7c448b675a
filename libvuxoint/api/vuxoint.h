/*
 * vuxoint: talk to a handheld magnetic susceptibility and conductivity meter
 * (first generation "V1", second generation "V2") over USB, a serial line,
 * Bluetooth or TCP.
 *
 * Usage: vuxo_library_init(); build or list a connection string; vuxo_connect();
 * ask vuxo_get_type() which generation answered and use the vuxov1_* or vuxov2_*
 * functions accordingly; vuxo_disconnect(); vuxo_library_shut().
 *
 * Results: 0 is success. Functions documented as "0 or 255" fold every failure
 * into 255. The others return the command result codes unchanged:
 *   VUXO_OK          0    success
 *   VUXO_EINSTRUMENT 1    the instrument reported a failure (non-zero status
 *                         or an error message)
 *   VUXO_ETIMEOUT    255  no answer within the command's time-out after every
 *                         attempt
 *   VUXO_EREFUSED    -1   an argument the library refuses without sending anything
 *   VUXO_ECLOSED     -107 (-COMM_ENOTCONN) the connection closed while the command
 *                         waited for its answer: the command ends at once,
 *                         whatever attempts were left
 *   other < 0             the transport's error, a negated COMM_E* number of
 *                         comm.h, the same on every platform (for example
 *                         -COMM_ECONNRESET for a closed connection)
 * vuxo_strerror() turns any of them into words.
 *
 * Threads: every function runs on the caller's thread; a command blocks for up
 * to its time-out times the connection's attempts, and after a command that
 * got no answer in time, the next one may first wait up to twice that
 * command's time-out for the late answer to go by (it is never taken for
 * another request). While a command waits, its own thread reads the
 * instrument's answer; anything else that arrives meanwhile (a new measurement
 * above all) is handed to the connection's thread. It is guaranteed that the
 * four callbacks given to vuxo_connect run only on the transport's thread of
 * that connection, never on a caller's, one at a time, in the order the
 * instrument sent what they report: they must return promptly and must never
 * call a waiting command (or vuxo_connect with a time-out) on their own
 * connection. Commands of one
 * connection must not run concurrently: serialise them; different connections
 * may be used from different threads at once. The library takes no lock.
 *
 * Stack: a command needs at most 32 KB of its caller's stack (64 KB threads
 * are enough for a whole session); M17_write_ext_flash with more than 4,096
 * data bytes and MXX_send_cmd with a request or an answer capacity above
 * 4,595 bytes need up to 200 KB.
 *
 * Buffers are always the caller's; sizes below are in bytes. The `wait` flag,
 * the last argument of the command functions: non-zero waits for the
 * instrument's answer; 0 only sends the request and returns the send's result.
 */
#ifndef VUXOINT_H
#define VUXOINT_H

#include <stdint.h>

#include "vuxo_export.h"

VUXO_BEGIN_DECLS

struct MXX_link; /* opaque link context, valid only during a callback */

/* Size of one USB listing entry and of every connection-string buffer. */
#define VUXO_CONN_STRING_SIZE 128

/* The result codes named; every other negative result is a negated COMM_E*
 * number (comm.h). */
enum {
    VUXO_OK = 0,          /* success */
    VUXO_EINSTRUMENT = 1, /* the instrument reported a failure */
    VUXO_ETIMEOUT = 255,  /* no answer in time; also every failure of the "0 or 255" functions */
    VUXO_EREFUSED = -1,   /* the library refused an argument; nothing was sent */
    VUXO_ECLOSED = -107   /* the connection closed while the command waited (-COMM_ENOTCONN) */
};

/* A result code in English words: a static text, never NULL, safe from any
 * thread. A negative transport result gives its error number's text (the words
 * Linux uses, on every platform). The callbacks' `os_error` values are
 * positive: pass them negated. */
VUXO_API const char* vuxo_strerror(int code);

/* Connected: the instrument was detected; vuxo_get_type() now answers. */
typedef int (*vuxo_connected_fn)(int conn_id, struct MXX_link* link, void* user_data);
/* Connection error: os_error is the transport's, a positive COMM_E* number
 * (vuxo_strerror(-os_error) says it in words). */
typedef int (*vuxo_conn_error_fn)(int conn_id, struct MXX_link* link, void* user_data,
                                  int os_error);
/* Disconnected: the last callback of a connection; afterwards its id names
 * nothing and vuxo_get_type() answers -1. os_error: 0 when closed on request,
 * else the COMM_E* number that ended the connection. */
typedef void (*vuxo_disconnected_fn)(int conn_id, struct MXX_link* link, void* user_data,
                                     int os_error);
/* Live data (message 9302): event code, event value and two floats. Codes 133
 * and 256 report a newly stored measurement whose log index is `event_value`. */
typedef void (*vuxo_live_data_fn)(int conn_id, struct MXX_link* link, int32_t event_code,
                                  int32_t event_value, float first_value, float second_value,
                                  void* user_data);

/* Starts the transport. 0 on success; -1 when the transport did not start. */
VUXO_API int vuxo_library_init(void);
/* Stops the transport, closing every connection. Always 0. */
VUXO_API int vuxo_library_shut(void);

/* Lists attached USB instruments: up to `capacity` entries of 128 bytes each,
 * entry i at entries + 128 * i, each a connection string; *count receives the
 * number found. Returns the transport's result. */
VUXO_API int vuxo_list_usb_devices(char* entries, int capacity, int* count);

/* What a USB listing entry (or any USB connection string) names: the tty path
 * it opens into port, the device's USB serial number into usb_serial ("" when
 * it has none), both 128 bytes, and its product id. 0; -COMM_EINVAL for a text
 * that is no USB connection string; -COMM_ENODEV when no attached port matches. */
VUXO_API int vuxo_usb_describe(const char* entry, char* port, char* usb_serial, int* product_id);

/* 0 when conn_string is one the transport can open (formats in docs/transport.md),
 * -COMM_EINVAL otherwise. Opens and sends nothing; needs no vuxo_library_init. */
VUXO_API int vuxo_check_conn_string(const char* conn_string);

/* Connection strings: `out` receives at most 127 characters and a zero, so it
 * must hold 128 bytes. Each returns the transport's result (0 = built). */
VUXO_API int vuxo_make_usb_conn_string(char* out, const char* device, int flags);
VUXO_API int vuxo_make_serial_conn_string(char* out, uint16_t port_number);
VUXO_API int vuxo_make_serial_path_conn_string(char* out, const char* path);
/* address: the instrument's "XX:XX:XX:XX:XX:XX"; name may be "". */
VUXO_API int vuxo_make_bt_conn_string(char* out, const char* address, const char* name);
/* An instrument behind a TCP bridge (or the simulator): address and port. */
VUXO_API int vuxo_make_net_conn_string(char* out, const char* address, uint16_t port);

/* Opens a connection and detects the instrument. timeout_ms 0 returns as soon
 * as the connection is accepted (the connected callback tells when the
 * instrument is detected); otherwise waits up to timeout_ms for detection.
 * Any callback may be NULL; `user_data` is handed back to each. 0: *conn_id holds
 * the new id. 255: failure, *conn_id is -1 (after a wait that ran out the
 * connection stays open and its callbacks may still come). */
VUXO_API int vuxo_connect(const char* conn_string, int* conn_id, int timeout_ms,
                          vuxo_connected_fn on_connected, vuxo_conn_error_fn on_conn_error,
                          vuxo_disconnected_fn on_disconnected, vuxo_live_data_fn on_live_data,
                          void* user_data);
/* Closes the connection; the disconnected callback follows. Transport's result. */
VUXO_API int vuxo_disconnect(int conn_id);
/* 0 for V1, 1 for V2, -1 when no live connection has this id or the
 * instrument has not been detected yet. */
VUXO_API int vuxo_get_type(int conn_id);

/* serial: at least 9 bytes; receives up to 8 characters and a zero. */
VUXO_API int vuxo_get_serial(int conn_id, char* serial);
/* version: 8 bytes, zero-filled first; not terminated when the version has
 * 8 characters. 0 or 255. */
VUXO_API int vuxo_get_fw_version(int conn_id, char* version);
/* record: six int32 (24 bytes): day, month, year, hours, minutes, seconds as
 * the instrument keeps them. Untouched on failure; an answer shorter than 24
 * bytes leaves zeros in the missing fields. 0 or 255. */
VUXO_API int vuxo_get_time(int conn_id, int32_t* record);
VUXO_API int vuxo_set_time(int conn_id, const int32_t* record);
/* Sends the restart command without waiting for an answer. */
VUXO_API int vuxo_restart(int conn_id);

/* First generation (V1). Sizes: parameter block up to 4096 (entry count,
 * uint32, at offset 88); parameters written 96; status 20; entry-list page 640
 * (128 entries of 5 bytes: uint32 key, flags); log entry 828; note information
 * 4; state 4. Chunk reads (note, file) store at most `length` bytes (file) or
 * 3996 bytes (note) in dest and the count in *count (may be NULL). File names
 * are sent in a 32-byte field. write_file takes 0 to 4056 data bytes (-1
 * otherwise, nothing sent). */
VUXO_API int vuxov1_get_params(int conn_id, void* params, int wait);
VUXO_API int vuxov1_set_params(int conn_id, const void* params, int wait);
VUXO_API int vuxov1_get_status(int conn_id, void* status, int wait);
VUXO_API int vuxov1_get_meas_log_entry_list(int conn_id, int32_t first_entry, void* list, int wait);
VUXO_API int vuxov1_get_meas_log_entry(int conn_id, int32_t entry_index, int32_t second,
                                       void* entry, int wait);
VUXO_API int vuxov1_get_note_info(int conn_id, int32_t value, void* info, int wait);
VUXO_API int vuxov1_get_note(int conn_id, int32_t first, void* dest, int32_t second, int32_t third,
                             int* count, int wait);
VUXO_API int vuxov1_delete_entry(int conn_id, int32_t first, int32_t second, int wait);
VUXO_API int vuxov1_write_file(int conn_id, const char* file_name, int32_t position,
                               const void* data, int32_t length, int wait);
VUXO_API int vuxov1_read_file(int conn_id, const char* file_name, void* dest, int32_t offset,
                              int32_t length, int* count, int wait);
VUXO_API int vuxov1_clear_logs(int conn_id, int32_t value, int wait);
VUXO_API int vuxov1_send_event(int conn_id, int32_t event_code, int wait);
VUXO_API int vuxov1_set_state(int conn_id, int32_t state, int wait);
VUXO_API int vuxov1_get_state(int conn_id, void* state, int wait);

/* Second generation (V2). Sizes: parameter block up to 4319 (entry count,
 * uint32, at offset 94); parameters written 319; status 20; entry-list page
 * 160 (32 entries of 5 bytes); screen 1060; state 4. Measurements are files
 * "meas/meas%.4d.dat" and "meas/last.dat" of 4063 bytes, read in chunks.
 * clear_logs waits up to 300 s per attempt; every other command 800 ms. */
VUXO_API int vuxov2_get_params(int conn_id, void* params, int wait);
VUXO_API int vuxov2_set_params(int conn_id, const void* params, int wait);
VUXO_API int vuxov2_get_status(int conn_id, void* status, int wait);
VUXO_API int vuxov2_get_meas_log_entry_list(int conn_id, int32_t first_entry, void* list, int wait);
VUXO_API int vuxov2_file_info(int conn_id, const char* file_name, int* value, int wait);
VUXO_API int vuxov2_write_file(int conn_id, const char* file_name, int32_t position,
                               const void* data, int32_t length, int wait);
VUXO_API int vuxov2_read_file(int conn_id, const char* file_name, void* dest, int32_t offset,
                              int32_t length, int* count, int wait);
VUXO_API int vuxov2_clear_logs(int conn_id, int32_t value, int wait);
VUXO_API int vuxov2_send_event(int conn_id, int32_t event_code, int wait);
VUXO_API int vuxov2_set_state(int conn_id, int32_t state, int wait);
VUXO_API int vuxov2_get_state(int conn_id, void* state, int wait);
VUXO_API int vuxov2_get_screen(int conn_id, void* screen, int wait);

VUXO_END_DECLS

#endif
