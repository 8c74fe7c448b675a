// A TCP proxy on 127.0.0.1 that holds every byte for a fixed delay each way
// before passing it on to a Unix socket: a database server at a distance, for
// the benchmarks, on one machine.
#ifndef VUXO_BENCH_DELAY_PROXY_H
#define VUXO_BENCH_DELAY_PROXY_H

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace bench {

class DelayProxy {
  public:
    DelayProxy(std::string unix_path, std::chrono::milliseconds delay);
    ~DelayProxy();
    DelayProxy(const DelayProxy&) = delete;
    DelayProxy& operator=(const DelayProxy&) = delete;

    uint16_t port() const { return port_; }

  private:
    void accept_loop();

    std::string unix_path_;
    std::chrono::milliseconds delay_;
    int listen_fd_ = -1;
    uint16_t port_ = 0;
    std::thread acceptor_;
    std::vector<std::thread> pumps_;
};

} // namespace bench

#endif
