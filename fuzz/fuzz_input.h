// Reads a fuzzer's input front to back as control values and data bytes. Past
// the end every value reads as 0 and every byte run is empty, so a target never
// needs to check the length itself and seed files stay easy to write by hand.
#ifndef VUXO_FUZZ_INPUT_H
#define VUXO_FUZZ_INPUT_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace fuzz {

class Input {
  public:
    Input(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ == size_; }
    std::size_t left() const { return size_ - at_; }

    uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t u16() {
        const uint16_t lo = u8();
        return static_cast<uint16_t>(lo | (u8() << 8));
    }
    int32_t i32() {
        uint32_t v = u16();
        v |= static_cast<uint32_t>(u16()) << 16;
        return static_cast<int32_t>(v);
    }
    // Up to n bytes, fewer when the input runs out.
    std::vector<unsigned char> bytes(std::size_t n) {
        const std::size_t take = std::min(n, left());
        std::vector<unsigned char> out(data_ + at_, data_ + at_ + take);
        at_ += take;
        return out;
    }

  private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Guard bytes around a caller's buffer: a write outside it changes a guard.
class Guarded {
  public:
    static constexpr std::size_t kGuard = 64;
    static constexpr unsigned char kPattern = 0xA5;

    explicit Guarded(std::size_t size, unsigned char fill = 0xEE)
        : bytes_(size + 2 * kGuard, kPattern), size_(size) {
        std::fill(data(), data() + size_, fill);
    }
    unsigned char* data() { return bytes_.data() + kGuard; }
    const unsigned char* data() const { return bytes_.data() + kGuard; }
    // Whether every byte from `from` on still holds `fill`.
    bool untouched_from(std::size_t from, unsigned char fill = 0xEE) const {
        return std::all_of(data() + std::min(from, size_), data() + size_,
                           [fill](unsigned char b) { return b == fill; });
    }
    std::size_t size() const { return size_; }
    bool guards_intact() const {
        const auto is_pattern = [](unsigned char b) { return b == kPattern; };
        return std::all_of(bytes_.begin(), bytes_.begin() + kGuard, is_pattern) &&
               std::all_of(bytes_.end() - kGuard, bytes_.end(), is_pattern);
    }

  private:
    std::vector<unsigned char> bytes_;
    std::size_t size_;
};

} // namespace fuzz

// A broken invariant is a crash, so libFuzzer keeps the input that caused it.
#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #cond, __FILE__, __LINE__);     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

#endif
