// Ctrl-C and SIGTERM for the subcommands that run for a while (sync, watch):
// the first one asks the run to end after the record in hand, a second one ends
// the program at once. Either way what was stored stays stored.
#ifndef VUXOCLI_INTERRUPTS_H
#define VUXOCLI_INTERRUPTS_H

namespace vuxocli {

// Catches SIGINT and SIGTERM once each.
void catch_interrupts();
// Gives both back to the default action.
void release_interrupts();
// The signal caught since catch_interrupts(), or 0.
int interrupted();

} // namespace vuxocli

#endif
