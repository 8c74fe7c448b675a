// The one message every failing step prints.
#ifndef VUXOTEST_COMMAND_ERROR_H
#define VUXOTEST_COMMAND_ERROR_H

#include <cstdio>

namespace vuxotest {

inline void print_command_error(std::FILE* out, const char* step, int code) {
    std::fprintf(out, "Command %s error(code=%d)!\n", step, code);
}

} // namespace vuxotest

#endif
