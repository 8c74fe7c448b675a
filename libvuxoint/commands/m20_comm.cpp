// First-generation (V1) command set. Its second-generation twins in
// m21_comm.cpp share command numbers and layouts with shorter time-outs.
#include "m20_comm.h"

#include <array>

#include "command.h"
#include "m17_comm.h"
#include "twin_commands.h"

using vuxo::Command;

namespace {

// clang-format off
//                                        number  time-out ms  answer capacity
constexpr Command kGetParams            {8201,    2000,        4096};
constexpr Command kSetParams            {8202,    2000,        0};
constexpr Command kGetStatus            {8203,    2000,        20};
constexpr Command kGetMeasLogEntryList  {8204,    5000,        640};  // 128 entries of 5 bytes
constexpr Command kGetMeasLogEntry      {8205,    5000,        828};
constexpr Command kClearLogs            {8206,    2000,        0};
constexpr Command kGetNoteInfo          {8207,    2000,        4};
constexpr Command kGetNote              {8208,    2000,        vuxo::kChunkAnswerSize};
constexpr Command kDeleteEntry          {8209,    2000,        0};
constexpr Command kWriteFile            {8210,    2000,        0};
constexpr Command kReadFile             {8211,    2000,        vuxo::kChunkAnswerSize};
constexpr Command kMeasure              {8212,    2000,        4};
constexpr Command kMemoryUsage          {8016,    2000,        vuxo::kMemoryAnswerSize};
constexpr Command kSendEvent            {8022,    2000,        0};
constexpr Command kSetState             {8023,    2000,        0};
constexpr Command kGetState             {8024,    2000,        4};
constexpr Command kSetModelRev          {8105,    2000,        0};
constexpr Command kGetModelRev          {8008,    2000,        4};
// clang-format on

constexpr int kParamsSize = 96;

} // namespace

extern "C" {

VUXO_API int M20_Get_Params(int conn_id, void* params, int wait) {
    return vuxo::send(conn_id, kGetParams, nullptr, 0, params, wait);
}

VUXO_API int M20_Set_Params(int conn_id, const void* params, int wait) {
    return vuxo::send(conn_id, kSetParams, params, kParamsSize, nullptr, wait);
}

VUXO_API int M20_Get_Status(int conn_id, void* status, int wait) {
    return vuxo::send(conn_id, kGetStatus, nullptr, 0, status, wait);
}

VUXO_API int M20_Get_Meas_Log_Entry_List(int conn_id, int32_t first, void* list, int wait) {
    return vuxo::send_values(conn_id, kGetMeasLogEntryList, std::array{first}, list, wait);
}

VUXO_API int M20_Get_Meas_Log_Entry(int conn_id, int32_t index, int32_t second, void* entry,
                                    int wait) {
    return vuxo::send_values(conn_id, kGetMeasLogEntry, std::array{index, second}, entry, wait);
}

VUXO_API int M20_Clear_Logs(int conn_id, int32_t value, int wait) {
    return vuxo::send_values(conn_id, kClearLogs, std::array{value}, nullptr, wait);
}

VUXO_API int M20_Get_Note_Info(int conn_id, int32_t value, void* info, int wait) {
    return vuxo::send_values(conn_id, kGetNoteInfo, std::array{value}, info, wait);
}

VUXO_API int M20_Get_Note(int conn_id, int32_t first, void* dest, int32_t second, int32_t third,
                          int* count, int wait) {
    return vuxo::read_note(conn_id, kGetNote, first, dest, second, third, count, wait);
}

VUXO_API int M20_Delete_Entry(int conn_id, int32_t first, int32_t second, int wait) {
    return vuxo::send_values(conn_id, kDeleteEntry, std::array{first, second}, nullptr, wait);
}

VUXO_API int M20_Write_File(int conn_id, const char* name, int32_t position, const void* data,
                            int32_t length, int wait) {
    return vuxo::write_file(conn_id, kWriteFile, name, position, data, length, wait);
}

VUXO_API int M20_Read_File(int conn_id, const char* name, void* dest, int32_t offset,
                           int32_t length, int* count, int wait) {
    return vuxo::read_file(conn_id, kReadFile, name, dest, offset, length, count, wait);
}

VUXO_API int M20_Measure(int conn_id, void* answer, int wait) {
    return vuxo::send(conn_id, kMeasure, nullptr, 0, answer, wait);
}

VUXO_API int M20_Memory_Usage(int conn_id, int* value, char* text, size_t text_size, int wait) {
    return vuxo::memory_usage(conn_id, kMemoryUsage, value, text, text_size, wait);
}

VUXO_API int M20_Send_Event(int conn_id, int32_t code, int wait) {
    return vuxo::send_values(conn_id, kSendEvent, std::array{code}, nullptr, wait);
}

VUXO_API int M20_Set_State(int conn_id, int32_t state, int wait) {
    return vuxo::send_values(conn_id, kSetState, std::array{state}, nullptr, wait);
}

VUXO_API int M20_Get_State(int conn_id, void* state, int wait) {
    return vuxo::send(conn_id, kGetState, nullptr, 0, state, wait);
}

VUXO_API int M20_set_model_rev(int conn_id, int32_t rev, int wait) {
    return vuxo::send_values(conn_id, kSetModelRev, std::array{rev}, nullptr, wait);
}

VUXO_API int M20_get_model_rev(int conn_id, void* rev, int wait) {
    return vuxo::send(conn_id, kGetModelRev, nullptr, 0, rev, wait);
}

VUXO_API int M20_probe(int conn_id, int, unsigned char*, int) {
    return M17_get_serial(conn_id, nullptr, 0);
}

VUXO_API int M20_test_probe(int, const unsigned char* frame, int* device_type, int) {
    if (device_type != nullptr) {
        *device_type = vuxo::kTypeFirstGeneration;
    }
    return vuxo::is_serial_answer(frame) &&
                   vuxo::first_payload_byte(frame) == vuxo::kSerialFirstGeneration
               ? 1
               : 0;
}

} // extern "C"
