// The period --since and --until select, as every front takes it: each bound
// YYYY-MM-DD[THH:MM[:SS]] naming a real date and time of the instrument's clock.
#ifndef VUXOD_PERIOD_H
#define VUXOD_PERIOD_H

#include <string>

#include "store.h"

namespace vuxocli {

// True for YYYY-MM-DD, optionally followed by THH:MM or THH:MM:SS, that names a
// day of the calendar and a time of the day.
bool valid_time(const std::string& text);

// The last instant --until TEXT includes: the end of its day, minute or second.
std::string until_bound(const std::string& text);

// Puts the period into *filter (an empty text is no bound); false with the
// words for the user in *message when a bound is no time or the period ends
// before it starts.
bool set_period(const std::string& since, const std::string& until, QueryFilter* filter,
                std::string* message);

} // namespace vuxocli

#endif
