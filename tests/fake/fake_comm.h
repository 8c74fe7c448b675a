// A scripted, in-process transport for tests: implements the comm_* functions
// without threads or ports. Tests drive the event procedure that comm_connect
// received and play the instrument's answers, deterministically.
#ifndef VUXO_FAKE_COMM_H
#define VUXO_FAKE_COMM_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "comm.h"

namespace fake {

using Bytes = std::vector<unsigned char>;

struct Write {
    int conn_id;
    Bytes bytes;
    int timeout_ms;
};

struct Armed {
    int id = -1;
    unsigned char* buf = nullptr;
    int cap = 0;
    int count = 0; // length of the frame captured since the last wait
};

struct Conn {
    int id = 0;
    std::string conn_string;
    comm_event_proc proc = nullptr;
    void* context = nullptr;
    bool live = false;
    int rx_size = 0;
    int tick_ms = 0;
    bool signalled = false;
    bool hooked = false;
    Armed armed[3];
};

struct State {
    std::vector<Conn> conns;
    std::vector<Write> writes;
    std::vector<std::string> calls; // every comm_* call, by name, in order
    std::vector<int> wait_timeouts; // time-out of each comm_wait_response
    std::vector<Bytes> filled;      // every frame handed to comm_fill_rsp_buff
    int next_id = 1;
    int connect_result = 0;         // what comm_connect answers
    std::vector<int> write_results; // answers of comm_write, in turn; then 0
    int init_result = 0;
    int usb_register_result = 0;
    int make_string_result = 0;
    std::vector<std::string> usb_entries; // what comm_list_devices_usb lists
    int list_result = 0;
    std::vector<int> last_args; // integer arguments of the last call that records them
    comm_idle_wait_fn idle_wait = nullptr;
    // Called by comm_write after recording it: the instrument's turn to answer.
    std::function<void(int conn_id, const Bytes& request)> on_write;
    // Called by comm_wait_response before it reads the buffers: what the
    // instrument sends while the caller waits.
    std::function<void(int conn_id)> on_wait;
};

State& state();
// Clears everything, also the connections; call at the start of each test.
void reset();

Conn* find(int conn_id);
// Drives the event procedure of a connection; returns its result.
int event(int conn_id, int kind, const unsigned char* data = nullptr, int value = 0);
int link_up(int conn_id);
int timeout(int conn_id);
int conn_error(int conn_id, int value);
// Delivers COMM_EV_DISCONNECTED and forgets the connection's context.
int disconnect(int conn_id, int value = 0);
// Feeds bytes as COMM_EV_DATA events of at most `split` bytes each.
void data(int conn_id, const Bytes& bytes, std::size_t split = SIZE_MAX);

// Frames as the instrument sends them.
Bytes frame(uint16_t id, uint8_t status, const Bytes& payload, uint16_t word = 0);
Bytes header_only(uint16_t id, uint8_t status = 0);

} // namespace fake

#endif
