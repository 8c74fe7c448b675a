// sync --clear-after: the instrument's log cleared once a sync has stored all of
// it, and only when nothing on the instrument would be lost by it. The entry list
// is read once more right before the clear, because the instrument keeps
// measuring while it is connected: a measurement taken after the sync read its
// list is on the instrument only.
#ifndef VUXOCLI_CLEAR_AFTER_H
#define VUXOCLI_CLEAR_AFTER_H

#include <cstdint>
#include <optional>
#include <string>

#include "connect.h"

namespace vuxocli {

struct ClearOutcome {
    bool cleared = false;
    std::string reason;                    // why the log was left alone; "" when cleared
    bool database = false;                 // the reason is a database that could not be read
    std::optional<uint32_t> entries_after; // the entry count read back after the clear
};

// Reads the entry list again, checks that db holds every non-empty entry for
// inst, asks on the terminal unless yes (and refuses when there is no terminal
// to ask on), then clears the log and reads the entry count back. Prints only
// the question.
ClearOutcome clear_after_sync(const Instrument& inst, const std::string& db, bool yes);

} // namespace vuxocli

#endif
