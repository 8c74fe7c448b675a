// vuxoint-test: connects to one instrument, prints what it is, downloads and prints
// its measurement log, waits for the next measurement stored on it and prints that.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "command_error.h"
#include "download.h"
#include "events.h"
#include "options.h"
#include "program_io.h"
#include "stop_signals.h"
#include "vuxoint.h"

namespace {

using namespace vuxotest;

constexpr int kUsbListEntries = 32;
constexpr int kConnectTimeoutMs = 5000;

using Conn_string = std::array<char, VUXO_CONN_STRING_SIZE>;

// Fills `conn` with the first USB instrument's connection string; false when none.
bool choose_usb(Conn_string& conn) {
    std::vector<char> list(static_cast<std::size_t>(kUsbListEntries) * VUXO_CONN_STRING_SIZE, 0);
    int count = 0;
    vuxo_list_usb_devices(list.data(), kUsbListEntries, &count);
    if (count <= 0) {
        std::puts("No device found!");
        return false;
    }
    std::puts("Found devices:");
    for (int i = 0; i < std::min(count, kUsbListEntries); ++i) {
        const char* entry = list.data() + static_cast<std::size_t>(i) * VUXO_CONN_STRING_SIZE;
        std::printf("   %.127s\n", entry);
    }
    std::strncpy(conn.data(), list.data(), conn.size() - 1);
    std::puts("Connecting to USB...");
    return true;
}

// Fills `conn` for the link the command line names; false when no USB instrument.
bool choose_instrument(const Options& opt, Conn_string& conn) {
    switch (opt.kind) {
    case Link_kind::bluetooth:
        std::printf("Connecting to Bluetooth (%s)...\n", opt.target.c_str());
        vuxo_make_bt_conn_string(conn.data(), opt.target.c_str(), "");
        break;
    case Link_kind::net:
        std::printf("Connecting to network (%s)...\n", opt.target.c_str());
        vuxo_make_net_conn_string(conn.data(), opt.host.c_str(), opt.port);
        break;
    case Link_kind::serial:
        std::printf("Connecting to serial port (%s)...\n", opt.target.c_str());
        vuxo_make_serial_path_conn_string(conn.data(), opt.target.c_str());
        break;
    default:
        return choose_usb(conn);
    }
    conn.back() = '\0';
    std::printf("%s\n", conn.data());
    return true;
}

const char* generation_name(int generation) {
    switch (generation) {
    case 0:
        return "VUXO V1";
    case 1:
        return "VUXO V2";
    default:
        return "Unknown!";
    }
}

void disp_fw_version(int conn_id) {
    std::array<char, 32> scratch{};
    const int rc = vuxo_get_fw_version(conn_id, scratch.data());
    if (rc != 0) {
        print_command_error(stdout, "disp_fw_version", rc);
        return;
    }
    // Eight characters fill the field without a terminating zero.
    std::printf("FW version:%.8s\n", scratch.data());
}

void disp_serial_no(int conn_id) {
    std::array<char, 32> scratch{};
    const int rc = vuxo_get_serial(conn_id, scratch.data());
    if (rc != 0) {
        print_command_error(stdout, "disp_serial_no", rc);
        return;
    }
    std::printf("Serial No:%s\n", scratch.data());
}

void disp_time(int conn_id) {
    std::array<int32_t, 6> time{};
    const int rc = vuxo_get_time(conn_id, time.data());
    if (rc != 0) {
        print_command_error(stdout, "disp_time", rc);
        return;
    }
    std::printf("Date:%d/%d/%d\n", time[2], time[1], time[0]);
    std::printf("Time:%d:%.2d:%.2d\n", time[3], time[4], time[5]);
}

void run_connected(int conn_id) {
    std::puts("\n\nDevice connected.\n");
    std::printf("Device: %s\n", generation_name(vuxo_get_type(conn_id)));
    disp_fw_version(conn_id);
    disp_serial_no(conn_id);
    disp_time(conn_id);
    std::puts("\n");

    const int log_generation = vuxo_get_type(conn_id);
    if (log_generation == 0) {
        download_all_meas_v1(stdout, conn_id);
    } else if (log_generation == 1) {
        download_all_meas_v2(stdout, conn_id);
    }

    const int32_t index = wait_for_new_record(stdout);
    const int new_generation = vuxo_get_type(conn_id);
    if (new_generation == 0) {
        download_meas_v1(stdout, conn_id, index);
    } else if (new_generation == 1) {
        download_meas_v2(stdout, conn_id, index);
    }

    vuxo_disconnect(conn_id);
    std::puts("\n\nDevice disconnected.");
}

} // namespace

int main(int argc, char** argv) {
    vuxo::set_binary_stdout();
    const Options opt = parse_options(argc, argv);
    if (opt.kind == Link_kind::help) {
        print_usage(stdout, argv[0]);
        return 0;
    }
    if (opt.kind == Link_kind::version) {
        std::printf("vuxoint-test %s\n", VUXO_VERSION);
        return 0;
    }
    if (opt.kind == Link_kind::bad) {
        print_usage(stderr, argv[0]);
        return 2;
    }

    watch_stop_signals();
    vuxo_library_init();
    Conn_string conn{};
    if (!choose_instrument(opt, conn)) {
        return -1;
    }
    int conn_id = -1;
    if (vuxo_connect(conn.data(), &conn_id, kConnectTimeoutMs, event_connected,
                     event_connection_error, event_disconnected, event_live_data, nullptr) != 0) {
        std::puts("Device connection error!");
    } else {
        run_connected(conn_id);
    }
    vuxo_library_shut();
    return 0;
}
