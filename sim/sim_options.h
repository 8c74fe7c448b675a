// The vuxoint-sim command line.
#ifndef VUXO_SIM_OPTIONS_H
#define VUXO_SIM_OPTIONS_H

#include <string>
#include <vector>

#include "simulator.h"

namespace vuxo::sim {

enum class ParseResult { run, help, version, error, describe };

// Fills *config from the arguments (program name excluded). On error *message says why.
ParseResult parse_options(const std::vector<std::string>& args, Config* config,
                          std::string* message);

const char* usage_text();

} // namespace vuxo::sim

#endif
