// How the record layer talks to the instrument. Every read checks that its answer has
// the size the request calls for, and no answer meant for an earlier request is ever
// taken for a later one.
//
// The rule for late answers rests on one assumption: the instrument answers requests
// in the order it received them (it may drop one, never overtake one). After an
// exchange that went unanswered for a while (no answer, an answer of the wrong size, or
// an exchange that outlasted one time-out, so some attempt was repeated), the layer
// asks for the firmware version until that request is answered. Its answer id is one
// no record read uses, so whatever arrives before it finds no request waiting for it
// and is dropped; once it is in, every answer still owed has come and gone. When no
// version answer comes after a few tries, the instrument is taken as gone
// (VUXOD_E_GONE): its connection should be closed, since a late answer may still come.
#ifndef VUXOD_EXCHANGE_H
#define VUXOD_EXCHANGE_H

#include <cstdint>

namespace vuxod {

// A request of the log reads: its command number and its time-out. These are the
// command set's own numbers and time-outs; the record layer sends them itself because
// only the transaction reports how many bytes an answer brought.
struct Request {
    uint16_t command;
    int timeout_ms;
};

// One exchange. VUXOD_OK only when the answer's status is 0 and its payload, between
// min_len and cap bytes, was copied to answer (*len receives its length);
// VUXOD_E_ANSWER for an answer of any other size; VUXOD_E_GONE when the instrument
// stopped answering; otherwise the transaction's result.
int exchange(int conn_id, Request r, const void* request, int request_len, uint8_t* answer, int cap,
             int min_len, int* len);

// The resynchronisation on its own, for a caller that found an answer wrong by its
// content: VUXOD_OK, VUXOD_E_GONE or a negative transport result.
int resync(int conn_id);

// exchange, repeated up to three times while the instrument fails, stays silent or
// answers with the wrong size; for reads that every later step depends on.
int exchange_retried(int conn_id, Request r, const void* request, int request_len, uint8_t* answer,
                     int cap, int min_len, int* len);

// Results of one record that the next record may not share; anything else (a closed
// connection, a gone instrument) ends the read.
bool record_failure(int rc);

} // namespace vuxod

#endif
