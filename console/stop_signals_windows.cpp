#include <windows.h>

#include <cstdio>

#include "stop_signals.h"
#include "vuxoint.h"

namespace vuxotest {

namespace {

// Runs on a thread the system starts for the event, so it may call the
// library like any other thread.
BOOL WINAPI on_console_event(DWORD kind) {
    if (kind != CTRL_C_EVENT && kind != CTRL_BREAK_EVENT && kind != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    // Holding the stream keeps the main thread from printing the failures its
    // commands meet once the connection is gone: the output ends where it was.
    _lock_file(stdout);
    vuxo_library_shut();
    std::fflush(stdout);
    // The status the default handler would give for Ctrl-C.
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

} // namespace

void watch_stop_signals() {
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

} // namespace vuxotest
