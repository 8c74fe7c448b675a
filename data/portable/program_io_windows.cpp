#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "program_io.h"

namespace vuxo {

// The C runtime opens both in text mode, which writes "\r\n" for every "\n".
void set_binary_stdout() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

bool is_terminal(std::FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}

} // namespace vuxo
