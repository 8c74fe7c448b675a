// The options several subcommands share, each checked where it is parsed so that
// a bad value is a usage error (exit status 2) before anything is opened.
#ifndef VUXOCLI_SHARED_OPTIONS_H
#define VUXOCLI_SHARED_OPTIONS_H

#include <string>

#include "store.h"

namespace CLI {
class App;
}

namespace vuxocli {

// --db FILE: an empty name is refused rather than taken as no file at all.
void add_db_option(CLI::App* sub, std::string* db, const std::string& help);

// --since and --until (period.h checks them).
void add_period_options(CLI::App* sub, std::string* since, std::string* until);

} // namespace vuxocli

#endif
