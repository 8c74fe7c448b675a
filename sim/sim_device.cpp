#include "sim_device.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "civil_time.h"
#include "frame.h"
#include "le.h"
#include "local_offset.h"

namespace vuxo::sim {
namespace {

std::vector<unsigned char> int32_payload(int32_t v) {
    std::vector<unsigned char> p(4);
    store_le<int32_t>(p.data(), v);
    return p;
}

int32_t arg32(const unsigned char* p, std::size_t at) {
    return load_le<int32_t>(p + at);
}

ClockRecord host_clock() {
    const int64_t now = std::time(nullptr);
    const CivilTime t = civil_from_seconds(now + local_offset_seconds(now));
    return {t.day, t.month, static_cast<int32_t>(t.year), t.hour, t.minute, t.second};
}

} // namespace

Reply error_reply() {
    Reply r;
    r.kind = Reply::Kind::error;
    r.id = kMsgError;
    r.status = 1;
    return r;
}

std::string name_field(const unsigned char* field) {
    const auto* end = static_cast<const unsigned char*>(std::memchr(field, 0, kNameField));
    const std::size_t len = end != nullptr ? static_cast<std::size_t>(end - field) : kNameField;
    return std::string(reinterpret_cast<const char*>(field), len);
}

Device::Device(const DataSpec& dataset) : log_(dataset), flash_(kFlashSize) {
    const char* serial = !dataset.serial.empty()         ? dataset.serial.c_str()
                         : dataset.gen == Generation::v1 ? "51000123"
                                                         : "A2000456";
    const char* fw = dataset.gen == Generation::v1 ? "V1.07.03" : "V2.11.05";
    std::memcpy(serial_.data(), serial, serial_.size());
    std::memcpy(fw_.data(), fw, fw_.size());
    model_rev_ = dataset.gen == Generation::v1 ? 3 : 7;
    for (std::size_t i = 0; i < flash_.size(); ++i) {
        flash_[i] = static_cast<unsigned char>(i ^ (i >> 8));
    }
}

ClockRecord Device::clock() const {
    return clock_ ? *clock_ : host_clock();
}
std::string Device::serial() const {
    return std::string(serial_.data(), serial_.size());
}
std::string Device::fw_version() const {
    return std::string(fw_.data(), fw_.size());
}

std::optional<std::vector<unsigned char>> Device::file(const std::string& name) const {
    if (auto it = files_.find(name); it != files_.end()) {
        return it->second;
    }
    if (generation() != Generation::v2) {
        return std::nullopt;
    }
    int64_t slot = -2;
    if (name == meas_file_name(-1)) {
        slot = log_.last_slot();
    } else {
        const std::string prefix = "meas/meas";
        const std::string suffix = ".dat";
        if (name.size() > prefix.size() + suffix.size() && name.starts_with(prefix) &&
            name.ends_with(suffix)) {
            const std::string digits =
                name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
            if (digits.size() <= 7 && std::all_of(digits.begin(), digits.end(),
                                                  [](char c) { return c >= '0' && c <= '9'; })) {
                slot = std::stoll(digits);
                // Only the canonical spelling names the file: meas0007, not meas7.
                if (meas_file_name(slot) != name) {
                    slot = -2;
                }
            }
        }
    }
    if (slot < 0 || slot >= static_cast<int64_t>(log_.count()) ||
        !log_.has_record(static_cast<uint32_t>(slot))) {
        return std::nullopt;
    }
    return log_.record_bytes(static_cast<uint32_t>(slot));
}

Reply Device::answer(uint16_t cmd, std::vector<unsigned char> payload) {
    Reply r;
    r.id = static_cast<uint16_t>(cmd + kAnswerIdOffset);
    r.payload = std::move(payload);
    return r;
}

Reply Device::handle(const unsigned char* request, std::size_t size) {
    const uint16_t cmd = frame_id(request);
    const uint16_t length = frame_length(request);
    const unsigned char* p = request + kHeaderSize;
    // The body is the payload and its check byte; a header-only frame has no payload.
    std::size_t n = length > 0 ? length - 1u : 0u;
    n = std::min(n, size > kHeaderSize + 1 ? size - kHeaderSize - 1 : 0);
    bool known = false;
    Reply r = common(cmd, p, n, &known);
    if (known) {
        return r;
    }
    r = log_commands(cmd, p, n, &known);
    if (known) {
        return r;
    }
    r = generation() == Generation::v1 ? v1_only(cmd, p, n, &known) : v2_only(cmd, p, n, &known);
    return known ? r : error_reply();
}

Reply Device::common(uint16_t cmd, const unsigned char* p, std::size_t n, bool* known) {
    *known = true;
    switch (cmd) {
    case 8001:
        return answer(cmd, std::vector<unsigned char>(fw_.begin(), fw_.end()));
    case 8002: {
        const ClockRecord c = clock();
        std::vector<unsigned char> out(24);
        for (std::size_t i = 0; i < c.size(); ++i) {
            store_le<int32_t>(out.data() + 4 * i, c[i]);
        }
        return answer(cmd, std::move(out));
    }
    case 8003: {
        if (n < 24) {
            return error_reply();
        }
        ClockRecord c;
        for (std::size_t i = 0; i < c.size(); ++i) {
            c[i] = arg32(p, 4 * i);
        }
        clock_ = c;
        return answer(cmd);
    }
    case 8007:
        return answer(cmd, std::vector<unsigned char>(serial_.begin(), serial_.end()));
    case 8008:
        return answer(cmd, int32_payload(model_rev_));
    case 8021: {
        Reply r;
        r.kind = Reply::Kind::none;
        return r;
    }
    case 8100:
        std::fill(flash_.begin(), flash_.end(), 0xFF);
        return answer(cmd, int32_payload(0));
    case 8101: {
        if (n < 2) {
            return error_reply();
        }
        const std::size_t at = load_le<uint16_t>(p);
        std::vector<unsigned char> out(kFlashChunk);
        for (std::size_t i = 0; i < out.size(); ++i) {
            out[i] = flash_[(at + i) % kFlashSize];
        }
        return answer(cmd, std::move(out));
    }
    case 8102: {
        if (n < 2) {
            return error_reply();
        }
        const std::size_t at = load_le<uint16_t>(p);
        for (std::size_t i = 2; i < n; ++i) {
            flash_[(at + i - 2) % kFlashSize] = p[i];
        }
        return answer(cmd);
    }
    case 8103:
        return n < 8 ? error_reply() : answer(cmd);
    case 8104:
        if (n < serial_.size()) {
            return error_reply();
        }
        std::memcpy(serial_.data(), p, serial_.size());
        return answer(cmd);
    case 8105:
        if (n < 4) {
            return error_reply();
        }
        model_rev_ = arg32(p, 0);
        return answer(cmd);
    default:
        *known = false;
        return {};
    }
}

// Commands numbered alike in both generations, with sizes that differ.
Reply Device::log_commands(uint16_t cmd, const unsigned char* p, std::size_t n, bool* known) {
    *known = true;
    const bool v1 = generation() == Generation::v1;
    switch (cmd) {
    case 8201: {
        Reply r = answer(cmd, log_.param_block());
        r.log_read = true;
        return r;
    }
    case 8202: {
        const std::size_t size = v1 ? 96 : 319;
        if (n < size) {
            return error_reply();
        }
        written_params_.assign(p, p + size);
        return answer(cmd);
    }
    case 8203: {
        std::vector<unsigned char> out(kStatusSize);
        store_le<int32_t>(out.data(), state_);
        store_le<uint32_t>(out.data() + 4, log_.count());
        store_le<int32_t>(out.data() + 8, 3700); // battery, mV
        store_le<int32_t>(out.data() + 12, 215); // temperature, 0.1 degrees
        store_le<int32_t>(out.data() + 16, model_rev_);
        return answer(cmd, std::move(out));
    }
    case 8204: {
        if (n < 4) {
            return error_reply();
        }
        Reply r = answer(cmd, log_.entry_page(arg32(p, 0)));
        r.log_read = true;
        return r;
    }
    case 8206:
        if (n < 4) {
            return error_reply();
        }
        log_.clear();
        ++revision_;
        return answer(cmd);
    case 8210:
        return write_file(cmd, p, n);
    case 8211:
        return read_file(cmd, p, n);
    case 8212: {
        Reply r = answer(cmd, int32_payload(static_cast<int32_t>(log_.count())));
        r.measure = true;
        return r;
    }
    case 8016: {
        const uint32_t used = log_.count();
        const std::string text = "Used " + std::to_string(used) + " of " +
                                 std::to_string(max_entries(generation())) + " entries";
        std::vector<unsigned char> out(4 + text.size() + 1, 0);
        store_le<int32_t>(out.data(),
                          static_cast<int32_t>(used * 100ull / max_entries(generation())));
        std::memcpy(out.data() + 4, text.data(), text.size());
        return answer(cmd, std::move(out));
    }
    case 8022:
        if (n < 4) {
            return error_reply();
        }
        events_.push_back(arg32(p, 0));
        return answer(cmd);
    case 8023:
        if (n < 4) {
            return error_reply();
        }
        state_ = arg32(p, 0);
        return answer(cmd);
    case 8024:
        return answer(cmd, int32_payload(state_));
    default:
        *known = false;
        return {};
    }
}

Reply Device::v1_only(uint16_t cmd, const unsigned char* p, std::size_t n, bool* known) {
    *known = true;
    switch (cmd) {
    case 8205: {
        if (n < 8) {
            return error_reply();
        }
        const int32_t slot = arg32(p, 0);
        if (slot < 0 || !log_.has_record(static_cast<uint32_t>(slot))) {
            return error_reply();
        }
        Reply r = answer(cmd, log_.record_bytes(static_cast<uint32_t>(slot)));
        r.log_read = true;
        return r;
    }
    case 8207: {
        if (n < 4) {
            return error_reply();
        }
        const int32_t slot = arg32(p, 0);
        const std::size_t len = slot < 0 ? 0 : log_.note_text(static_cast<uint32_t>(slot)).size();
        return answer(cmd, int32_payload(static_cast<int32_t>(len)));
    }
    case 8208: {
        if (n < 12) {
            return error_reply();
        }
        const int32_t slot = arg32(p, 0);
        const std::string text = slot < 0 ? "" : log_.note_text(static_cast<uint32_t>(slot));
        return read_chunk(cmd, std::vector<unsigned char>(text.begin(), text.end()), arg32(p, 4),
                          arg32(p, 8));
    }
    case 8209:
        if (n < 8) {
            return error_reply();
        }
        if (arg32(p, 0) >= 0) {
            log_.erase(static_cast<uint32_t>(arg32(p, 0)));
            ++revision_;
        }
        return answer(cmd);
    default:
        *known = false;
        return {};
    }
}

Reply Device::v2_only(uint16_t cmd, const unsigned char* p, std::size_t n, bool* known) {
    *known = true;
    switch (cmd) {
    case 8209:
        return file_info(cmd, p, n);
    case 8213: {
        std::vector<unsigned char> screen(kScreenSize);
        for (std::size_t i = 0; i < screen.size(); ++i) {
            screen[i] = static_cast<unsigned char>((i * 31 + log_.count()) & 0xFF);
        }
        return answer(cmd, std::move(screen));
    }
    default:
        *known = false;
        return {};
    }
}

Reply Device::read_chunk(uint16_t cmd, const std::vector<unsigned char>& data, int32_t offset,
                         int32_t length) {
    int32_t count = 0;
    if (offset >= 0 && length > 0 && static_cast<std::size_t>(offset) < data.size()) {
        const std::size_t left = data.size() - static_cast<std::size_t>(offset);
        count = static_cast<int32_t>(std::min<std::size_t>(
            {left, static_cast<std::size_t>(length), static_cast<std::size_t>(kMaxChunk)}));
    }
    std::vector<unsigned char> out(4 + static_cast<std::size_t>(count));
    store_le<int32_t>(out.data(), count);
    if (count > 0) {
        std::memcpy(out.data() + 4, data.data() + offset, static_cast<std::size_t>(count));
    }
    return answer(cmd, std::move(out));
}

Reply Device::read_file(uint16_t cmd, const unsigned char* p, std::size_t n) {
    if (n < kFileHead) {
        return error_reply();
    }
    const std::string name = name_field(p);
    if (name != cached_name_ || log_.count() != cached_count_ || revision_ != cached_revision_) {
        cached_ = file(name);
        cached_name_ = name;
        cached_count_ = log_.count();
        cached_revision_ = revision_;
    }
    if (!cached_) {
        return error_reply();
    }
    Reply r = read_chunk(cmd, *cached_, arg32(p, 32), arg32(p, 36));
    r.log_read = name.starts_with("meas/");
    return r;
}

Reply Device::write_file(uint16_t cmd, const unsigned char* p, std::size_t n) {
    if (n < kFileHead) {
        return error_reply();
    }
    const int32_t pos = arg32(p, 32);
    const int32_t len = arg32(p, 36);
    if (pos < 0 || len < 0 || static_cast<std::size_t>(len) > n - kFileHead ||
        pos > 16 * 1024 * 1024) {
        return error_reply();
    }
    const std::string name = name_field(p);
    std::vector<unsigned char> data = file(name).value_or(std::vector<unsigned char>{});
    const std::size_t end = static_cast<std::size_t>(pos) + static_cast<std::size_t>(len);
    if (data.size() < end) {
        data.resize(end, 0);
    }
    std::memcpy(data.data() + pos, p + kFileHead, static_cast<std::size_t>(len));
    files_[name] = std::move(data);
    ++revision_;
    return answer(cmd);
}

Reply Device::file_info(uint16_t cmd, const unsigned char* p, std::size_t n) {
    if (n < kNameField) {
        return error_reply();
    }
    const auto data = file(name_field(p));
    std::vector<unsigned char> out(kFileInfoSize, 0);
    // An absent file answers -1 rather than failing: the value is the host's existence test.
    store_le<int32_t>(out.data(), data ? static_cast<int32_t>(data->size()) : -1);
    return answer(cmd, std::move(out));
}

} // namespace vuxo::sim
