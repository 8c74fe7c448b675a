// The record sizes the console's buffers are made for. The layouts themselves, and
// their decoding, belong to the record layer (vuxodata.h).
#ifndef VUXOTEST_RECORDS_H
#define VUXOTEST_RECORDS_H

#include <cstddef>
#include <cstdint>

#include "layout.h"

namespace vuxotest {

inline constexpr std::size_t kV1RecordSize = vuxod::layout::v1::kRecordSize;
// The record buffers are a little larger than the records they receive.
inline constexpr std::size_t kV1RecordBuffer = 832;
inline constexpr int32_t kV1MaxValues = vuxod::layout::v1::kMaxValues;

inline constexpr std::size_t kV2RecordSize = vuxod::layout::v2::kRecordSize;
inline constexpr std::size_t kV2RecordBuffer = 4064;
inline constexpr int32_t kV2MaxValues = vuxod::layout::v2::kMaxValues;

} // namespace vuxotest

#endif
