#include <csignal>
#include <pthread.h>

#include "stop_request.h"

namespace vuxo::sim {
namespace {

sigset_t stop_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

} // namespace

void hold_stop_requests() {
    // Blocked in every thread started later, so only sigwait sees them.
    const sigset_t set = stop_signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void wait_for_stop_request() {
    const sigset_t set = stop_signals();
    int sig = 0;
    sigwait(&set, &sig);
}

} // namespace vuxo::sim
