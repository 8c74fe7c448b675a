#include "list_command.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "connect.h"
#include "exit_status.h"
#include "mxx_comm.h"
#include "result_text.h"
#include "shown_text.h"
#include "vuxoint.h"

namespace vuxocli {

namespace {

constexpr int kUsbCapacity = 32;
// An inquiry takes about ten seconds; the devices answer within it.
constexpr int kDiscoveryMs = 12000;

struct Found {
    std::string link; // "usb" or "bluetooth"
    std::string conn; // what to give the other subcommands as CONN
    std::string port; // USB: tty path; Bluetooth: address
    std::string usb_serial;
    int product = 0;
    std::string name; // Bluetooth
};

std::vector<Found> usb_instruments() {
    std::vector<char> list(static_cast<std::size_t>(kUsbCapacity) * VUXO_CONN_STRING_SIZE, 0);
    int count = 0;
    vuxo_list_usb_devices(list.data(), kUsbCapacity, &count);
    std::vector<Found> out;
    for (int i = 0; i < count && i < kUsbCapacity; ++i) {
        const char* entry = list.data() + static_cast<std::size_t>(i) * VUXO_CONN_STRING_SIZE;
        Found f;
        f.link = "usb";
        char port[VUXO_CONN_STRING_SIZE] = {};
        char serial[VUXO_CONN_STRING_SIZE] = {};
        if (vuxo_usb_describe(entry, port, serial, &f.product) != 0) {
            continue; // unplugged between the listing and the look
        }
        f.port = port;
        f.usb_serial = serial;
        // The USB serial number names the instrument wherever it is plugged in.
        f.conn = f.usb_serial.empty() ? f.port : "usb:" + f.usb_serial;
        out.push_back(std::move(f));
    }
    return out;
}

struct Discovery {
    std::mutex mu;
    std::vector<Found> found;
};

// On the discovery's own thread: only collects.
void on_bt_found(const char* address, const char* name, void* user) {
    auto& d = *static_cast<Discovery*>(user);
    Found f;
    f.link = "bluetooth";
    f.port = address != nullptr ? address : "";
    f.name = name != nullptr ? name : "";
    f.conn = "bt://" + f.port;
    std::lock_guard lock(d.mu);
    d.found.push_back(std::move(f));
}

// Bluetooth devices in range; false with the reason when none can be looked for.
bool bt_devices(std::vector<Found>* out, std::string* why) {
    Discovery d;
    int rc = MXX_bt_is_available();
    if (rc == 0) {
        rc = MXX_comm_bt_discover(on_bt_found, &d);
    }
    if (rc != 0) {
        *why = result_text(rc);
        return false;
    }
    if (MXX_comm_bt_discover_wait(kDiscoveryMs) != 0) {
        MXX_comm_bt_discover_cancel();
        MXX_comm_bt_discover_wait(kDiscoveryMs);
    }
    std::lock_guard lock(d.mu);
    *out = d.found;
    return true;
}

std::string product_text(int product) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x", product);
    return text;
}

void print(const std::vector<Found>& all, bool json) {
    if (json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const Found& f : all) {
            nlohmann::ordered_json j;
            j["link"] = shown(f.link);
            j["conn"] = shown(f.conn);
            if (f.link == "usb") {
                j["port"] = shown(f.port);
                j["usb_serial"] = shown(f.usb_serial);
                j["product"] = product_text(f.product);
            } else {
                j["address"] = shown(f.port);
                j["name"] = shown(f.name);
            }
            list.push_back(std::move(j));
        }
        std::printf("%s\n", list.dump().c_str());
        return;
    }
    for (const Found& f : all) {
        if (f.link == "usb") {
            std::printf("%s\tUSB serial %s\tproduct %s\t%s\n", f.port.c_str(),
                        f.usb_serial.empty() ? "-" : f.usb_serial.c_str(),
                        product_text(f.product).c_str(), f.conn.c_str());
        } else {
            std::printf("%s\t%s\t%s\n", f.port.c_str(), f.name.empty() ? "-" : f.name.c_str(),
                        f.conn.c_str());
        }
    }
}

} // namespace

CLI::App* add_list_command(CLI::App& app, ListOptions* opt) {
    CLI::App* sub = app.add_subcommand("list", "List the instruments on USB (and Bluetooth)");
    sub->add_flag("--bt", opt->bluetooth, "Also look for Bluetooth devices (takes about 12 s)");
    sub->add_flag("--json", opt->json, "Print one JSON array");
    sub->footer(
        "One line per instrument on USB: its port, USB serial number, product id and the\n"
        "CONN that names it (usb:SERIAL, which holds wherever it is plugged in). With --bt,\n"
        "then one line per Bluetooth device in range: address, name and bt://ADDRESS\n"
        "(pair an instrument first; see docs/guide.md). With --json, one array of objects\n"
        "(link, conn, and port, usb_serial, product or address, name).\n"
        "\n"
        "Exit status 0 when something was found, 3 when nothing was (a line on standard\n"
        "error says so).\n");
    return sub;
}

int run_list(const ListOptions& opt) {
    Library library;
    std::vector<Found> all = usb_instruments();
    const bool usb_found = !all.empty();
    if (!usb_found) {
        std::fprintf(stderr, "vuxoint: no instrument found on USB\n");
    }
    if (opt.bluetooth) {
        std::vector<Found> bt;
        std::string why;
        if (!bt_devices(&bt, &why)) {
            std::fprintf(stderr, "vuxoint: Bluetooth: cannot look for devices: %s\n", why.c_str());
        } else if (bt.empty()) {
            std::fprintf(stderr, "vuxoint: no Bluetooth device found\n");
        }
        all.insert(all.end(), bt.begin(), bt.end());
    }
    print(all, opt.json);
    std::fflush(stdout);
    return all.empty() ? kExitNoInstrument : kExitOk;
}

} // namespace vuxocli
