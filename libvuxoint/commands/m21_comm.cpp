// Second-generation (V2) command set: the first generation's commands with
// shorter time-outs and other block sizes, plus file information and screen.
#include "m21_comm.h"

#include <array>

#include "command.h"
#include "m17_comm.h"
#include "twin_commands.h"

using vuxo::Command;

namespace {

// clang-format off
//                                        number  time-out ms  answer capacity
constexpr Command kGetParams            {8201,    800,         4319};
constexpr Command kSetParams            {8202,    800,         0};
constexpr Command kGetStatus            {8203,    800,         20};
constexpr Command kGetMeasLogEntryList  {8204,    800,         160};  // 32 entries of 5 bytes
constexpr Command kClearLogs            {8206,    300000,      0};
constexpr Command kFileInfo             {8209,    800,         40};   // V1: entry deletion
constexpr Command kWriteFile            {8210,    800,         0};
constexpr Command kReadFile             {8211,    800,         vuxo::kChunkAnswerSize};
constexpr Command kMeasure              {8212,    800,         4};
constexpr Command kGetScreen            {8213,    800,         1060};
constexpr Command kMemoryUsage          {8016,    800,         vuxo::kMemoryAnswerSize};
constexpr Command kSendEvent            {8022,    800,         0};
constexpr Command kSetState             {8023,    800,         0};
constexpr Command kGetState             {8024,    800,         4};
// clang-format on

constexpr int kParamsSize = 319;
// Attempts per command on a connection this module identified.
constexpr int kNumTry = 3;

} // namespace

extern "C" {

VUXO_API int M21_Get_Params(int conn_id, void* params, int wait) {
    return vuxo::send(conn_id, kGetParams, nullptr, 0, params, wait);
}

VUXO_API int M21_Set_Params(int conn_id, const void* params, int wait) {
    return vuxo::send(conn_id, kSetParams, params, kParamsSize, nullptr, wait);
}

VUXO_API int M21_Get_Status(int conn_id, void* status, int wait) {
    return vuxo::send(conn_id, kGetStatus, nullptr, 0, status, wait);
}

VUXO_API int M21_Get_Meas_Log_Entry_List(int conn_id, int32_t first, void* list, int wait) {
    return vuxo::send_values(conn_id, kGetMeasLogEntryList, std::array{first}, list, wait);
}

VUXO_API int M21_Clear_Logs(int conn_id, int32_t value, int wait) {
    return vuxo::send_values(conn_id, kClearLogs, std::array{value}, nullptr, wait);
}

VUXO_API int M21_File_Info(int conn_id, const char* name, int* value, int wait) {
    // Where a file read carries offset and length, this request carries zeros.
    std::array<unsigned char, vuxo::kFileHeadSize> request{};
    vuxo::put_name_field(request.data(), name);
    std::array<unsigned char, kFileInfo.answer_cap> answer{};
    const int result = vuxo::send(conn_id, kFileInfo, request.data(),
                                  static_cast<int>(request.size()), answer.data(), wait);
    if (result == 0 && value != nullptr) {
        *value = vuxo::load_le<int32_t>(answer.data());
    }
    return result;
}

VUXO_API int M21_Write_File(int conn_id, const char* name, int32_t position, const void* data,
                            int32_t length, int wait) {
    return vuxo::write_file(conn_id, kWriteFile, name, position, data, length, wait);
}

VUXO_API int M21_Read_File(int conn_id, const char* name, void* dest, int32_t offset,
                           int32_t length, int* count, int wait) {
    return vuxo::read_file(conn_id, kReadFile, name, dest, offset, length, count, wait);
}

VUXO_API int M21_Measure(int conn_id, void* answer, int wait) {
    return vuxo::send(conn_id, kMeasure, nullptr, 0, answer, wait);
}

VUXO_API int M21_Memory_Usage(int conn_id, int* value, char* text, size_t text_size, int wait) {
    return vuxo::memory_usage(conn_id, kMemoryUsage, value, text, text_size, wait);
}

VUXO_API int M21_Send_Event(int conn_id, int32_t code, int wait) {
    return vuxo::send_values(conn_id, kSendEvent, std::array{code}, nullptr, wait);
}

VUXO_API int M21_Set_State(int conn_id, int32_t state, int wait) {
    return vuxo::send_values(conn_id, kSetState, std::array{state}, nullptr, wait);
}

VUXO_API int M21_Get_State(int conn_id, void* state, int wait) {
    return vuxo::send(conn_id, kGetState, nullptr, 0, state, wait);
}

VUXO_API int M21_Get_Screen(int conn_id, void* screen, int wait) {
    return vuxo::send(conn_id, kGetScreen, nullptr, 0, screen, wait);
}

VUXO_API int M21_probe(int conn_id, int, unsigned char*, int) {
    return M17_get_serial(conn_id, nullptr, 0);
}

VUXO_API int M21_test_probe(int conn_id, const unsigned char* frame, int* device_type, int) {
    if (device_type != nullptr) {
        *device_type = vuxo::kTypeSecondGeneration;
    }
    MXX_set_cmd_num_try(conn_id, kNumTry);
    return vuxo::is_serial_answer(frame) &&
                   vuxo::first_payload_byte(frame) == vuxo::kSerialSecondGeneration
               ? 1
               : 0;
}

} // extern "C"
