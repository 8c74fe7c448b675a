// Opening the instrument a CONN names: the library started for the run, the target
// turned into a connection string, the connection made and the instrument
// identified. Failures come back as one message that names the connection, the
// step and the library's result in words.
#ifndef VUXOCLI_CONNECT_H
#define VUXOCLI_CONNECT_H

#include <string>

#include "conn_target.h"
#include "vuxoint.h"

namespace vuxocli {

// Starts the library for the life of the object and stops it afterwards.
class Library {
  public:
    Library();
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    bool started() const { return started_; }

  private:
    bool started_ = false;
};

struct Instrument {
    int conn_id = -1;
    int generation = -1; // 0 V1, 1 V2
    std::string serial;
    std::string firmware;
    std::string conn_string; // what the library was given
};

// Callbacks for what the instrument reports on its own. They run on the
// transport's thread: they may only hand the event over, never call the library.
struct LinkEvents {
    vuxo_live_data_fn on_live_data = nullptr;
    vuxo_disconnected_fn on_disconnected = nullptr;
    void* user = nullptr;
};

// Connects and reads the serial number and firmware version. False with the
// message in *error (connection, step, result in words). events (may be null)
// must outlive the connection.
bool open_instrument(const ConnTarget& target, Instrument* out, std::string* error,
                     const LinkEvents* events = nullptr);
void close_instrument(Instrument& inst);

// What every subcommand that talks to an instrument does first: CONN parsed,
// the instrument opened with events (may be null), *who set for messages.
// kExitOk, or the exit status (usage, no instrument) with the reason already on
// standard error.
int open_for_command(const std::string& conn, const Library& library, Instrument* inst,
                     std::string* who, const LinkEvents* events = nullptr);

// "tcp://127.0.0.1:5000 (NET:127.0.0.1:5000,1000)": how messages name a connection.
std::string describe(const ConnTarget& target, const std::string& conn_string);

} // namespace vuxocli

#endif
