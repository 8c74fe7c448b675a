#include "command.h"

#include "frame.h"

namespace vuxo {

int first_payload_byte(const unsigned char* frame) {
    // The length counts the check byte, so a payload needs a length of 2 or more.
    return frame_length(frame) >= 2 ? frame[kHeaderSize] : -1;
}

bool is_serial_answer(const unsigned char* frame) {
    return frame_id(frame) == kSerialCommand.number + kAnswerIdOffset;
}

} // namespace vuxo
