#include <windows.h>

#include "stop_request.h"

namespace vuxo::sim {
namespace {

HANDLE g_stop = nullptr;

// Runs on a thread the system starts for the event. TRUE keeps the default handler,
// which would end the process before the simulator closes its links, from running.
BOOL WINAPI on_console_event(DWORD kind) {
    if (kind != CTRL_C_EVENT && kind != CTRL_BREAK_EVENT && kind != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    SetEvent(g_stop);
    if (kind == CTRL_CLOSE_EVENT) {
        // The system ends the process once this returns: the stop finishes first, and
        // main's return ends the process, this thread with it.
        Sleep(INFINITE);
    }
    return TRUE;
}

} // namespace

void hold_stop_requests() {
    g_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

void wait_for_stop_request() {
    WaitForSingleObject(g_stop, INFINITE);
}

} // namespace vuxo::sim
