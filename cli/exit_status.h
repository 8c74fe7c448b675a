// The tool's exit statuses, as --help documents them.
#ifndef VUXOCLI_EXIT_STATUS_H
#define VUXOCLI_EXIT_STATUS_H

namespace vuxocli {

enum ExitStatus {
    kExitOk = 0,           // everything fetched (sync) or written (export)
    kExitIncomplete = 1,   // some record or the entry list could not be read, or the
                           // output could not be written; what was stored is kept
    kExitUsage = 2,        // a bad command line
    kExitNoInstrument = 3, // no connection, or no instrument answered on it
    kExitDatabase = 4,     // the database cannot be opened, read or written
    kExitInterrupted = 130 // Ctrl-C or SIGTERM: what was stored is kept
};

} // namespace vuxocli

#endif
