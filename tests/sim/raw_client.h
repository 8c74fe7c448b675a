// A bare host for the simulator's tests: a loopback socket (or a pty slave), the
// library's frame builder for requests and its receiver for answers. Every wait is bounded.
#ifndef VUXO_TESTS_SIM_RAW_CLIENT_H
#define VUXO_TESTS_SIM_RAW_CLIENT_H

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frame.h"

namespace simtest {

struct Answer {
    uint16_t id = 0;
    uint16_t word = 0;
    uint8_t status = 0;
    std::vector<unsigned char> payload;
    std::vector<unsigned char> frame;
};

std::vector<unsigned char> request(uint16_t cmd, const std::vector<unsigned char>& payload = {},
                                   uint16_t word = 1000);
std::vector<unsigned char> i32(int32_t v);
std::vector<unsigned char> cat(std::vector<unsigned char> a, const std::vector<unsigned char>& b);
// The 40-byte file request head: name field, offset, length.
std::vector<unsigned char> file_request(const std::string& name, int32_t offset, int32_t length);

class RawClient {
  public:
    ~RawClient();
    bool connect_tcp(uint16_t port);
    bool open_pty(const std::string& path);
    void close();

    bool send_bytes(const std::vector<unsigned char>& bytes);
    bool send(uint16_t cmd, const std::vector<unsigned char>& payload = {});
    // The next frame that passes both checks, or nothing within the time-out.
    std::optional<Answer> next(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Sends and returns the next frame.
    std::optional<Answer> ask(uint16_t cmd, const std::vector<unsigned char>& payload = {});
    // Raw bytes as they arrive, up to n, within the time-out.
    std::vector<unsigned char> read_raw(std::size_t n, std::chrono::milliseconds timeout);
    // True once the simulator closed the connection (read gives 0).
    bool wait_closed(std::chrono::milliseconds timeout);

  private:
    int fd_ = -1;
    bool socket_ = true;
    std::unique_ptr<vuxo::FrameReceiver> rx_ = std::make_unique<vuxo::FrameReceiver>();
    std::vector<unsigned char> pending_;
};

} // namespace simtest

#endif
