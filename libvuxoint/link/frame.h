// The instrument's frame: a 12-byte header ("BRNO", id, length, time-out word,
// status, header check) and, when length is not 0, the payload and its check byte.
#ifndef VUXO_FRAME_H
#define VUXO_FRAME_H

#include <cstddef>
#include <cstdint>

namespace vuxo {

inline constexpr std::size_t kHeaderSize = 12;
inline constexpr int kMaxRequestPayload = 65534;
inline constexpr std::size_t kMaxRequestFrame = kHeaderSize + kMaxRequestPayload + 1;
inline constexpr std::size_t kRxCapacity = 65536;
// A longer body would not fit the receive buffer behind the header.
inline constexpr uint32_t kMaxRxLength = kRxCapacity - kHeaderSize;
inline constexpr int kAnswerIdOffset = 1000;

inline constexpr std::size_t kOffId = 4;
inline constexpr std::size_t kOffLength = 6;
inline constexpr std::size_t kOffWord = 8;
inline constexpr std::size_t kOffStatus = 10;
inline constexpr std::size_t kOffCheck = 11;

uint8_t xor_bytes(const unsigned char* p, std::size_t n);

// Writes a frame of header plus n payload bytes plus check into out (room for
// n + 13 bytes) and returns n + 13. A request carries status 0.
std::size_t build_frame(unsigned char* out, uint16_t id, uint16_t word, uint8_t status,
                        const unsigned char* payload, std::size_t n);

uint16_t frame_id(const unsigned char* frame);
uint16_t frame_length(const unsigned char* frame);

// The receiver: a pure byte-fed state machine. pos counts the bytes of the
// current frame in buf (0 while hunting for the sync word); a frame that fails
// a check is dropped and hunting resumes with the next byte.
struct FrameReceiver {
    unsigned char buf[kRxCapacity];
    int32_t pos;
    uint32_t expected;
    uint32_t received;

    // Consumes bytes from data until a frame is complete or the bytes run out.
    // Returns how many were consumed; *complete tells whether buf now holds a
    // whole frame of pos bytes. The caller resets pos to 0 after handling it.
    std::size_t consume(const unsigned char* data, std::size_t n, bool* complete);
    // Gives back the byte that completed the frame: the receiver is as it was
    // before that byte, so feeding that byte again completes the same frame.
    void unconsume_last() {
        if (--pos >= static_cast<int32_t>(kHeaderSize)) {
            --received;
        }
    }
    // Abandons a partial frame.
    void reset() { pos = 0; }
};

} // namespace vuxo

#endif
