#include "events.h"

namespace vuxocli::serve {

void EventHub::publish(const std::string& event, const nlohmann::json& data) {
    const std::string frame =
        "event: " + event +
        "\ndata: " + data.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n\n";
    {
        std::lock_guard lock(mu_);
        frames_.push_back(frame);
        if (frames_.size() > kKept) {
            frames_.pop_front();
            ++first_;
        }
    }
    cv_.notify_all();
}

uint64_t EventHub::position() {
    std::lock_guard lock(mu_);
    return first_ + frames_.size();
}

bool EventHub::wait(uint64_t* seen, std::chrono::milliseconds most, std::string* out) {
    std::unique_lock lock(mu_);
    cv_.wait_for(lock, most, [&] { return closed_ || first_ + frames_.size() > *seen; });
    if (closed_) {
        return false;
    }
    const uint64_t end = first_ + frames_.size();
    for (uint64_t i = std::max(*seen, first_); i < end; ++i) {
        *out += frames_[static_cast<std::size_t>(i - first_)];
    }
    *seen = end;
    return true;
}

void EventHub::close() {
    {
        std::lock_guard lock(mu_);
        closed_ = true;
    }
    cv_.notify_all();
}

} // namespace vuxocli::serve
