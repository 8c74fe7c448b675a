// Words for the results of the record layer and of libvuxoint, for the tool's
// messages: the one place in the tool that turns a code into text.
#ifndef VUXOCLI_RESULT_TEXT_H
#define VUXOCLI_RESULT_TEXT_H

#include <string>

namespace vuxocli {

// "no answer from the instrument in time (255)": the code's meaning, then the code.
std::string result_text(int code);

// True for the transport's own errors (a negated OS error: the link is gone or
// unusable), as opposed to the instrument's failures, the library's refusals
// (-1) and the record layer's findings (below -10000).
bool is_link_error(int code);

} // namespace vuxocli

#endif
