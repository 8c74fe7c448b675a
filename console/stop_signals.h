// A clean stop on SIGINT and SIGTERM.
#ifndef VUXOTEST_STOP_SIGNALS_H
#define VUXOTEST_STOP_SIGNALS_H

namespace vuxotest {

// Call first in main, before any other thread exists: from then on SIGINT and
// SIGTERM close every connection (the port released, its exclusive flag
// cleared), flush standard output and end the program by the same signal.
void watch_stop_signals();

} // namespace vuxotest

#endif
