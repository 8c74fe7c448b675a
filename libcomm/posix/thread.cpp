// Connection threads are POSIX threads, for the stack size.
#include <pthread.h>

#include "os.h"
#include "os_error.h"

namespace comm::os {
namespace {

// Never deleted: a thread may end with a claim at any time.
pthread_key_t claim_key() {
    static const pthread_key_t key = [] {
        pthread_key_t k;
        pthread_key_create(&k, release_thread_claim);
        return k;
    }();
    return key;
}

} // namespace

int start_thread(void* (*main)(void*), void* arg, std::size_t stack_bytes) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, stack_bytes);
    pthread_t started;
    const int error = pthread_create(&started, &attr, main, arg);
    pthread_attr_destroy(&attr);
    return error != 0 ? -from_errno(error) : 0;
}

Thread this_thread() {
    return static_cast<Thread>(pthread_self());
}

void join_thread(Thread thread) {
    pthread_join(static_cast<pthread_t>(thread), nullptr);
}

void* thread_claim() {
    return pthread_getspecific(claim_key());
}

void set_thread_claim(void* claim) {
    pthread_setspecific(claim_key(), claim);
}

} // namespace comm::os
