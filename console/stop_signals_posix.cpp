#include "stop_signals.h"

#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <unistd.h>

#include "vuxoint.h"

namespace vuxotest {

namespace {

sigset_t stop_set() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

// Closing a connection is no work for a signal handler: a thread of its own
// waits for the signal and may call the library like any other thread.
void* wait_for_stop(void*) {
    const sigset_t set = stop_set();
    int sig = 0;
    if (sigwait(&set, &sig) != 0) {
        return nullptr;
    }
    // Holding the stream keeps the main thread from printing the failures its
    // commands meet once the connection is gone: the output ends where it was.
    flockfile(stdout);
    vuxo_library_shut();
    std::fflush(stdout);
    std::signal(sig, SIG_DFL);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
    _exit(128 + sig); // not reached: the default action ends the process
}

} // namespace

void watch_stop_signals() {
    // Blocked in every thread, the transport's too (they inherit the mask), so
    // only the waiting thread ever takes them.
    const sigset_t set = stop_set();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    pthread_t thread;
    if (pthread_create(&thread, nullptr, wait_for_stop, nullptr) == 0) {
        pthread_detach(thread);
    } else {
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    }
}

} // namespace vuxotest
