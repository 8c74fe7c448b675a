// A program's standard streams: its output bytes arrive unchanged (golden
// output, CSV, JSON), with no end-of-line translation, and it asks whether a
// person sits at one. One file per OS.
#ifndef VUXO_PROGRAM_IO_H
#define VUXO_PROGRAM_IO_H

#include <cstdio>

namespace vuxo {

// Standard output and standard error in binary mode.
void set_binary_stdout();

// True when stream is a terminal (a console on Windows).
bool is_terminal(std::FILE* stream);

} // namespace vuxo

#endif
