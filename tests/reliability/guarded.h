// Caller buffers with guard bytes on both sides: a write outside the buffer
// changes a guard, and a buffer that must not be written keeps its fill.
#ifndef VUXO_RELIABILITY_GUARDED_H
#define VUXO_RELIABILITY_GUARDED_H

#include <algorithm>
#include <cstddef>
#include <deque>
#include <string>
#include <vector>

namespace reliability {

class Guarded {
  public:
    static constexpr std::size_t kGuard = 64;
    static constexpr unsigned char kPattern = 0xA5;
    static constexpr unsigned char kFill = 0xEE;

    explicit Guarded(std::size_t size) : bytes_(size + 2 * kGuard, kPattern), size_(size) {
        std::fill(data(), data() + size_, kFill);
    }
    unsigned char* data() { return bytes_.data() + kGuard; }
    const unsigned char* data() const { return bytes_.data() + kGuard; }
    char* text() { return reinterpret_cast<char*>(data()); }
    std::size_t size() const { return size_; }

    bool guards_intact() const {
        const auto is_pattern = [](unsigned char b) { return b == kPattern; };
        return std::all_of(bytes_.begin(), bytes_.begin() + kGuard, is_pattern) &&
               std::all_of(bytes_.end() - kGuard, bytes_.end(), is_pattern);
    }
    bool untouched() const {
        return std::all_of(data(), data() + size_, [](unsigned char b) { return b == kFill; });
    }

  private:
    std::vector<unsigned char> bytes_;
    std::size_t size_;
};

// The buffers one call was given, to be checked after it.
class Buffers {
  public:
    unsigned char* get(std::size_t size) { return list_.emplace_back(size).data(); }
    char* text(std::size_t size) { return list_.emplace_back(size).text(); }
    int* word() { return reinterpret_cast<int*>(get(sizeof(int))); }

    // Empty when every guard is intact; otherwise which buffer was overrun.
    std::string overrun() const {
        for (std::size_t i = 0; i < list_.size(); ++i) {
            if (!list_[i].guards_intact()) {
                return "buffer " + std::to_string(i) + " written outside its bounds";
            }
        }
        return {};
    }
    bool all_untouched() const {
        return std::all_of(list_.begin(), list_.end(),
                           [](const Guarded& g) { return g.untouched(); });
    }

  private:
    std::deque<Guarded> list_; // stable addresses
};

} // namespace reliability

#endif
