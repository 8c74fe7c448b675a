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

// --since and --until, each YYYY-MM-DD[THH:MM[:SS]] naming a real date and time.
void add_period_options(CLI::App* sub, std::string* since, std::string* until);

// True for YYYY-MM-DD, optionally followed by THH:MM or THH:MM:SS, that names a
// day of the calendar and a time of the day.
bool valid_time(const std::string& text);

// The last instant --until TEXT includes: the end of its day, minute or second.
std::string until_bound(const std::string& text);

// Puts the period into *filter; false, with the reason on standard error, when
// it ends before it starts.
bool set_period(const std::string& since, const std::string& until, QueryFilter* filter);

} // namespace vuxocli

#endif
