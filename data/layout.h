// Where the instrument keeps each field of its data: the parameter blocks' entry count,
// the entry list and both generations' measurement records. Every reader of these bytes
// takes its offsets from here, so the layouts live in one place.
#ifndef VUXOD_LAYOUT_H
#define VUXOD_LAYOUT_H

#include <cstddef>
#include <cstdint>

namespace vuxod::layout {

// Parameter blocks as read, and where their entry count (uint32) lies.
inline constexpr std::size_t kV1ParamSize = 4096;
inline constexpr std::size_t kV2ParamSize = 4319;
inline constexpr std::size_t kV1CountOffset = 88;
inline constexpr std::size_t kV2CountOffset = 94;

// The entry list: 5-byte entries (uint32 key, flags byte), read a page at a time.
inline constexpr std::size_t kEntrySize = 5;
inline constexpr std::size_t kEntryFlags = 4;
inline constexpr uint32_t kV1PageEntries = 128;
inline constexpr uint32_t kV2PageEntries = 32;

// Offsets both generations share.
inline constexpr std::size_t kNumber = 4;
inline constexpr std::size_t kId = 8;
inline constexpr std::size_t kYear = 12; // uint16, then month, day, hour, minute, second
inline constexpr std::size_t kFlags = 19;

namespace v1 {
inline constexpr std::size_t kRecordSize = 828;
inline constexpr std::size_t kPin = 20; // then error, diameter
inline constexpr std::size_t kKappa = 40;
inline constexpr std::size_t kFirstCount = 76;
inline constexpr std::size_t kValueCount = 80;
inline constexpr std::size_t kMarks = 84;
inline constexpr std::size_t kValues = 108;
inline constexpr int32_t kMaxValues = 180;
// Any of flag bits 2-4 gives percent units; the curve is the flags' upper half (bit 4
// belongs to both).
inline constexpr unsigned kPercentMask = 0x1C;
inline constexpr unsigned kCurveShift = 4;
} // namespace v1

namespace v2 {
inline constexpr std::size_t kRecordSize = 4063;
inline constexpr std::size_t kCurveS = 20;
inline constexpr std::size_t kCurveC = 21;
inline constexpr std::size_t kUnitBits = 22;
inline constexpr std::size_t kPin = 23; // then error, diameter
inline constexpr std::size_t kTag = 42;
inline constexpr std::size_t kSusc = 43;
inline constexpr std::size_t kCond = 47;
inline constexpr std::size_t kFirstCount = 87;
inline constexpr std::size_t kValueCount = 91;
inline constexpr std::size_t kMarks = 95;
inline constexpr std::size_t kSuscValues = 155;
inline constexpr std::size_t kCondValues = 2075;
inline constexpr int32_t kMaxValues = 480;
inline constexpr unsigned kCgsBit = 0x04;
inline constexpr unsigned kOhmBit = 0x08;
} // namespace v2

} // namespace vuxod::layout

#endif
