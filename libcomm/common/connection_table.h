// The table of live connections, the walks over it and the threads it owns.
#ifndef VUXO_COMM_CONNECTION_TABLE_H
#define VUXO_COMM_CONNECTION_TABLE_H

#include "comm.h"
#include "connection.h"

namespace comm {

// Every comm_* entry point calls this first: it ends the calling thread's walk
// (its claim on the connection the walk last yielded).
void end_walk();

// The connection with this id, while it is in the table (closing ones too).
ConnPtr find_connection(int conn_id);
// The error for an id find_connection did not find: -COMM_ENOTCONN for one that
// named a connection once (it closed; ids are never reused), -COMM_ENOENT for one
// that never did.
int missing_connection(int conn_id);

// The connection whose event procedure this thread is running, or null.
Connection* current_event_connection();
void set_current_event_connection(Connection* c);

bool table_running();
int table_start(comm_idle_wait_fn idle_wait);
// Adds c with a fresh id (written to *conn_id before its thread starts) and
// starts its thread. 0 or -COMM_E*.
int table_add(const ConnPtr& c, int* conn_id);
// Hides c from walks, then waits, without a time bound, until no walk that
// yielded it can still be using its context.
void table_hide(Connection& c);
// Last act of a connection's thread: leaves the table; its thread is joined later.
void table_remove(Connection& c);
// Stops every connection and joins every thread. -COMM_EDEADLK from a transport thread.
int table_shut();
// Joins threads that finished since the last call.
void table_reap();

// The connection thread's body (conn_thread.cpp).
void* connection_main(void* arg);

} // namespace comm

#endif
