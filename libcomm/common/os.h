// What the transport needs from the operating system: wake-ups, wait sets,
// threads and error numbers. Each OS has its own files behind this interface
// (posix/, windows/); the common code never asks which one it runs on.
//
// Every result is 0 or a negated COMM_E* number, never the OS's own.
#ifndef VUXO_COMM_OS_H
#define VUXO_COMM_OS_H

#include <cstddef>
#include <cstdint>

namespace comm::os {

// A link as the OS knows it: a descriptor on POSIX, a handle on Windows.
// Never negative while open, so a link or a negated error fit one value.
using Link = std::intptr_t;
constexpr Link kNoLink = -1;

// Makes a wait set that holds it return, from any thread. A wake stays
// pending until cleared, so one that comes before the wait is not lost.
class Waker {
  public:
    Waker() = default;
    Waker(const Waker&) = delete;
    Waker& operator=(const Waker&) = delete;
    ~Waker() { close(); }

    int open();
    void wake();
    void clear();
    void close();
    bool is_open() const { return handle_ != kNoLink; }
    std::intptr_t handle() const { return handle_; }

  private:
    std::intptr_t handle_ = kNoLink;
};

// What one wait saw.
struct Ready {
    unsigned wakers = 0; // bit (1 << tag) for each woken waker
    bool link = false;   // the link holds bytes, or has ended
    bool hung_up = false;
};

// Wakers and at most one link that one thread waits on.
class WaitSet {
  public:
    WaitSet() = default;
    WaitSet(const WaitSet&) = delete;
    WaitSet& operator=(const WaitSet&) = delete;
    ~WaitSet() { close(); }

    int open();
    void close();
    bool is_open() const { return handle_ != kNoLink; }
    // tag: 0..7, the waker's bit in Ready::wakers.
    int add(const Waker& waker, int tag);
    // An exclusive link wakes only the first of the sets holding it that has
    // a thread waiting (the set added first is tried first):
    // -COMM_EOPNOTSUPP where the OS has no such wait.
    int add_link(Link link, bool exclusive);
    int remove_link(Link link);
    // Up to timeout_ms (< 0: no limit). 0 also when a signal cut it short
    // with nothing ready.
    int wait(int timeout_ms, Ready* ready);

  private:
    std::intptr_t handle_ = kNoLink;
};

// Until the link takes more bytes, stop is woken or timeout_ms passes: 0 or
// an error of the wait itself.
int wait_writable(Link link, const Waker& stop, int timeout_ms);

// Connection threads: started with a stack of stack_bytes; a finishing
// thread names itself (this_thread) to be joined once.
using Thread = std::uintptr_t;
int start_thread(void* (*main)(void*), void* arg, std::size_t stack_bytes);
Thread this_thread();
void join_thread(Thread thread);

// The calling thread's walk claim (connection_table.cpp), a pointer that the
// common code's release_thread_claim receives if the thread exits with it set.
// Not a thread_local object with a destructor: in a Windows DLL such a
// destructor can run after its storage was freed.
void* thread_claim();
void set_thread_claim(void* claim);
// Defined by the common code.
void release_thread_claim(void* claim);

} // namespace comm::os

#endif
