#include "fake_comm.h"

#include <algorithm>
#include <cstring>

#include "frame.h"

namespace fake {

State& state() {
    static State s;
    return s;
}

void reset() {
    state() = State{};
}

Conn* find(int conn_id) {
    for (Conn& c : state().conns) {
        if (c.id == conn_id && c.live) {
            return &c;
        }
    }
    return nullptr;
}

int event(int conn_id, int kind, const unsigned char* data, int value) {
    Conn* c = find(conn_id);
    if (c == nullptr || c->proc == nullptr) {
        return 0;
    }
    return c->proc(conn_id, kind, const_cast<unsigned char*>(data), value, c->context);
}

int link_up(int conn_id) {
    return event(conn_id, COMM_EV_CONNECTED);
}
int timeout(int conn_id) {
    return event(conn_id, COMM_EV_TIMEOUT);
}
int conn_error(int conn_id, int value) {
    return event(conn_id, COMM_EV_CONN_ERROR, nullptr, value);
}

int disconnect(int conn_id, int value) {
    Conn* c = find(conn_id);
    if (c == nullptr) {
        return 0;
    }
    // Taken out of the walk before the context is freed, as the real transport does.
    c->live = false;
    return c->proc(conn_id, COMM_EV_DISCONNECTED, nullptr, value, c->context);
}

void data(int conn_id, const Bytes& bytes, std::size_t split) {
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t n = std::min(split, bytes.size() - at);
        Bytes chunk(bytes.begin() + static_cast<long>(at),
                    bytes.begin() + static_cast<long>(at + n));
        event(conn_id, COMM_EV_DATA, chunk.data(), static_cast<int>(n));
        at += n;
    }
}

Bytes frame(uint16_t id, uint8_t status, const Bytes& payload, uint16_t word) {
    Bytes out(payload.size() + 13);
    vuxo::build_frame(out.data(), id, word, status, payload.data(), payload.size());
    return out;
}

Bytes header_only(uint16_t id, uint8_t status) {
    Bytes out = frame(id, status, {});
    out.resize(12);
    out[6] = 0; // length 0
    out[11] = vuxo::xor_bytes(out.data(), 11);
    return out;
}

} // namespace fake

using fake::state;

extern "C" {

int comm_init(comm_idle_wait_fn idle_wait, int, int) {
    state().calls.push_back("comm_init");
    state().idle_wait = idle_wait;
    return state().init_result;
}
int comm_usb_register(int a, int b) {
    state().calls.push_back("comm_usb_register");
    state().last_args = {a, b};
    return state().usb_register_result;
}
int comm_usb_deregister(void) {
    state().calls.push_back("comm_usb_deregister");
    return -5;
}
int comm_shut(void) {
    state().calls.push_back("comm_shut");
    return -5;
}

int comm_connect(int* conn_id, const char* conn_string, comm_event_proc proc, int rx_size,
                 int tick_ms, void* context) {
    state().calls.push_back("comm_connect");
    if (state().connect_result != 0) {
        return state().connect_result;
    }
    fake::Conn c;
    c.id = state().next_id++;
    c.conn_string = conn_string;
    c.proc = proc;
    c.context = context;
    c.live = true;
    c.rx_size = rx_size;
    c.tick_ms = tick_ms;
    state().conns.push_back(c);
    *conn_id = c.id;
    return 0;
}

int comm_disconnect(int conn_id) {
    state().calls.push_back("comm_disconnect");
    return fake::find(conn_id) != nullptr ? 0 : -2;
}
int comm_get_state(int conn_id) {
    state().calls.push_back("comm_get_state");
    return fake::find(conn_id) != nullptr ? COMM_STATE_OPEN : COMM_STATE_NONE;
}
int comm_signal_connected(int conn_id) {
    state().calls.push_back("comm_signal_connected");
    if (fake::Conn* c = fake::find(conn_id)) {
        c->signalled = true;
    }
    return 0;
}
int comm_wait_connected(int conn_id, int timeout_ms) {
    state().calls.push_back("comm_wait_connected");
    state().last_args = {conn_id, timeout_ms};
    fake::Conn* c = fake::find(conn_id);
    return c != nullptr && c->signalled ? 0 : -110;
}

int comm_write(int conn_id, const unsigned char* data, int len, int flags, int timeout_ms) {
    state().calls.push_back("comm_write");
    state().last_args = {conn_id, len, flags, timeout_ms};
    state().writes.push_back({conn_id, fake::Bytes(data, data + len), timeout_ms});
    int result = 0;
    if (!state().write_results.empty()) {
        result = state().write_results.front();
        state().write_results.erase(state().write_results.begin());
    }
    if (result == 0 && state().on_write) {
        state().on_write(conn_id, state().writes.back().bytes);
    }
    return result;
}

int comm_hook_response(int conn_id, int id1, unsigned char* buf1, int cap1, int id2,
                       unsigned char* buf2, int cap2, int id3, unsigned char* buf3, int cap3) {
    state().calls.push_back("comm_hook_response");
    fake::Conn* c = fake::find(conn_id);
    if (c == nullptr) {
        return -2;
    }
    c->hooked = true;
    c->armed[0] = {id1, buf1, cap1, 0};
    c->armed[1] = {id2, buf2, cap2, 0};
    c->armed[2] = {id3, buf3, cap3, 0};
    return 0;
}

int comm_unhook_response(int conn_id) {
    state().calls.push_back("comm_unhook_response");
    if (fake::Conn* c = fake::find(conn_id)) {
        c->hooked = false;
        for (fake::Armed& a : c->armed) {
            a = {};
        }
    }
    return 0;
}

int comm_fill_rsp_buff(int conn_id, int id, const unsigned char* frame, int len) {
    state().filled.emplace_back(frame, frame + len);
    fake::Conn* c = fake::find(conn_id);
    if (c == nullptr || !c->hooked) {
        return 0;
    }
    for (fake::Armed& a : c->armed) {
        if (a.id == id && a.buf != nullptr && len <= a.cap) {
            std::memcpy(a.buf, frame, static_cast<std::size_t>(len));
            a.count = len;
        }
    }
    return 0;
}

int comm_wait_response(int conn_id, int* count1, int* count2, int* count3, int timeout_ms) {
    state().calls.push_back("comm_wait_response");
    state().wait_timeouts.push_back(timeout_ms);
    if (state().on_wait) {
        state().on_wait(conn_id);
    }
    int* counts[3] = {count1, count2, count3};
    fake::Conn* c = fake::find(conn_id);
    bool any = false;
    for (int i = 0; i < 3; ++i) {
        *counts[i] = c != nullptr ? c->armed[i].count : 0;
        any = any || *counts[i] != 0;
        if (c != nullptr) {
            c->armed[i].count = 0;
        }
    }
    // Nothing captured is a time-out, as with the real transport.
    return any ? 0 : -110;
}

int comm_data_cntr_init(uint32_t* cursor) {
    *cursor = 0;
    return 0;
}

int comm_get_data(uint32_t* cursor, int* conn_id, void** context) {
    auto& conns = state().conns;
    while (*cursor < conns.size()) {
        const fake::Conn& c = conns[*cursor];
        ++*cursor;
        if (c.live) {
            *conn_id = c.id;
            *context = c.context;
            return 1;
        }
    }
    return 0;
}

int comm_list_devices_usb(int flags, char* entries, int capacity, int* count, const char* f1,
                          const char* f2, int vid_first, int vid_last, int pid_first,
                          int pid_last) {
    state().calls.push_back("comm_list_devices_usb");
    state().last_args = {flags, capacity, vid_first, vid_last, pid_first, pid_last, f1[0], f2[0]};
    int n = 0;
    for (const std::string& e : state().usb_entries) {
        if (n >= capacity) {
            break;
        }
        std::strncpy(entries + 128 * n, e.c_str(), 127);
        entries[128 * n + 127] = '\0';
        ++n;
    }
    *count = n;
    return state().list_result;
}

namespace {
int make_string(char* out, const std::string& text) {
    std::snprintf(out, 128, "%s", text.c_str());
    return state().make_string_result;
}
} // namespace

int comm_usb_describe(const char*, char* port, char* usb_serial, int*) {
    state().calls.push_back("comm_usb_describe");
    port[0] = '\0';
    usb_serial[0] = '\0';
    return -COMM_ENODEV;
}
int comm_check_conn_string(const char*) {
    state().calls.push_back("comm_check_conn_string");
    return 0;
}
int comm_make_conn_string_usb(char* out, const char* device, int flags, int vid, int pid) {
    state().calls.push_back("comm_make_conn_string_usb");
    state().last_args = {flags, vid, pid};
    return make_string(out, std::string("usb:") + device);
}
int comm_make_conn_string_serial(char* out, uint16_t port, int baud, int data_bits, int stop_bits,
                                 int parity, int flow) {
    state().calls.push_back("comm_make_conn_string_serial");
    state().last_args = {port, baud, data_bits, stop_bits, parity, flow};
    return make_string(out, "serial:" + std::to_string(port));
}
int comm_make_conn_string_serial_path(char* out, const char* path, int baud, int data_bits,
                                      int stop_bits, int parity, int flow) {
    state().calls.push_back("comm_make_conn_string_serial_path");
    state().last_args = {baud, data_bits, stop_bits, parity, flow};
    return make_string(out, std::string("serial:") + path);
}
int comm_make_conn_string_bt(char* out, const char* device, const char* name, int class_of_device,
                             int channel, const char* pin, int timeout_ms) {
    state().calls.push_back("comm_make_conn_string_bt");
    state().last_args = {class_of_device, channel, timeout_ms};
    return make_string(out, std::string("bt:") + device + "/" + name + "/" + pin);
}
int comm_make_conn_string_net(char* out, const char* address, uint16_t port, int timeout_ms) {
    state().calls.push_back("comm_make_conn_string_net");
    state().last_args = {port, timeout_ms};
    return make_string(out, std::string("tcp:") + address);
}
int comm_bt_is_available(void) {
    state().calls.push_back("comm_bt_is_available");
    return -95;
}
int comm_bt_discover(comm_bt_found_fn, int class_of_device, void*) {
    state().calls.push_back("comm_bt_discover");
    state().last_args = {class_of_device};
    return -95;
}
int comm_bt_discover_cancel(void) {
    state().calls.push_back("comm_bt_discover_cancel");
    return -95;
}
int comm_bt_discover_wait(int timeout_ms) {
    state().calls.push_back("comm_bt_discover_wait");
    state().last_args = {timeout_ms};
    return -95;
}

} // extern "C"
