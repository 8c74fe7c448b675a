// Server-sent events: what happens on the instruments (a sync's progress, a new
// measurement, an instrument plugged in) fanned out to every open page. Events
// are numbered; a stream sees those published after it began.
#ifndef VUXOCLI_SERVE_EVENTS_H
#define VUXOCLI_SERVE_EVENTS_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

namespace vuxocli::serve {

class EventHub {
  public:
    // Thread-safe; data is written as one line of JSON.
    void publish(const std::string& event, const nlohmann::json& data);
    // The number of the next event: where a new stream starts.
    uint64_t position();
    // Appends to *out the frames of events from *seen on and moves *seen past
    // them; waits up to `most` for one. False once closed.
    bool wait(uint64_t* seen, std::chrono::milliseconds most, std::string* out);
    // Ends every stream.
    void close();

  private:
    // A stream that falls further behind than this misses events, never memory.
    static constexpr std::size_t kKept = 1024;

    std::mutex mu_;
    std::condition_variable cv_;
    std::deque<std::string> frames_; // frames_[i] is event first_ + i
    uint64_t first_ = 0;
    bool closed_ = false;
};

} // namespace vuxocli::serve

#endif
