#include "connect.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <vector>

#include "exit_status.h"
#include "result_text.h"
#include "vuxodata.h"
#include "vuxoint.h"

namespace vuxocli {

namespace {

constexpr int kConnectTimeoutMs = 5000;

// The transport's error of the last failed connection attempt. The connect
// call folds every failure into one code; this says what the link reported
// (refused, no such device). A global: callbacks of a connection that failed
// to come up may arrive after the call returned.
std::atomic<int> g_link_error{0};

int on_conn_error(int, MXX_link*, void*, int value) {
    g_link_error.store(value);
    return 0;
}

// "Connection refused (errno 111)" when the link reported one, else the code's words.
std::string connect_failure(int rc) {
    const int value = g_link_error.load();
    if (value != 0) {
        const int number = value < 0 ? -value : value;
        return std::string(vuxo_strerror(-number)) + " (errno " + std::to_string(number) + ")";
    }
    return "no instrument detected, " + result_text(rc);
}

// The record layer's one reading of the forms, as every front uses it.
std::vector<std::string> resolve(const std::string& conn, std::string* error) {
    constexpr int kCapacity = 32;
    std::vector<char> out(static_cast<std::size_t>(kCapacity) * VUXO_CONN_STRING_SIZE, 0);
    std::array<char, 512> why{};
    int count = 0;
    if (vuxod_conn_strings(conn.c_str(), out.data(), kCapacity, &count, why.data(), why.size()) !=
        VUXOD_OK) {
        *error = why.data();
        return {};
    }
    std::vector<std::string> strings;
    for (int i = 0; i < count; ++i) {
        strings.emplace_back(out.data() + static_cast<std::size_t>(i) * VUXO_CONN_STRING_SIZE);
    }
    return strings;
}

std::string read_serial(int conn_id, int* rc) {
    std::array<char, 32> text{};
    *rc = vuxo_get_serial(conn_id, text.data());
    return std::string(text.data(), strnlen(text.data(), 8));
}

std::string read_firmware(int conn_id, int* rc) {
    std::array<char, 32> text{};
    *rc = vuxo_get_fw_version(conn_id, text.data());
    // Eight characters fill the field without a terminating zero.
    return std::string(text.data(), strnlen(text.data(), 8));
}

} // namespace

Library::Library() : started_(vuxo_library_init() == 0) {}

Library::~Library() {
    vuxo_library_shut();
}

std::string describe(const ConnTarget& target, const std::string& conn_string) {
    if (conn_string.empty() || conn_string == target.text) {
        return target.text;
    }
    return target.text + " (" + conn_string + ")";
}

bool open_instrument(const ConnTarget& target, Instrument* out, std::string* error,
                     const LinkEvents* events) {
    const LinkEvents none;
    const LinkEvents& ev = events != nullptr ? *events : none;
    const std::vector<std::string> candidates = resolve(target.text, error);
    int rc = 255;
    for (const std::string& conn : candidates) {
        out->conn_string = conn;
        int conn_id = -1;
        g_link_error.store(0);
        rc = vuxo_connect(conn.c_str(), &conn_id, kConnectTimeoutMs, nullptr, on_conn_error,
                          ev.on_disconnected, ev.on_live_data, ev.user);
        if (rc == 0) {
            out->conn_id = conn_id;
            break;
        }
    }
    if (candidates.empty()) {
        return false;
    }
    const std::string who = describe(target, out->conn_string);
    if (out->conn_id < 0) {
        *error = who + ": connect: " + connect_failure(rc);
        return false;
    }
    out->generation = vuxo_get_type(out->conn_id);
    out->serial = read_serial(out->conn_id, &rc);
    if (rc != 0 || out->serial.empty()) {
        *error = who + ": read the serial number: " +
                 (rc != 0 ? result_text(rc) : std::string("empty answer"));
        close_instrument(*out);
        return false;
    }
    out->firmware = read_firmware(out->conn_id, &rc);
    if (rc != 0) {
        *error = who + ": read the firmware version: " + result_text(rc);
        close_instrument(*out);
        return false;
    }
    return true;
}

int open_for_command(const std::string& conn, const Library& library, Instrument* inst,
                     std::string* who, const LinkEvents* events) {
    std::string why;
    const std::optional<ConnTarget> target = parse_conn(conn, &why);
    if (!target) {
        std::fprintf(stderr, "vuxoint: CONN \"%s\": %s\n", conn.c_str(), why.c_str());
        return kExitUsage;
    }
    if (!library.started()) {
        std::fprintf(stderr, "vuxoint: %s: start the transport: failed\n", target->text.c_str());
        return kExitNoInstrument;
    }
    if (!open_instrument(*target, inst, &why, events)) {
        std::fprintf(stderr, "vuxoint: %s\n", why.c_str());
        return kExitNoInstrument;
    }
    *who = describe(*target, inst->conn_string);
    return kExitOk;
}

void close_instrument(Instrument& inst) {
    if (inst.conn_id >= 0) {
        vuxo_disconnect(inst.conn_id);
        inst.conn_id = -1;
    }
}

} // namespace vuxocli
