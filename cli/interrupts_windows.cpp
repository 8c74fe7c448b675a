#include <windows.h>

#include <atomic>
#include <csignal>

#include "interrupts.h"

namespace vuxocli {

namespace {

std::atomic<int> g_signal{0};

// Runs on a thread the system starts for the event. Ctrl-C reads as SIGINT, a
// closed console window or Ctrl-Break as SIGTERM. Only the first is taken: a
// second one goes on to the default handler, which ends the program at once.
BOOL WINAPI on_console_event(DWORD kind) {
    if (kind != CTRL_C_EVENT && kind != CTRL_BREAK_EVENT && kind != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    int none = 0;
    return g_signal.compare_exchange_strong(none, kind == CTRL_C_EVENT ? SIGINT : SIGTERM) ? TRUE
                                                                                           : FALSE;
}

} // namespace

void catch_interrupts() {
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

void release_interrupts() {
    SetConsoleCtrlHandler(on_console_event, FALSE);
}

int interrupted() {
    return g_signal.load();
}

} // namespace vuxocli
