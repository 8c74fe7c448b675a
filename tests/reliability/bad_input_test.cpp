// Every exported function with bad input, over the real transport with the
// library started: connection ids that name nothing, null pointers where they
// are allowed, negative and oversize lengths and counts. Each row states the
// defined result, and guard bytes around every caller buffer show that nothing
// was written outside it (and, for a failed call, nothing inside it either).
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "guarded.h"
#include "m17_comm.h"
#include "m20_comm.h"
#include "m21_comm.h"
#include "mdd_comm.h"
#include "mxx_comm.h"
#include "vuxoint.h"

namespace {

using reliability::Buffers;

enum class Want {
    exact,    // the result equals value
    negative, // the transport's error, passed through
    nonzero,  // a failure of the transport's own choosing
    any,      // only the buffers are checked
};

struct Row {
    const char* name;
    std::function<int(int id, Buffers&)> call;
    Want want;
    int value = 0;
    // A failed call leaves every buffer as it was.
    bool untouched = true;
};

constexpr int kUnknownIds[] = {-1, 0, 4711, INT_MIN, INT_MAX};
constexpr int kRefused = -1;
constexpr int kFolded = 255;
constexpr std::size_t kConnString = VUXO_CONN_STRING_SIZE;

void check(const Row& row, int id) {
    Buffers bufs;
    const int result = row.call(id, bufs);
    SCOPED_TRACE(std::string(row.name) + " with id " + std::to_string(id) + " gave " +
                 std::to_string(result));
    switch (row.want) {
    case Want::exact:
        EXPECT_EQ(result, row.value);
        break;
    case Want::negative:
        EXPECT_LT(result, 0);
        EXPECT_NE(result, kRefused) << "-1 is the library's own refusal, not the transport's";
        break;
    case Want::nonzero:
        EXPECT_NE(result, 0);
        break;
    case Want::any:
        break;
    }
    EXPECT_EQ(bufs.overrun(), "");
    if (row.untouched) {
        EXPECT_TRUE(bufs.all_untouched()) << "a failed call wrote into a caller's buffer";
    }
}

// Commands on a connection that does not exist: the write fails, so every
// function that passes results through returns the transport's error, with
// and without waiting, and the optional outputs may be null.
std::vector<Row> unknown_connection_rows() {
    const Want neg = Want::negative;
    return {
        {"MXX_send_cmd",
         [](int id, Buffers& b) {
             return MXX_send_cmd(id, 8201, nullptr, 0, b.get(64), 64, b.word(), b.word(), b.word(),
                                 50, 1);
         },
         neg},
        {"MXX_send_cmd no outputs",
         [](int id, Buffers&) {
             return MXX_send_cmd(id, 8201, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, 50,
                                 1);
         },
         neg},
        {"MXX_send_cmd no wait",
         [](int id, Buffers& b) {
             return MXX_send_cmd(id, 8201, b.get(4), 4, nullptr, 0, nullptr, nullptr, nullptr, 50,
                                 0);
         },
         neg, 0, false},
        {"M17_get_fw_version",
         [](int id, Buffers& b) { return M17_get_fw_version(id, b.text(8), 1); }, neg, 0, false},
        {"M17_get_fw_version null",
         [](int id, Buffers&) { return M17_get_fw_version(id, nullptr, 1); }, neg},
        {"M17_get_time", [](int id, Buffers& b) { return M17_get_time(id, b.get(24), 1); }, neg},
        {"M17_set_time", [](int id, Buffers& b) { return M17_set_time(id, b.get(24), 1); }, neg},
        {"M17_get_serial", [](int id, Buffers& b) { return M17_get_serial(id, b.text(9), 1); }, neg,
         0, false},
        {"M17_get_serial null", [](int id, Buffers&) { return M17_get_serial(id, nullptr, 1); },
         neg},
        {"M17_get_model_rev", [](int id, Buffers& b) { return M17_get_model_rev(id, b.get(4), 1); },
         neg},
        {"M17_restart", [](int id, Buffers&) { return M17_restart(id); }, neg},
        {"M17_erase_ext_flash",
         [](int id, Buffers& b) { return M17_erase_ext_flash(id, b.get(4), 1); }, neg},
        {"M17_read_ext_flash",
         [](int id, Buffers& b) { return M17_read_ext_flash(id, 0xFFFF, b.get(64), 1); }, neg},
        {"M17_write_ext_flash empty",
         [](int id, Buffers&) { return M17_write_ext_flash(id, 0, nullptr, 0, 1); }, neg},
        {"M17_write_ext_flash largest",
         [](int id, Buffers& b) { return M17_write_ext_flash(id, 0, b.get(65532), 65532, 1); },
         neg},
        {"M17_flash_FW", [](int id, Buffers&) { return M17_flash_FW(id, -1, INT_MAX, 1); }, neg},
        {"M17_set_serial", [](int id, Buffers& b) { return M17_set_serial(id, b.text(8), 1); },
         neg},
        {"M17_set_model_rev", [](int id, Buffers&) { return M17_set_model_rev(id, -1, 0); }, neg},
        {"M17_probe", [](int id, Buffers&) { return M17_probe(id, -1, nullptr, -1); }, neg},
        {"M20_probe", [](int id, Buffers&) { return M20_probe(id, 0, nullptr, 0); }, neg},
        {"M21_probe", [](int id, Buffers&) { return M21_probe(id, 0, nullptr, 0); }, neg},
        {"MDD_probe", [](int id, Buffers&) { return MDD_probe(id, 0, nullptr, 0); }, neg},
        {"M20_Get_Params", [](int id, Buffers& b) { return M20_Get_Params(id, b.get(4096), 1); },
         neg},
        {"M20_Set_Params", [](int id, Buffers& b) { return M20_Set_Params(id, b.get(96), 1); },
         neg},
        {"M20_Get_Status", [](int id, Buffers& b) { return M20_Get_Status(id, b.get(20), 1); },
         neg},
        {"M20_Get_Meas_Log_Entry_List",
         [](int id, Buffers& b) { return M20_Get_Meas_Log_Entry_List(id, -1, b.get(640), 1); },
         neg},
        {"M20_Get_Meas_Log_Entry",
         [](int id, Buffers& b) { return M20_Get_Meas_Log_Entry(id, INT_MIN, -1, b.get(828), 1); },
         neg},
        {"M20_Clear_Logs", [](int id, Buffers&) { return M20_Clear_Logs(id, -1, 1); }, neg},
        {"M20_Get_Note_Info",
         [](int id, Buffers& b) { return M20_Get_Note_Info(id, -1, b.get(4), 1); }, neg},
        {"M20_Get_Note",
         [](int id, Buffers& b) { return M20_Get_Note(id, -1, b.get(3996), -1, -1, b.word(), 1); },
         neg},
        {"M20_Get_Note null count",
         [](int id, Buffers& b) { return M20_Get_Note(id, 0, b.get(3996), 0, 0, nullptr, 1); },
         neg},
        {"M20_Delete_Entry", [](int id, Buffers&) { return M20_Delete_Entry(id, -1, -1, 1); }, neg},
        {"M20_Write_File largest, null data",
         [](int id, Buffers&) { return M20_Write_File(id, nullptr, -1, nullptr, 4056, 1); }, neg},
        {"M20_Read_File negative length",
         [](int id, Buffers& b) { return M20_Read_File(id, "x", b.get(0), 0, -5, b.word(), 1); },
         neg},
        {"M20_Read_File null name, count",
         [](int id, Buffers& b) {
             return M20_Read_File(id, nullptr, b.get(16), -1, 16, nullptr, 1);
         },
         neg},
        {"M20_Measure", [](int id, Buffers& b) { return M20_Measure(id, b.get(4), 1); }, neg},
        {"M20_Memory_Usage",
         [](int id, Buffers& b) { return M20_Memory_Usage(id, b.word(), b.text(0), 0, 1); }, neg},
        {"M20_Send_Event", [](int id, Buffers&) { return M20_Send_Event(id, INT_MIN, 1); }, neg},
        {"M20_Set_State", [](int id, Buffers&) { return M20_Set_State(id, -1, 1); }, neg},
        {"M20_Get_State", [](int id, Buffers& b) { return M20_Get_State(id, b.get(4), 1); }, neg},
        {"M20_set_model_rev", [](int id, Buffers&) { return M20_set_model_rev(id, 0, 1); }, neg},
        {"M20_get_model_rev", [](int id, Buffers& b) { return M20_get_model_rev(id, b.get(4), 1); },
         neg},
        {"M21_Get_Params", [](int id, Buffers& b) { return M21_Get_Params(id, b.get(4319), 1); },
         neg},
        {"M21_Set_Params", [](int id, Buffers& b) { return M21_Set_Params(id, b.get(319), 1); },
         neg},
        {"M21_Get_Status", [](int id, Buffers& b) { return M21_Get_Status(id, b.get(20), 1); },
         neg},
        {"M21_Get_Meas_Log_Entry_List",
         [](int id, Buffers& b) { return M21_Get_Meas_Log_Entry_List(id, INT_MAX, b.get(160), 1); },
         neg},
        {"M21_Clear_Logs", [](int id, Buffers&) { return M21_Clear_Logs(id, 0, 1); }, neg},
        {"M21_File_Info null value",
         [](int id, Buffers&) { return M21_File_Info(id, "meas/last.dat", nullptr, 1); }, neg},
        {"M21_File_Info",
         [](int id, Buffers& b) { return M21_File_Info(id, nullptr, b.word(), 1); }, neg},
        {"M21_Write_File empty",
         [](int id, Buffers&) { return M21_Write_File(id, "", 0, nullptr, 0, 1); }, neg},
        {"M21_Read_File null destination",
         [](int id, Buffers& b) {
             return M21_Read_File(id, "meas/last.dat", nullptr, 0, 4063, b.word(), 1);
         },
         neg},
        {"M21_Measure", [](int id, Buffers& b) { return M21_Measure(id, b.get(4), 1); }, neg},
        {"M21_Memory_Usage",
         [](int id, Buffers& b) { return M21_Memory_Usage(id, b.word(), b.text(32), 32, 1); }, neg},
        {"M21_Send_Event", [](int id, Buffers&) { return M21_Send_Event(id, 0, 0); }, neg},
        {"M21_Set_State", [](int id, Buffers&) { return M21_Set_State(id, 0, 1); }, neg},
        {"M21_Get_State", [](int id, Buffers& b) { return M21_Get_State(id, b.get(4), 1); }, neg},
        {"M21_Get_Screen", [](int id, Buffers& b) { return M21_Get_Screen(id, b.get(1060), 1); },
         neg},
        {"vuxo_get_serial", [](int id, Buffers& b) { return vuxo_get_serial(id, b.text(9)); }, neg,
         0, false},
        {"vuxo_restart", [](int id, Buffers&) { return vuxo_restart(id); }, neg},
        {"vuxo_disconnect", [](int id, Buffers&) { return vuxo_disconnect(id); }, neg},
        {"vuxov1_get_params",
         [](int id, Buffers& b) { return vuxov1_get_params(id, b.get(4096), 1); }, neg},
        {"vuxov1_set_params",
         [](int id, Buffers& b) { return vuxov1_set_params(id, b.get(96), 0); }, neg},
        {"vuxov1_get_status",
         [](int id, Buffers& b) { return vuxov1_get_status(id, b.get(20), 1); }, neg},
        {"vuxov1_get_meas_log_entry_list",
         [](int id, Buffers& b) { return vuxov1_get_meas_log_entry_list(id, -1, b.get(640), 1); },
         neg},
        {"vuxov1_get_meas_log_entry",
         [](int id, Buffers& b) { return vuxov1_get_meas_log_entry(id, -1, -1, b.get(828), 1); },
         neg},
        {"vuxov1_get_note_info",
         [](int id, Buffers& b) { return vuxov1_get_note_info(id, -1, b.get(4), 1); }, neg},
        {"vuxov1_get_note",
         [](int id, Buffers& b) { return vuxov1_get_note(id, 0, b.get(3996), 0, 0, nullptr, 1); },
         neg},
        {"vuxov1_delete_entry", [](int id, Buffers&) { return vuxov1_delete_entry(id, 0, 0, 1); },
         neg},
        {"vuxov1_write_file",
         [](int id, Buffers& b) { return vuxov1_write_file(id, "f", 0, b.get(4056), 4056, 1); },
         neg},
        {"vuxov1_read_file",
         [](int id, Buffers& b) {
             return vuxov1_read_file(id, "f", b.get(100), 0, 100, b.word(), 1);
         },
         neg},
        {"vuxov1_clear_logs", [](int id, Buffers&) { return vuxov1_clear_logs(id, 0, 1); }, neg},
        {"vuxov1_send_event", [](int id, Buffers&) { return vuxov1_send_event(id, 133, 1); }, neg},
        {"vuxov1_set_state", [](int id, Buffers&) { return vuxov1_set_state(id, 1, 1); }, neg},
        {"vuxov1_get_state", [](int id, Buffers& b) { return vuxov1_get_state(id, b.get(4), 1); },
         neg},
        {"vuxov2_get_params",
         [](int id, Buffers& b) { return vuxov2_get_params(id, b.get(4319), 1); }, neg},
        {"vuxov2_set_params",
         [](int id, Buffers& b) { return vuxov2_set_params(id, b.get(319), 1); }, neg},
        {"vuxov2_get_status",
         [](int id, Buffers& b) { return vuxov2_get_status(id, b.get(20), 1); }, neg},
        {"vuxov2_get_meas_log_entry_list",
         [](int id, Buffers& b) { return vuxov2_get_meas_log_entry_list(id, 0, b.get(160), 1); },
         neg},
        {"vuxov2_file_info", [](int id, Buffers&) { return vuxov2_file_info(id, "x", nullptr, 1); },
         neg},
        {"vuxov2_write_file",
         [](int id, Buffers&) { return vuxov2_write_file(id, "x", 0, nullptr, 0, 1); }, neg},
        {"vuxov2_read_file",
         [](int id, Buffers& b) { return vuxov2_read_file(id, "x", b.get(10), 0, 10, nullptr, 1); },
         neg},
        {"vuxov2_clear_logs", [](int id, Buffers&) { return vuxov2_clear_logs(id, 0, 1); }, neg},
        {"vuxov2_send_event", [](int id, Buffers&) { return vuxov2_send_event(id, 256, 1); }, neg},
        {"vuxov2_set_state", [](int id, Buffers&) { return vuxov2_set_state(id, 0, 1); }, neg},
        {"vuxov2_get_state", [](int id, Buffers& b) { return vuxov2_get_state(id, b.get(4), 1); },
         neg},
        {"vuxov2_get_screen",
         [](int id, Buffers& b) { return vuxov2_get_screen(id, b.get(1060), 1); }, neg},
        // Folded into 255, whatever the transport said.
        {"vuxo_get_fw_version",
         [](int id, Buffers& b) { return vuxo_get_fw_version(id, b.text(8)); }, Want::exact,
         kFolded, false},
        {"vuxo_get_time",
         [](int id, Buffers& b) {
             return vuxo_get_time(id, reinterpret_cast<int32_t*>(b.get(24)));
         },
         Want::exact, kFolded},
        {"vuxo_set_time",
         [](int id, Buffers& b) {
             return vuxo_set_time(id, reinterpret_cast<const int32_t*>(b.get(24)));
         },
         Want::exact, kFolded},
        // Lookups that find nothing.
        {"vuxo_get_type", [](int id, Buffers&) { return vuxo_get_type(id); }, Want::exact, -1},
        {"MXX_get_user_data",
         [](int id, Buffers&) { return MXX_get_user_data(id) == nullptr ? 0 : 1; }, Want::exact, 0},
        {"MXX_set_cmd_num_try", [](int id, Buffers&) { return MXX_set_cmd_num_try(id, -5); },
         Want::exact, 0},
        {"MXX_hook_async_event",
         [](int id, Buffers&) { return MXX_hook_async_event(id, 0xFFFF, nullptr); }, Want::exact,
         0},
        {"MXX_wait_connected", [](int id, Buffers&) { return MXX_wait_connected(id, 50); },
         Want::nonzero},
        {"MXX_disconnect", [](int id, Buffers&) { return MXX_disconnect(id); }, neg},
        {"MXX_get_conn_state_id", [](int id, Buffers&) { return MXX_get_conn_state_id(id); },
         Want::exact, 0},
    };
}

// Arguments the library refuses itself, before anything is sent: -1.
std::vector<Row> refusal_rows() {
    const Want ex = Want::exact;
    return {
        {"MXX_send_cmd negative request",
         [](int id, Buffers& b) {
             return MXX_send_cmd(id, 1, b.get(4), -1, b.get(8), 8, b.word(), b.word(), b.word(), 50,
                                 1);
         },
         ex, kRefused},
        {"MXX_send_cmd request past the frame",
         [](int id, Buffers& b) {
             return MXX_send_cmd(id, 1, b.get(65535), 65535, nullptr, 0, nullptr, nullptr, nullptr,
                                 50, 1);
         },
         ex, kRefused},
        {"MXX_send_cmd INT_MAX request",
         [](int id, Buffers& b) {
             return MXX_send_cmd(id, 1, b.get(1), INT_MAX, nullptr, 0, nullptr, nullptr, nullptr,
                                 50, 0);
         },
         ex, kRefused},
        {"MXX_send_cmd null request with a length",
         [](int id, Buffers&) {
             return MXX_send_cmd(id, 1, nullptr, 1, nullptr, 0, nullptr, nullptr, nullptr, 50, 1);
         },
         ex, kRefused},
        {"M20_Write_File length -1",
         [](int id, Buffers& b) { return M20_Write_File(id, "f", 0, b.get(16), -1, 1); }, ex,
         kRefused},
        {"M20_Write_File length 4057",
         [](int id, Buffers& b) { return M20_Write_File(id, "f", 0, b.get(4057), 4057, 1); }, ex,
         kRefused},
        {"M20_Write_File INT_MIN",
         [](int id, Buffers&) { return M20_Write_File(id, "f", 0, nullptr, INT_MIN, 0); }, ex,
         kRefused},
        {"M21_Write_File length -1",
         [](int id, Buffers& b) { return M21_Write_File(id, "f", 0, b.get(16), -1, 1); }, ex,
         kRefused},
        {"M21_Write_File INT_MAX",
         [](int id, Buffers& b) { return M21_Write_File(id, "f", 0, b.get(16), INT_MAX, 0); }, ex,
         kRefused},
        {"vuxov1_write_file 4057",
         [](int id, Buffers& b) { return vuxov1_write_file(id, "f", 0, b.get(4057), 4057, 1); }, ex,
         kRefused},
        {"vuxov2_write_file -4056",
         [](int id, Buffers&) { return vuxov2_write_file(id, "f", 0, nullptr, -4056, 1); }, ex,
         kRefused},
        {"M17_write_ext_flash 65533",
         [](int id, Buffers& b) { return M17_write_ext_flash(id, 0, b.get(65533), 65533, 1); }, ex,
         kRefused},
        {"M17_write_ext_flash UINT32_MAX",
         [](int id, Buffers& b) { return M17_write_ext_flash(id, 0, b.get(1), UINT32_MAX, 1); }, ex,
         kRefused},
        {"M17_write_ext_flash null data",
         [](int id, Buffers&) { return M17_write_ext_flash(id, 0, nullptr, 1, 1); }, ex, kRefused},
        {"M20_Memory_Usage null value",
         [](int id, Buffers& b) { return M20_Memory_Usage(id, nullptr, b.text(16), 16, 1); }, ex,
         kRefused},
        {"M20_Memory_Usage null text",
         [](int id, Buffers& b) { return M20_Memory_Usage(id, b.word(), nullptr, 16, 1); }, ex,
         kRefused},
        {"M21_Memory_Usage null both",
         [](int id, Buffers&) { return M21_Memory_Usage(id, nullptr, nullptr, SIZE_MAX, 1); }, ex,
         kRefused},
    };
}

// Functions that name no connection: strings, lists, setup, detection.
std::vector<Row> connectionless_rows() {
    const std::string long_text(500, 'x');
    static const unsigned char kHeaderOnly[12] = {'B', 'R', 'N', 'O', 0x2F, 0x23, 0, 0, 0, 0, 0, 0};
    return {
        {"MXX_connect empty",
         [](int, Buffers& b) {
             return MXX_connect("", b.word(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
         },
         Want::exact, kRefused},
        {"MXX_connect null string",
         [](int, Buffers& b) {
             return MXX_connect(nullptr, b.word(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr);
         },
         Want::exact, kRefused},
        {"vuxo_connect empty",
         [](int, Buffers& b) {
             int* id = b.word();
             *id = 1234;
             const int r = vuxo_connect("", id, 100, nullptr, nullptr, nullptr, nullptr, nullptr);
             return r == kFolded && *id == -1 ? r : -999;
         },
         Want::exact, kFolded, false},
        {"MXX_make_usb_conn_string empty",
         [](int, Buffers& b) { return MXX_make_usb_conn_string(b.text(kConnString), "", 0); },
         Want::exact, kRefused},
        {"MXX_make_usb_conn_string three letters",
         [](int, Buffers& b) { return MXX_make_usb_conn_string(b.text(kConnString), "USB", 0); },
         Want::exact, kRefused},
        {"MXX_make_usb_conn_string lower case",
         [](int, Buffers& b) {
             return MXX_make_usb_conn_string(b.text(kConnString), "usbf/dev/ttyACM0", 0);
         },
         Want::exact, kRefused},
        {"MXX_make_usb_conn_string too long",
         [long_text](int, Buffers& b) {
             return MXX_make_usb_conn_string(b.text(kConnString), ("USBU" + long_text).c_str(), 0);
         },
         Want::any, 0, false},
        {"vuxo_make_usb_conn_string too long",
         [long_text](int, Buffers& b) {
             return vuxo_make_usb_conn_string(b.text(kConnString), long_text.c_str(), -1);
         },
         Want::any, 0, false},
        {"vuxo_make_serial_conn_string largest port",
         [](int, Buffers& b) { return vuxo_make_serial_conn_string(b.text(kConnString), 65535); },
         Want::any, 0, false},
        {"vuxo_make_serial_path_conn_string too long",
         [long_text](int, Buffers& b) {
             return vuxo_make_serial_path_conn_string(b.text(kConnString),
                                                      ("/dev/" + long_text).c_str());
         },
         Want::any, 0, false},
        {"vuxo_make_bt_conn_string too long",
         [long_text](int, Buffers& b) {
             return vuxo_make_bt_conn_string(b.text(kConnString), long_text.c_str(),
                                             long_text.c_str());
         },
         Want::any, 0, false},
        {"vuxo_make_net_conn_string too long",
         [long_text](int, Buffers& b) {
             return vuxo_make_net_conn_string(b.text(kConnString), long_text.c_str(), 0);
         },
         Want::any, 0, false},
        {"MXX_make_net_conn_string too long",
         [long_text](int, Buffers& b) {
             return MXX_make_net_conn_string(b.text(kConnString), long_text.c_str(), 65535);
         },
         Want::any, 0, false},
        {"MXX_make_serial_conn_string",
         [](int, Buffers& b) { return MXX_make_serial_conn_string(b.text(kConnString), 0); },
         Want::any, 0, false},
        {"MXX_make_serial_path_conn_string",
         [long_text](int, Buffers& b) {
             return MXX_make_serial_path_conn_string(b.text(kConnString), long_text.c_str());
         },
         Want::any, 0, false},
        {"MXX_make_bt_conn_string",
         [long_text](int, Buffers& b) {
             return MXX_make_bt_conn_string(b.text(kConnString), "", long_text.c_str());
         },
         Want::any, 0, false},
        {"vuxo_list_usb_devices no room",
         [](int, Buffers& b) {
             int* count = b.word();
             const int r = vuxo_list_usb_devices(b.text(0), 0, count);
             return *count == 0 ? r : -999;
         },
         Want::any, 0, false},
        {"vuxo_list_usb_devices negative capacity",
         [](int, Buffers& b) {
             int* count = b.word();
             const int r = vuxo_list_usb_devices(b.text(0), -3, count);
             return *count <= 0 ? r : -999;
         },
         Want::any, 0, false},
        {"MXX_list_usb_devices one entry",
         [](int, Buffers& b) { return MXX_list_usb_devices(b.text(128), 1, b.word()); }, Want::any,
         0, false},
        {"MXX_idle_wait without a callback", [](int, Buffers&) { return MXX_idle_wait(1, 65537); },
         Want::exact, 0},
        {"MXX_bt_is_available", [](int, Buffers&) { return MXX_bt_is_available(); }, Want::any},
        {"MXX_comm_bt_discover_cancel", [](int, Buffers&) { return MXX_comm_bt_discover_cancel(); },
         Want::any},
        {"MXX_comm_bt_discover_wait", [](int, Buffers&) { return MXX_comm_bt_discover_wait(0); },
         Want::any},
        // Detection on the shortest frames: a header alone carries no payload
        // byte, so nothing past its twelve bytes may be read (exact-size copies).
        {"MDD_test_probe header only",
         [](int, Buffers& b) {
             unsigned char* f = b.get(12);
             std::memcpy(f, kHeaderOnly, 12);
             return MDD_test_probe(1, f, nullptr, 0);
         },
         Want::exact, 0, false},
        {"M17_test_probe header only",
         [](int, Buffers& b) {
             unsigned char* f = b.get(12);
             std::memcpy(f, kHeaderOnly, 12);
             return M17_test_probe(1, f, b.word(), 0) == 1 ? 1 : 0;
         },
         Want::any, 0, false},
        {"M20_test_probe header only",
         [](int, Buffers& b) {
             unsigned char* f = b.get(12);
             std::memcpy(f, kHeaderOnly, 12);
             return M20_test_probe(1, f, b.word(), 0);
         },
         Want::exact, 0, false},
        {"M21_test_probe header only, unknown id",
         [](int, Buffers& b) {
             unsigned char* f = b.get(12);
             std::memcpy(f, kHeaderOnly, 12);
             return M21_test_probe(INT_MIN, f, b.word(), 0);
         },
         Want::exact, 0, false},
    };
}

class BadInput : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_NE(vuxo_library_init(), -1); }
    static void TearDownTestSuite() { EXPECT_EQ(vuxo_library_shut(), 0); }
};

TEST_F(BadInput, UnknownConnections) {
    for (const Row& row : unknown_connection_rows()) {
        for (int id : kUnknownIds) {
            check(row, id);
        }
    }
}

TEST_F(BadInput, RefusedArguments) {
    for (const Row& row : refusal_rows()) {
        for (int id : kUnknownIds) {
            check(row, id);
        }
    }
}

TEST_F(BadInput, WithoutConnection) {
    for (const Row& row : connectionless_rows()) {
        check(row, -1);
    }
}

// Connection strings built from oversized texts stay terminated in 128 bytes.
TEST_F(BadInput, ConnectionStringsStayTerminated) {
    const std::string long_text(1000, 'y');
    Buffers b;
    char* out = b.text(kConnString);
    if (vuxo_make_net_conn_string(out, long_text.c_str(), 1) == 0) {
        EXPECT_NE(std::memchr(out, 0, kConnString), nullptr);
    }
    EXPECT_EQ(b.overrun(), "");
}

} // namespace
