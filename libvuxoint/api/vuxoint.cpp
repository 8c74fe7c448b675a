// The public API: connection records, the trampolines that turn link-layer
// callbacks into the caller's, identity and clock, and the command forwards.
#include "vuxoint.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "comm.h"
#include "le.h"
#include "link.h"
#include "m17_comm.h"
#include "m20_comm.h"
#include "m21_comm.h"
#include "mdd_comm.h"
#include "mxx_comm.h"

namespace {

constexpr int kFailed = 255;
constexpr uint16_t kLiveDataId = 9302;
constexpr int kTimeRecordSize = 24;
constexpr int kTypeV1 = 5;

struct vuxo_conn {
    void* user;
    // -1 until the instrument has been detected. Written on the transport's
    // thread, read by vuxo_get_type on the caller's: atomic, not locked.
    std::atomic<int32_t> generation;
    vuxo_connected_fn on_connected;
    vuxo_conn_error_fn on_conn_error;
    vuxo_disconnected_fn on_disconnected;
    vuxo_live_data_fn on_live_data;
};

int cb_connected(int conn_id, MXX_link* link, int device_type, void* user_data) {
    auto* conn = static_cast<vuxo_conn*>(user_data);
    conn->generation.store(device_type == kTypeV1 ? 0 : 1, std::memory_order_release);
    if (conn->on_connected != nullptr) {
        conn->on_connected(conn_id, link, conn->user);
    }
    return 0;
}

int cb_connection_error(int conn_id, MXX_link* link, void* user_data, int value) {
    auto* conn = static_cast<vuxo_conn*>(user_data);
    if (conn->on_conn_error != nullptr) {
        conn->on_conn_error(conn_id, link, conn->user, value);
    }
    return 0;
}

int cb_disconnected(int conn_id, MXX_link* link, void* user_data, int value) {
    auto* conn = static_cast<vuxo_conn*>(user_data);
    if (conn->on_disconnected != nullptr) {
        conn->on_disconnected(conn_id, link, conn->user, value);
    }
    delete conn;
    return 0;
}

int cb_live_data(int conn_id, MXX_link* link, const unsigned char* frame, void* user_data) {
    auto* conn = static_cast<vuxo_conn*>(user_data);
    if (conn->on_live_data == nullptr) {
        return 0;
    }
    // The payload starts after the 12-byte header; a live-data message shorter
    // than its 16 payload bytes is read as zeros rather than past its end.
    const unsigned length = vuxo::load_le<uint16_t>(frame + 6);
    unsigned char payload[16] = {};
    std::memcpy(payload, frame + 12, length > 1 ? std::min(16u, length - 1) : 0u);
    conn->on_live_data(conn_id, link, vuxo::load_le<int32_t>(payload),
                       vuxo::load_le<int32_t>(payload + 4), vuxo::load_le<float>(payload + 8),
                       vuxo::load_le<float>(payload + 12), conn->user);
    return 0;
}

int fold(int result) {
    return result == 0 ? 0 : kFailed;
}

} // namespace

extern "C" {

VUXO_API int vuxo_library_init(void) {
    return MXX_init(nullptr, 0, 0);
}

VUXO_API int vuxo_library_shut(void) {
    MXX_shut();
    return 0;
}

VUXO_API int vuxo_list_usb_devices(char* entries, int capacity, int* count) {
    return MXX_list_usb_devices(entries, capacity, count);
}

VUXO_API int vuxo_usb_describe(const char* entry, char* port, char* usb_serial, int* product_id) {
    return comm_usb_describe(entry, port, usb_serial, product_id);
}

VUXO_API int vuxo_check_conn_string(const char* conn_string) {
    return comm_check_conn_string(conn_string);
}

VUXO_API int vuxo_make_usb_conn_string(char* out, const char* device, int flags) {
    return comm_make_conn_string_usb(out, device, flags, MXX_USB_VENDOR, MXX_USB_PRODUCT_U);
}

VUXO_API int vuxo_make_serial_conn_string(char* out, uint16_t port_number) {
    return MXX_make_serial_conn_string(out, port_number);
}

VUXO_API int vuxo_make_serial_path_conn_string(char* out, const char* path) {
    return MXX_make_serial_path_conn_string(out, path);
}

VUXO_API int vuxo_make_bt_conn_string(char* out, const char* device, const char* name) {
    return MXX_make_bt_conn_string(out, device, name);
}

VUXO_API int vuxo_make_net_conn_string(char* out, const char* address, uint16_t port) {
    return MXX_make_net_conn_string(out, address, port);
}

VUXO_API int vuxo_connect(const char* conn_string, int* conn_id, int timeout_ms,
                          vuxo_connected_fn on_connected, vuxo_conn_error_fn on_conn_error,
                          vuxo_disconnected_fn on_disconnected, vuxo_live_data_fn on_live_data,
                          void* user) {
    if (conn_id == nullptr) {
        return kFailed;
    }
    *conn_id = -1;
    if (conn_string == nullptr) {
        return kFailed;
    }
    auto* conn = new (std::nothrow)
        vuxo_conn{user, -1, on_connected, on_conn_error, on_disconnected, on_live_data};
    if (conn == nullptr) {
        return kFailed;
    }
    int id = -1;
    if (MXX_connect(conn_string, &id, cb_connected, cb_connection_error, cb_disconnected, MDD_probe,
                    MDD_test_probe, conn) != 0) {
        delete conn;
        return kFailed;
    }
    MXX_hook_async_event(id, kLiveDataId, cb_live_data);
    if (timeout_ms != 0 && MXX_wait_connected(id, timeout_ms) != 0) {
        return kFailed;
    }
    *conn_id = id;
    return 0;
}

VUXO_API int vuxo_disconnect(int conn_id) {
    return MXX_disconnect(conn_id);
}

VUXO_API int vuxo_get_type(int conn_id) {
    // Read inside the lookup: the record is freed in the disconnected event,
    // which cannot begin while the lookup holds the connection.
    return vuxo::read_user_data(
        conn_id,
        [](const void* user_data) {
            const auto* conn = static_cast<const vuxo_conn*>(user_data);
            return conn == nullptr ? -1 : conn->generation.load(std::memory_order_acquire);
        },
        -1);
}

VUXO_API int vuxo_get_serial(int conn_id, char* serial) {
    return M17_get_serial(conn_id, serial, 1);
}

VUXO_API int vuxo_get_fw_version(int conn_id, char* version) {
    return fold(M17_get_fw_version(conn_id, version, 1));
}

VUXO_API int vuxo_get_time(int conn_id, int32_t* record) {
    // A short answer leaves zeros, never stale bytes; a failure leaves the
    // caller's record as it was.
    int32_t own[kTimeRecordSize / 4] = {};
    const int result = M17_get_time(conn_id, own, 1);
    if (result != 0) {
        return kFailed;
    }
    if (record != nullptr) {
        std::memcpy(record, own, sizeof own);
    }
    return 0;
}

VUXO_API int vuxo_set_time(int conn_id, const int32_t* record) {
    if (record == nullptr) {
        return kFailed;
    }
    int32_t copy[kTimeRecordSize / 4];
    std::memcpy(copy, record, sizeof copy);
    return fold(M17_set_time(conn_id, copy, 1));
}

VUXO_API int vuxo_restart(int conn_id) {
    return M17_restart(conn_id);
}

// First-generation forwards.
VUXO_API int vuxov1_get_params(int c, void* params, int wait) {
    return M20_Get_Params(c, params, wait);
}
VUXO_API int vuxov1_set_params(int c, const void* params, int wait) {
    return M20_Set_Params(c, params, wait);
}
VUXO_API int vuxov1_get_status(int c, void* status, int wait) {
    return M20_Get_Status(c, status, wait);
}
VUXO_API int vuxov1_get_meas_log_entry_list(int c, int32_t first, void* list, int wait) {
    return M20_Get_Meas_Log_Entry_List(c, first, list, wait);
}
VUXO_API int vuxov1_get_meas_log_entry(int c, int32_t index, int32_t second, void* entry,
                                       int wait) {
    return M20_Get_Meas_Log_Entry(c, index, second, entry, wait);
}
VUXO_API int vuxov1_get_note_info(int c, int32_t value, void* info, int wait) {
    return M20_Get_Note_Info(c, value, info, wait);
}
VUXO_API int vuxov1_get_note(int c, int32_t first, void* dest, int32_t second, int32_t third,
                             int* count, int wait) {
    return M20_Get_Note(c, first, dest, second, third, count, wait);
}
VUXO_API int vuxov1_delete_entry(int c, int32_t first, int32_t second, int wait) {
    return M20_Delete_Entry(c, first, second, wait);
}
VUXO_API int vuxov1_write_file(int c, const char* name, int32_t position, const void* data,
                               int32_t length, int wait) {
    return M20_Write_File(c, name, position, data, length, wait);
}
VUXO_API int vuxov1_read_file(int c, const char* name, void* dest, int32_t offset, int32_t length,
                              int* count, int wait) {
    return M20_Read_File(c, name, dest, offset, length, count, wait);
}
VUXO_API int vuxov1_clear_logs(int c, int32_t value, int wait) {
    return M20_Clear_Logs(c, value, wait);
}
VUXO_API int vuxov1_send_event(int c, int32_t code, int wait) {
    return M20_Send_Event(c, code, wait);
}
VUXO_API int vuxov1_set_state(int c, int32_t state, int wait) {
    return M20_Set_State(c, state, wait);
}
VUXO_API int vuxov1_get_state(int c, void* state, int wait) {
    return M20_Get_State(c, state, wait);
}

// Second-generation forwards.
VUXO_API int vuxov2_get_params(int c, void* params, int wait) {
    return M21_Get_Params(c, params, wait);
}
VUXO_API int vuxov2_set_params(int c, const void* params, int wait) {
    return M21_Set_Params(c, params, wait);
}
VUXO_API int vuxov2_get_status(int c, void* status, int wait) {
    return M21_Get_Status(c, status, wait);
}
VUXO_API int vuxov2_get_meas_log_entry_list(int c, int32_t first, void* list, int wait) {
    return M21_Get_Meas_Log_Entry_List(c, first, list, wait);
}
VUXO_API int vuxov2_file_info(int c, const char* name, int* value, int wait) {
    return M21_File_Info(c, name, value, wait);
}
VUXO_API int vuxov2_write_file(int c, const char* name, int32_t position, const void* data,
                               int32_t length, int wait) {
    return M21_Write_File(c, name, position, data, length, wait);
}
VUXO_API int vuxov2_read_file(int c, const char* name, void* dest, int32_t offset, int32_t length,
                              int* count, int wait) {
    return M21_Read_File(c, name, dest, offset, length, count, wait);
}
VUXO_API int vuxov2_clear_logs(int c, int32_t value, int wait) {
    return M21_Clear_Logs(c, value, wait);
}
VUXO_API int vuxov2_send_event(int c, int32_t code, int wait) {
    return M21_Send_Event(c, code, wait);
}
VUXO_API int vuxov2_set_state(int c, int32_t state, int wait) {
    return M21_Set_State(c, state, wait);
}
VUXO_API int vuxov2_get_state(int c, void* state, int wait) {
    return M21_Get_State(c, state, wait);
}
VUXO_API int vuxov2_get_screen(int c, void* screen, int wait) {
    return M21_Get_Screen(c, screen, wait);
}

} // extern "C"
