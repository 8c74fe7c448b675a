// Numbers as export writes them.
#ifndef VUXOCLI_NUMBER_TEXT_H
#define VUXOCLI_NUMBER_TEXT_H

#include <string>

namespace vuxocli {

// The shortest text that reads back to the same value: a value that is a
// 32-bit float (as everything the instrument measures is) is written as that
// float ("0.1", not "0.10000000149011612"); any other as a double. "inf",
// "-inf", "nan" for the values that are no number.
std::string number_text(double value);

} // namespace vuxocli

#endif
