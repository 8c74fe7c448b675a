/*
 * vuxoint link layer: connections, the command transaction and transport setup.
 *
 * Results are 32-bit signed. The command transaction answers 0 (success),
 * 1 (the instrument reported a failure), 255 (no answer in time after every
 * attempt), -COMM_ENOTCONN when the connection closed while it waited (below), or
 * the transport's write error (negative) unchanged. Management
 * operations answer their own refusals with -1.
 *
 * Threads: every function here runs on the caller's thread; a waiting
 * transaction reads and assembles its own answer there. The callbacks given to
 * MXX_connect and the hooks of MXX_hook_async_event run only on the
 * transport's thread of their connection, one at a time, in the order their
 * frames arrived (a frame that would run one is handed to that thread with
 * every byte after it), and must never wait for an answer on that same
 * connection. One connection carries at most one waiting transaction at a time:
 * callers serialise the commands of a connection.
 *
 * Late answers. An answer that comes after its request's time-out is never
 * taken for a later request. The link counts, per connection and answer id,
 * the requests whose answer has not come: each write of a transaction that
 * ends without an answer for it, and each request sent without waiting. A
 * frame with an id that is owed pays one count and goes to no transaction;
 * while anything is owed, an error or resend message pays one count of any
 * id, since the instrument sends one of those instead of an answer. Before a
 * transaction writes, everything owed on its connection must have gone by, or
 * the connection must have stayed quiet (nothing owed arriving) for twice the
 * longest time-out among the owed requests, counted from the last debt made or
 * paid; then the rest is forgotten. Twice, because an instrument slower than
 * the time-out answers the requests queued at it one latency apart, and that
 * latency is above the time-out. So a command after one that got no answer
 * may first wait up to twice that time-out. Within one transaction, any
 * answer with its id is taken, also the late answer to an earlier attempt (the
 * same request, so the same answer); the answers to the remaining attempts
 * are then owed. An answer that comes even later, after the connection stayed quiet
 * for that long (an instrument more than twice as slow as the time-out), can
 * still be taken for a later request of the same id.
 *
 * Results when the connection closes while a transaction waits: the
 * transaction ends at once with -COMM_ENOTCONN (-107), whatever attempts are left.
 * Stack: at most about 12 KB for a request and an answer capacity of up to
 * 4,595 payload bytes each; up to about 140 KB beyond that.
 */
#ifndef VUXO_MXX_COMM_H
#define VUXO_MXX_COMM_H

#include <stdint.h>

#include "vuxo_export.h"

VUXO_BEGIN_DECLS

/* The per-connection link context; opaque, valid only during a callback. */
typedef struct MXX_link MXX_link;

/* The instrument's USB identity: vendor, and the products of "USBF"/"USBS"
 * (3140) and "USBU" (3141) links. */
#define MXX_USB_VENDOR 6017
#define MXX_USB_PRODUCT_F 3140
#define MXX_USB_PRODUCT_U 3141

/* Message ids that come instead of an answer. */
#define MXX_MSG_RESEND 12289
#define MXX_MSG_ERROR 12290

/* Sends an identification request; data and value are the event's. */
typedef int (*MXX_probe_fn)(int conn_id, int probe_count, unsigned char* data, int value);
/* Decides whether a complete frame identifies the instrument: non-zero accepts,
 * after writing the type code through device_type. */
typedef int (*MXX_test_probe_fn)(int conn_id, const unsigned char* frame, int* device_type,
                                 int probe_count);
typedef int (*MXX_connected_fn)(int conn_id, MXX_link* link, int device_type, void* user_data);
/* Connection error and disconnection; value is the transport's, unchanged. */
typedef int (*MXX_conn_event_fn)(int conn_id, MXX_link* link, void* user_data, int value);
/* Asynchronous event hook: frame is the whole frame, payload at offset 12. */
typedef int (*MXX_hook_fn)(int conn_id, MXX_link* link, const unsigned char* frame,
                           void* user_data);
typedef int (*MXX_idle_wait_fn)(int a, int b);
typedef void (*MXX_bt_found_fn)(const char* address, const char* name, void* user);

/* Opens a connection (conn_string not empty). 0: *conn_id is set and the
 * callbacks follow; -1: the string is empty, memory ran out or the transport
 * refused, and no callback runs. Any function may be null. */
VUXO_API int MXX_connect(const char* conn_string, int* conn_id, MXX_connected_fn on_connected,
                         MXX_conn_event_fn on_conn_error, MXX_conn_event_fn on_disconnected,
                         MXX_probe_fn probe, MXX_test_probe_fn test_probe, void* user_data);

/* Hooks frames with message id `id` (0xFFFF: every frame no other hook takes).
 * 0, also for an unknown connection; -1 when the table is full. */
VUXO_API int MXX_hook_async_event(int conn_id, uint16_t id, MXX_hook_fn hook);
/* Attempts per command transaction on this connection; always 0. */
VUXO_API int MXX_set_cmd_num_try(int conn_id, int num_try);
/* The user_data given to MXX_connect, or null for an unknown connection. The
 * lookup is over when this returns: a record that the disconnected callback
 * frees may be gone by the time the caller reads it, unless the caller keeps
 * it alive itself. */
VUXO_API void* MXX_get_user_data(int conn_id);

/* One exchange: sends `command` with request_len (0..65534) payload bytes and,
 * when wait is non-zero, waits up to timeout_ms per attempt for the answer
 * (id command + 1000). The answer's payload is copied to response only when it
 * fits response_cap; out_len then receives its length. out_word and out_status
 * receive the answer's time-out word and status byte. Results as above; -1 for
 * a request length outside 0..65534 or a missing request, with nothing sent. */
VUXO_API int MXX_send_cmd(int conn_id, int command, const void* request, int request_len,
                          void* response, int response_cap, int* out_len, int* out_word,
                          int* out_status, int timeout_ms, int wait);

/* Transport setup. */
VUXO_API int MXX_init(MXX_idle_wait_fn idle_wait, int a, int b);
VUXO_API int MXX_shut(void);
VUXO_API int MXX_idle_wait(int a, int b);
VUXO_API int MXX_wait_connected(int conn_id, int timeout_ms);
VUXO_API int MXX_disconnect(int conn_id);
VUXO_API int MXX_get_conn_state_id(int conn_id);
/* entries: capacity entries of 128 bytes each, filled with connection strings. */
VUXO_API int MXX_list_usb_devices(char* entries, int capacity, int* count);
/* out: 128 bytes. device begins with "USBF", "USBS" (product 3140) or "USBU" (3141). */
VUXO_API int MXX_make_usb_conn_string(char* out, const char* device, int flags);
VUXO_API int MXX_make_serial_conn_string(char* out, uint16_t port);
VUXO_API int MXX_make_serial_path_conn_string(char* out, const char* path);
VUXO_API int MXX_make_bt_conn_string(char* out, const char* device, const char* name);
VUXO_API int MXX_make_net_conn_string(char* out, const char* address, uint16_t port);
VUXO_API int MXX_bt_is_available(void);
VUXO_API int MXX_comm_bt_discover(MXX_bt_found_fn found, void* user);
VUXO_API int MXX_comm_bt_discover_cancel(void);
VUXO_API int MXX_comm_bt_discover_wait(int timeout_ms);

VUXO_END_DECLS

#endif
