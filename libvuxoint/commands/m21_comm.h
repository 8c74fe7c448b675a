/*
 * vuxoint second-generation (V2) commands: parameters, status, entry list,
 * files, memory usage, measurement, events, state, screen.
 *
 * Every function takes the connection id first and the wait flag last
 * (non-zero: wait for the answer; 0: only write the request) and returns the
 * command transaction's result unchanged: 0 success, 1 the instrument reported
 * a failure, 255 no answer in time, or the transport's write error. Answers
 * larger than the destination are not copied (the result is still 0); outputs
 * of post-processed answers are touched only on result 0. Argument checks named
 * below answer -1 and send nothing. A file name is sent in a 32-byte field like
 * strncpy (cut at 32, no terminator at 32 or more); a NULL name is sent as an
 * empty name.
 */
#ifndef VUXO_M21_COMM_H
#define VUXO_M21_COMM_H

#include <stddef.h>
#include <stdint.h>

#include "mxx_comm.h"
#include "vuxo_export.h"

VUXO_BEGIN_DECLS

/* Parameter block into params (up to 4319 bytes). */
VUXO_API int M21_Get_Params(int conn_id, void* params, int wait);
/* Writes the parameter block from params (319 bytes). */
VUXO_API int M21_Set_Params(int conn_id, const void* params, int wait);
/* Status into status (up to 20 bytes). */
VUXO_API int M21_Get_Status(int conn_id, void* status, int wait);
/* A page of the entry list from entry index first into list (up to 160 bytes:
 * 32 entries of 5 bytes). */
VUXO_API int M21_Get_Meas_Log_Entry_List(int conn_id, int32_t first, void* list, int wait);
/* Clears the logs; value passed through. Waits up to 300 s per attempt. */
VUXO_API int M21_Clear_Logs(int conn_id, int32_t value, int wait);
/* File information for name: the answer's first int32 into *value (may be
 * NULL). */
VUXO_API int M21_File_Info(int conn_id, const char* name, int* value, int wait);
/* Writes length bytes of data into file name at position. -1, nothing sent:
 * length below 0 or above 4056. data NULL with length above 0 sends zeros. */
VUXO_API int M21_Write_File(int conn_id, const char* name, int32_t position, const void* data,
                            int32_t length, int wait);
/* Reads up to length bytes of file name from offset into dest (length bytes);
 * *count (may be NULL) receives the bytes copied, never more than length nor
 * than arrived, or the instrument's count when it is 0 or negative. */
VUXO_API int M21_Read_File(int conn_id, const char* name, void* dest, int32_t offset,
                           int32_t length, int* count, int wait);
/* Takes a measurement; the 4-byte answer into answer. */
VUXO_API int M21_Measure(int conn_id, void* answer, int wait);
/* Memory usage: *value and the text (copied like strncpy into text of
 * text_size bytes: NUL-padded, unterminated when as long as text_size or
 * longer). value and text are required: -1 and nothing sent when NULL. */
VUXO_API int M21_Memory_Usage(int conn_id, int* value, char* text, size_t text_size, int wait);
/* Sends an event code. */
VUXO_API int M21_Send_Event(int conn_id, int32_t code, int wait);
/* Sets the instrument's state. */
VUXO_API int M21_Set_State(int conn_id, int32_t state, int wait);
/* The instrument's state into state (4 bytes). */
VUXO_API int M21_Get_State(int conn_id, void* state, int wait);
/* Screen contents into screen (up to 1060 bytes). */
VUXO_API int M21_Get_Screen(int conn_id, void* screen, int wait);

/* Probe (MXX_probe_fn): writes the serial-number request without waiting;
 * probe_count, data and value are ignored. */
VUXO_API int M21_probe(int conn_id, int probe_count, unsigned char* data, int value);
/* Test probe (MXX_test_probe_fn): writes type code 10 to device_type and sets
 * the connection's attempts per command to 3 (also when rejecting), then
 * accepts (1) only a serial-number answer (id 9007) whose first payload byte is
 * 'A'; otherwise 0. probe_count is ignored. */
VUXO_API int M21_test_probe(int conn_id, const unsigned char* frame, int* device_type,
                            int probe_count);

VUXO_END_DECLS

#endif
