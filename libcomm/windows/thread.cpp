// Connection threads are Windows threads, for the stack size. The handle from
// the start is closed at once; a finished thread is joined through a handle
// it opens on itself.
#include <process.h>
#include <windows.h>

#include "comm.h"
#include "os.h"
#include "os_error.h"

namespace comm::os {
namespace {

VOID WINAPI on_thread_exit(PVOID claim) {
    if (claim != nullptr) {
        release_thread_claim(claim);
    }
}

// Fiber-local storage, because its callback runs on every thread's exit,
// threads the library did not start included. Never freed.
DWORD claim_index() {
    static const DWORD index = FlsAlloc(on_thread_exit);
    return index;
}

struct Start {
    void* (*main)(void*);
    void* arg;
};

unsigned __stdcall run(void* start) {
    const Start s = *static_cast<Start*>(start);
    delete static_cast<Start*>(start);
    s.main(s.arg);
    return 0;
}

} // namespace

int start_thread(void* (*main)(void*), void* arg, std::size_t stack_bytes) {
    auto* start = new Start{main, arg};
    const std::uintptr_t handle = _beginthreadex(nullptr, static_cast<unsigned>(stack_bytes), run,
                                                 start, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (handle == 0) {
        delete start;
        return -COMM_EAGAIN;
    }
    CloseHandle(reinterpret_cast<HANDLE>(handle));
    return 0;
}

Thread this_thread() {
    return reinterpret_cast<Thread>(OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId()));
}

void join_thread(Thread thread) {
    HANDLE handle = reinterpret_cast<HANDLE>(thread);
    if (handle != nullptr) {
        WaitForSingleObject(handle, INFINITE);
        CloseHandle(handle);
    }
}

void* thread_claim() {
    return FlsGetValue(claim_index());
}

void set_thread_claim(void* claim) {
    FlsSetValue(claim_index(), claim);
}

} // namespace comm::os
