// Raw bytes (a serial number, a firmware version, a file name) as the tool shows
// them, through the record layer's one escape rule (vuxod_escape_text), and what
// a user typed back turned into those bytes again.
#ifndef VUXOCLI_SHOWN_TEXT_H
#define VUXOCLI_SHOWN_TEXT_H

#include <string>
#include <string_view>

namespace vuxocli {

// Always valid UTF-8: "A\xE9000456" for the bytes 'A', 0xE9, '0', ...
std::string shown(std::string_view bytes);
// "A\xE9000456" (or the raw bytes themselves) back to the bytes.
std::string typed(const std::string& text);

} // namespace vuxocli

#endif
