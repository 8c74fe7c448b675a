// The instrument's side of the command sets: turns one request frame into its answer.
// No I/O and no threads; the simulator feeds it the frames its receiver finds.
#ifndef VUXO_SIM_DEVICE_H
#define VUXO_SIM_DEVICE_H

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim_data.h"

namespace vuxo::sim {

inline constexpr uint16_t kMsgResend = 12289;
inline constexpr uint16_t kMsgError = 12290;
inline constexpr uint16_t kMsgLiveData = 9302;
inline constexpr int32_t kEventStored = 256;
inline constexpr std::size_t kFlashSize = 65536;
inline constexpr std::size_t kFlashChunk = 64;
inline constexpr std::size_t kNameField = 32;
inline constexpr std::size_t kFileHead = 40;
// A chunk answer is at most 4,000 bytes: the count and 3,996 data bytes.
inline constexpr int32_t kMaxChunk = 3996;
inline constexpr std::size_t kStatusSize = 20;
inline constexpr std::size_t kScreenSize = 1060;
inline constexpr std::size_t kFileInfoSize = 40;

// Six int32: day, month, year, hour, minute, second.
using ClockRecord = std::array<int32_t, 6>;

struct Reply {
    enum class Kind { answer, error, none };
    Kind kind = Kind::answer;
    uint16_t id = 0;
    uint8_t status = 0;
    std::vector<unsigned char> payload;
    // The host read the parameter block, the entry list or a record.
    bool log_read = false;
    // The host asked for a measurement: the simulator stores one after answering.
    bool measure = false;
};

class Device {
  public:
    explicit Device(const DataSpec& dataset);

    // request: a whole frame as the receiver delivers it, header first.
    Reply handle(const unsigned char* request, std::size_t size);

    Log& log() { return log_; }
    const Log& log() const { return log_; }
    Generation generation() const { return log_.dataset().gen; }

    void set_clock(const ClockRecord& clock) { clock_ = clock; }
    ClockRecord clock() const;
    std::string serial() const;
    std::string fw_version() const;
    int32_t state() const { return state_; }
    const std::vector<int32_t>& events() const { return events_; }
    const std::vector<unsigned char>& flash() const { return flash_; }
    const std::vector<unsigned char>& written_params() const { return written_params_; }
    // The contents of a file: written by the host, or a measurement file of the log.
    std::optional<std::vector<unsigned char>> file(const std::string& name) const;

  private:
    Reply answer(uint16_t cmd, std::vector<unsigned char> payload = {});
    Reply common(uint16_t cmd, const unsigned char* p, std::size_t n, bool* known);
    Reply v1_only(uint16_t cmd, const unsigned char* p, std::size_t n, bool* known);
    Reply v2_only(uint16_t cmd, const unsigned char* p, std::size_t n, bool* known);
    Reply log_commands(uint16_t cmd, const unsigned char* p, std::size_t n, bool* known);
    Reply read_chunk(uint16_t cmd, const std::vector<unsigned char>& data, int32_t offset,
                     int32_t length);
    Reply read_file(uint16_t cmd, const unsigned char* p, std::size_t n);
    Reply write_file(uint16_t cmd, const unsigned char* p, std::size_t n);
    Reply file_info(uint16_t cmd, const unsigned char* p, std::size_t n);

    Log log_;
    std::array<char, 8> serial_;
    std::array<char, 8> fw_;
    int32_t model_rev_;
    std::optional<ClockRecord> clock_;
    std::vector<unsigned char> flash_;
    std::vector<unsigned char> written_params_;
    std::map<std::string, std::vector<unsigned char>> files_;
    int32_t state_ = 0;
    std::vector<int32_t> events_;
    // The file being read chunk by chunk, so a 4,063-byte record is built once, not ten
    // times. Valid while the name, the entry count and the revision match.
    uint64_t revision_ = 0;
    std::string cached_name_;
    uint32_t cached_count_ = 0;
    uint64_t cached_revision_ = 0;
    std::optional<std::vector<unsigned char>> cached_;
};

// The reply that refuses a request: message 12290 with status 1.
Reply error_reply();
std::string name_field(const unsigned char* field);

} // namespace vuxo::sim

#endif
