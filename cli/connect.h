// Opening the instrument a CONN names: the library started for the run, the target
// turned into a connection string, the connection made and the instrument
// identified. Failures come back as one message that names the connection, the
// step and the library's result in words.
#ifndef VUXOCLI_CONNECT_H
#define VUXOCLI_CONNECT_H

#include <string>

#include "conn_target.h"

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

// Connects and reads the serial number and firmware version. False with the
// message in *error (connection, step, result in words).
bool open_instrument(const ConnTarget& target, Instrument* out, std::string* error);
void close_instrument(Instrument& inst);

// "tcp://127.0.0.1:5000 (NET:127.0.0.1:5000,1000)": how messages name a connection.
std::string describe(const ConnTarget& target, const std::string& conn_string);

} // namespace vuxocli

#endif
