/*
 * vuxoint generation detection: the probe pair the public API hands to
 * MXX_connect. It tells a first-generation instrument (serial number beginning
 * with '5', type code 5) from a second-generation one ('A', type code 10).
 */
#ifndef VUXO_MDD_COMM_H
#define VUXO_MDD_COMM_H

#include "mxx_comm.h"
#include "vuxo_export.h"

VUXO_BEGIN_DECLS

/* Probe (MXX_probe_fn): writes the serial-number request without waiting and
 * returns the write's result; probe_count, data and value are ignored. */
VUXO_API int MDD_probe(int conn_id, int probe_count, unsigned char* data, int value);
/* Test probe (MXX_test_probe_fn): frame is a whole received frame, whatever its
 * id. First payload byte '5': type 5, 'A': type 10, and returns 1; any other
 * frame (also one without payload): type 0, returns 0. probe_count ignored. */
VUXO_API int MDD_test_probe(int conn_id, const unsigned char* frame, int* device_type,
                            int probe_count);

VUXO_END_DECLS

#endif
