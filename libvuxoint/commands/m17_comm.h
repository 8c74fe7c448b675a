/*
 * vuxoint common commands: what both instrument generations understand
 * (identity, clock, model revision, external flash, firmware, restart).
 *
 * Every command function takes the connection id first and the wait flag last
 * (non-zero: wait for the answer; 0: only write the request) and returns the
 * command transaction's result unchanged: 0 success, 1 the instrument reported
 * a failure, 255 no answer in time, or the transport's write error. Answers
 * larger than the destination are not copied (the result is still 0). Argument
 * checks named below answer -1 and send nothing.
 */
#ifndef VUXO_M17_COMM_H
#define VUXO_M17_COMM_H

#include <stddef.h>
#include <stdint.h>

#include "mxx_comm.h"
#include "vuxo_export.h"

VUXO_BEGIN_DECLS

/* Firmware version text into version (8 bytes, no NUL added; zeroed first;
 * may be NULL). */
VUXO_API int M17_get_fw_version(int conn_id, char* version, int wait);
/* The instrument's clock into record (24 bytes: six int32, date then time). */
VUXO_API int M17_get_time(int conn_id, void* record, int wait);
/* Sets the instrument's clock from record (24 bytes, sent unchanged). */
VUXO_API int M17_set_time(int conn_id, const void* record, int wait);
/* Serial number into serial (9 bytes, zeroed first, so NUL-terminated text of
 * at most 8 characters; may be NULL: the request is still sent). */
VUXO_API int M17_get_serial(int conn_id, char* serial, int wait);
/* Model revision (one int32, little-endian) into value (4 bytes). */
VUXO_API int M17_get_model_rev(int conn_id, void* value, int wait);
/* Asks the instrument to restart; only writes the request, never waits. */
VUXO_API int M17_restart(int conn_id);
/* Erases the external flash (waits up to 60 s per attempt); the instrument's
 * 4-byte answer into result. */
VUXO_API int M17_erase_ext_flash(int conn_id, void* result, int wait);
/* Reads 64 bytes of external flash at location into data (64 bytes). */
VUXO_API int M17_read_ext_flash(int conn_id, uint16_t location, void* data, int wait);
/* Writes length bytes of data to external flash at location. -1, nothing sent:
 * length above 65532, or data NULL with length above 0. Needs about 128 KiB of
 * the caller's stack (the request and its frame). */
VUXO_API int M17_write_ext_flash(int conn_id, uint16_t location, const void* data, uint32_t length,
                                 int wait);
/* Starts firmware flashing with two values passed through unchanged (waits up
 * to 30 s per attempt). */
VUXO_API int M17_flash_FW(int conn_id, int32_t first, int32_t second, int wait);
/* Sets the serial number from serial (8 bytes, sent unchanged). */
VUXO_API int M17_set_serial(int conn_id, const char* serial, int wait);
/* Sets the model revision. */
VUXO_API int M17_set_model_rev(int conn_id, int32_t value, int wait);

/* Probe (MXX_probe_fn): writes the serial-number request without waiting;
 * probe_count, data and value are ignored. */
VUXO_API int M17_probe(int conn_id, int probe_count, unsigned char* data, int value);
/* Test probe (MXX_test_probe_fn): frame is a whole received frame. Writes type
 * code 3 to device_type and accepts (1) any serial-number answer (id 9007)
 * that carries a serial number, whatever it is; otherwise 0. probe_count is
 * ignored. */
VUXO_API int M17_test_probe(int conn_id, const unsigned char* frame, int* device_type,
                            int probe_count);

VUXO_END_DECLS

#endif
