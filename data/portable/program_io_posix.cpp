#include <unistd.h>

#include "program_io.h"

namespace vuxo {

// POSIX streams carry bytes as they are.
void set_binary_stdout() {}

bool is_terminal(std::FILE* stream) {
    return isatty(fileno(stream)) == 1;
}

} // namespace vuxo
