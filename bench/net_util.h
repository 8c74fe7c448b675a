// Plain loopback sockets for the raw baselines: a trivial peer that answers
// each request of a fixed size with fixed answer bytes, and a client that
// times the same exchange without the library in between.
#ifndef VUXO_BENCH_NET_UTIL_H
#define VUXO_BENCH_NET_UTIL_H

#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

namespace bench {

using Bytes = std::vector<unsigned char>;

// A listening TCP socket on 127.0.0.1 with an ephemeral port; -1 on failure.
int listen_loopback(uint16_t* port);
// A connected, TCP_NODELAY client socket; -1 on failure.
int connect_loopback(uint16_t port);
bool read_full(int fd, unsigned char* buf, std::size_t n);
bool write_full(int fd, const unsigned char* buf, std::size_t n);

// Accepts one client and answers every request frame it sends with the fixed
// answer for the request's command (frames of other commands get no answer),
// until the client closes.
class EchoPeer {
  public:
    struct Answer {
        uint16_t command;
        Bytes bytes;
    };
    explicit EchoPeer(std::vector<Answer> answers);
    ~EchoPeer();
    EchoPeer(const EchoPeer&) = delete;
    EchoPeer& operator=(const EchoPeer&) = delete;

    uint16_t port() const { return port_; }

  private:
    void serve();
    const Bytes* answer_for(uint16_t command) const;

    std::vector<Answer> answers_;
    int listen_fd_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

// Times `count` raw exchanges: write request, read answer_size bytes. Returns
// one duration in nanoseconds per exchange; empty when the link failed.
std::vector<double> raw_round_trips(int fd, const Bytes& request, std::size_t answer_size,
                                    int count);

// The same exchanges, but the answer is read by a second thread (poll, then
// recv, as a transport's connection thread does) that hands it to the waiting
// caller through a mutex and condition variable: the raw cost of the
// library's structure, one more thread to wake per answer.
std::vector<double> relayed_round_trips(int fd, const Bytes& request, std::size_t answer_size,
                                        int count);

// The same exchanges with the caller waiting for the socket to become
// readable (epoll_wait) before each recv: two system calls per read instead
// of one, the floor of a transport whose waiting caller reads its own answer.
std::vector<double> waited_round_trips(int fd, const Bytes& request, std::size_t answer_size,
                                       int count);

// Latency on a virtual machine depends on whether a wake-up crosses CPUs, and
// the scheduler's placement of threads changes from run to run. The latency
// benchmarks therefore place the instrument's side (simulator, peers) on one
// CPU and the host's side (caller, transport threads) on another, the way a
// real instrument sits outside the host. Threads inherit the placement of the
// thread that creates them. Returns false (and leaves the thread as it was)
// on a single-CPU machine.
enum class Side { instrument, host };
bool place_on(Side side);

// The median of a sample; 0 for an empty one.
double median(std::vector<double> values);

} // namespace bench

#endif
