#include "interrupts.h"

#include <atomic>
#include <csignal>

namespace vuxocli {

namespace {

std::atomic<int> g_signal{0};

void on_signal(int signo) {
    g_signal.store(signo);
}

} // namespace

void catch_interrupts() {
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    // The handler is gone after the first signal, so a second one ends the
    // program at once.
    sa.sa_flags = SA_RESETHAND;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

void release_interrupts() {
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
}

int interrupted() {
    return g_signal.load();
}

} // namespace vuxocli
