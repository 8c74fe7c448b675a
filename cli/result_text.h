// Words for the results of the record layer and of libvuxoint, for the tool's
// messages: the one place in the tool that turns a code into text.
#ifndef VUXOCLI_RESULT_TEXT_H
#define VUXOCLI_RESULT_TEXT_H

#include <string>

namespace vuxocli {

// "no answer from the instrument in time (255)": the code's meaning, then the code.
std::string result_text(int code);

} // namespace vuxocli

#endif
