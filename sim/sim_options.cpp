#include "sim_options.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <functional>
#include <limits>
#include <map>

namespace vuxo::sim {
namespace {

const char kUsage[] =
    "Usage: vuxoint-sim [--v1|--v2] [--port N | --pty] [options]\n"
    "\n"
    "Plays the instrument's side of the protocol for one host at a time, over loopback TCP\n"
    "or a pseudo-terminal. The first line on stdout is \"port <n>\" or \"pty <path>\".\n"
    "SIGINT or SIGTERM ends it.\n"
    "\n"
    "Instrument and link:\n"
    "  --v1, --v2                 generation (default --v2); serial begins with 5 or A\n"
    "  --port N                   listen on 127.0.0.1:N; 0 (default) picks a free port\n"
    "  --pty                      serve a pseudo-terminal instead; reopen it at will\n"
    "  --clock D/M/Y-H:M:S        fixed instrument clock (default: the host's clock)\n"
    "  --serial TEXT              the serial number: 8 bytes, \\xNN for any byte, \\\\ for\n"
    "                             a backslash; first 5 (--v1) or A (--v2); default\n"
    "                             51000123 or A2000456\n"
    "\n"
    "Data (generated on demand from generation, set, seed and slot):\n"
    "  --data basic|edge|empty|big   data set (default basic)\n"
    "  --seed N                   seed of the values (default 1)\n"
    "  --entries N                entry count (up to 65536 for V1, 128000 for V2); slots\n"
    "                             past the set's own are filled like the big set\n"
    "\n"
    "New measurements (stored in the next free slot, reported with message 9302):\n"
    "  --measure-after-idle S     after the host read log data and then sent nothing for\n"
    "                             S seconds (default 1.5; 0 disables)\n"
    "  --measure-every S          every S seconds while a host is connected\n"
    "  Command 8212 (measure) also stores one.\n"
    "\n"
    "Faults:\n"
    "  --resend-first CMD         answer the first CMD request with 12289 (repeatable)\n"
    "  --error-first CMD          answer the first CMD request with 12290 (repeatable)\n"
    "  --fail CMD[:K]             answer CMD with 12290 from its K-th request on (K=1)\n"
    "  --answer-size CMD:N        answer CMD with exactly N payload bytes (cut or padded)\n"
    "  --small-reads error|fail   refuse file reads (8211) of more than 450 bytes with\n"
    "                             message 12290 (error) or a failure status (fail)\n"
    "  --empty-chunk              every file read (8211) answers count 0\n"
    "  --empty-chunk-from K       ... from the K-th file read on\n"
    "  --drop N                   send no answer to the next N requests\n"
    "  --corrupt-header N         spoil the header check of the next N answers\n"
    "  --corrupt-body N           spoil the body check of the next N answers\n"
    "  --byte-by-byte             write answers one byte per write\n"
    "  --garbage                  send stray bytes before every frame\n"
    "  --latency MS               wait MS milliseconds before every answer\n"
    "  --slow-answer N:MS         the answer to the N-th request waits MS milliseconds more\n"
    "  --baud N                   pace writes to N baud (10 bits a byte)\n"
    "  --silent                   never answer, send nothing\n"
    "  --hangup-after N           close the connection when its N-th frame arrives (TCP)\n"
    "  --chaos SEED[:RATE]        random faults at RATE per answer (default 0.05)\n"
    "\n"
    "  --log FILE                 every received request frame as a line of hex\n"
    "  --describe                 print the data set's records as JSON and exit (what a\n"
    "                             reader of each record must find)\n"
    "  --help                     this text\n"
    "  --version                  the program's version\n";

bool to_u64(const std::string& s, uint64_t max, uint64_t* out) {
    uint64_t v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || v > max) {
        return false;
    }
    *out = v;
    return true;
}

bool to_seconds(const std::string& s, double* out) {
    try {
        std::size_t used = 0;
        const double v = std::stod(s, &used);
        if (used != s.size() || v < 0 || v > 1e6) {
            return false;
        }
        *out = v;
        return true;
    } catch (...) {
        return false;
    }
}

bool to_command(const std::string& s, uint16_t* out) {
    uint64_t v = 0;
    if (!to_u64(s, 65535, &v)) {
        return false;
    }
    *out = static_cast<uint16_t>(v);
    return true;
}

int days_in_month(int month, int year) {
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// A date and time that a calendar and a clock can show: an instrument never
// reports 31 February or 25:61, so a host under test should not meet one.
bool to_clock(const std::string& s, ClockRecord* out) {
    int d = 0, mo = 0, y = 0, h = 0, mi = 0, sec = 0;
    char tail = 0;
    if (std::sscanf(s.c_str(), "%d/%d/%d-%d:%d:%d%c", &d, &mo, &y, &h, &mi, &sec, &tail) != 6) {
        return false;
    }
    if (y < 1 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > days_in_month(mo, y) || h < 0 ||
        h > 23 || mi < 0 || mi > 59 || sec < 0 || sec > 59) {
        return false;
    }
    *out = {d, mo, y, h, mi, sec};
    return true;
}

// Eight bytes, written as the host shows them: "\xNN" stands for any byte and
// "\\" for a backslash, so that a host can be shown a serial that is not text.
bool to_serial(const std::string& s, std::string* out) {
    const auto hex = [&](std::size_t i) {
        return i < s.size() && std::isxdigit(static_cast<unsigned char>(s[i])) != 0;
    };
    std::string bytes;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s.compare(i, 2, "\\\\") == 0) {
            bytes += '\\';
            ++i;
        } else if (s.compare(i, 2, "\\x") == 0 && hex(i + 2) && hex(i + 3)) {
            bytes += static_cast<char>(std::stoi(s.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            bytes += s[i];
        }
    }
    if (bytes.size() != 8) {
        return false;
    }
    *out = bytes;
    return true;
}

// CMD[:K]
bool to_fail(const std::string& s, uint16_t* cmd, uint32_t* from) {
    const auto colon = s.find(':');
    uint64_t k = 1;
    if (colon != std::string::npos && (!to_u64(s.substr(colon + 1), 1u << 30, &k) || k == 0)) {
        return false;
    }
    *from = static_cast<uint32_t>(k);
    return to_command(s.substr(0, colon), cmd);
}

// SEED[:RATE]
bool to_chaos(const std::string& s, Faults* f) {
    const auto colon = s.find(':');
    uint64_t seed = 0;
    if (!to_u64(s.substr(0, colon), std::numeric_limits<uint64_t>::max(), &seed)) {
        return false;
    }
    double rate = 0.05;
    if (colon != std::string::npos && (!to_seconds(s.substr(colon + 1), &rate) || rate > 1)) {
        return false;
    }
    f->chaos = true;
    f->chaos_seed = seed;
    f->chaos_rate = rate;
    return true;
}

} // namespace

const char* usage_text() {
    return kUsage;
}

ParseResult parse_options(const std::vector<std::string>& args, Config* cfg, std::string* message) {
    cfg->measure_after_idle = 1.5;
    Faults& f = cfg->faults;
    using Setter = std::function<bool(const std::string&)>;
    auto u32 = [](uint32_t* dst) {
        return [dst](const std::string& v) {
            uint64_t x = 0;
            if (!to_u64(v, std::numeric_limits<uint32_t>::max(), &x)) {
                return false;
            }
            *dst = static_cast<uint32_t>(x);
            return true;
        };
    };
    const std::map<std::string, Setter> with_value = {
        {"--port",
         [cfg](const std::string& v) {
             uint64_t x = 0;
             cfg->link = LinkKind::tcp;
             if (!to_u64(v, 65535, &x)) {
                 return false;
             }
             cfg->port = static_cast<uint16_t>(x);
             return true;
         }},
        {"--data", [cfg](const std::string& v) { return parse_data_set(v, &cfg->data.set); }},
        {"--serial", [cfg](const std::string& v) { return to_serial(v, &cfg->data.serial); }},
        {"--seed",
         [cfg](const std::string& v) {
             return to_u64(v, std::numeric_limits<uint64_t>::max(), &cfg->data.seed);
         }},
        {"--entries",
         [cfg](const std::string& v) {
             uint64_t x = 0;
             if (!to_u64(v, kV2MaxEntries, &x)) {
                 return false;
             }
             cfg->data.entries = static_cast<int64_t>(x);
             return true;
         }},
        {"--clock",
         [cfg](const std::string& v) {
             ClockRecord c{};
             if (!to_clock(v, &c)) {
                 return false;
             }
             cfg->clock = c;
             return true;
         }},
        {"--measure-after-idle",
         [cfg](const std::string& v) { return to_seconds(v, &cfg->measure_after_idle); }},
        {"--measure-every",
         [cfg](const std::string& v) { return to_seconds(v, &cfg->measure_every); }},
        {"--resend-first",
         [&f](const std::string& v) {
             uint16_t c = 0;
             return to_command(v, &c) && f.resend_first.insert(c).second;
         }},
        {"--error-first",
         [&f](const std::string& v) {
             uint16_t c = 0;
             return to_command(v, &c) && f.error_first.insert(c).second;
         }},
        {"--fail",
         [&f](const std::string& v) {
             uint16_t c = 0;
             uint32_t k = 1;
             if (!to_fail(v, &c, &k)) {
                 return false;
             }
             f.fail_from[c] = k;
             return true;
         }},
        {"--answer-size",
         [&f](const std::string& v) {
             const auto colon = v.find(':');
             uint16_t c = 0;
             uint64_t n = 0;
             if (colon == std::string::npos || !to_command(v.substr(0, colon), &c) ||
                 !to_u64(v.substr(colon + 1), 4083, &n)) {
                 return false;
             }
             f.answer_size[c] = static_cast<uint32_t>(n);
             return true;
         }},
        {"--empty-chunk-from", u32(&f.empty_chunk_from)},
        {"--drop", u32(&f.drop_next)},
        {"--corrupt-header", u32(&f.corrupt_header_next)},
        {"--corrupt-body", u32(&f.corrupt_body_next)},
        {"--latency", u32(&f.latency_ms)},
        {"--slow-answer",
         [&f](const std::string& v) {
             const auto colon = v.find(':');
             uint64_t n = 0;
             uint64_t ms = 0;
             if (colon == std::string::npos ||
                 !to_u64(v.substr(0, colon), std::numeric_limits<uint32_t>::max(), &n) ||
                 !to_u64(v.substr(colon + 1), std::numeric_limits<uint32_t>::max(), &ms) ||
                 n == 0) {
                 return false;
             }
             f.slow_answer_at = static_cast<uint32_t>(n);
             f.slow_answer_ms = static_cast<uint32_t>(ms);
             return true;
         }},
        {"--baud", u32(&f.baud)},
        {"--hangup-after", u32(&f.hangup_after)},
        {"--chaos", [&f](const std::string& v) { return to_chaos(v, &f); }},
        {"--small-reads",
         [&f](const std::string& v) {
             if (v == "error" || v == "fail") {
                 f.large_reads =
                     v == "error" ? Faults::LargeReads::error : Faults::LargeReads::fail;
                 return true;
             }
             return false;
         }},
        {"--log",
         [cfg](const std::string& v) {
             cfg->log_path = v;
             return !v.empty();
         }},
    };
    const std::map<std::string, std::function<void()>> flags = {
        {"--v1", [cfg] { cfg->data.gen = Generation::v1; }},
        {"--v2", [cfg] { cfg->data.gen = Generation::v2; }},
        {"--pty", [cfg] { cfg->link = LinkKind::pty; }},
        {"--empty-chunk", [&f] { f.empty_chunk_from = 1; }},
        {"--byte-by-byte", [&f] { f.byte_by_byte = true; }},
        {"--garbage", [&f] { f.garbage = true; }},
        {"--silent", [&f] { f.silent = true; }},
    };
    bool describe = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool has_value = false;
        if (const auto eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            has_value = true;
        }
        if (name == "--help" || name == "-h") {
            return ParseResult::help;
        }
        if (name == "--version") {
            return ParseResult::version;
        }
        if (name == "--describe" && !has_value) {
            describe = true;
            continue;
        }
        if (auto it = flags.find(name); it != flags.end() && !has_value) {
            it->second();
            continue;
        }
        const auto it = with_value.find(name);
        if (it == with_value.end()) {
            *message = "unknown option: " + args[i];
            return ParseResult::error;
        }
        if (!has_value) {
            if (i + 1 >= args.size()) {
                *message = name + " needs a value";
                return ParseResult::error;
            }
            value = args[++i];
        }
        if (!it->second(value)) {
            *message = "bad value for " + name + ": " + value;
            return ParseResult::error;
        }
    }
    if (cfg->data.entries > static_cast<int64_t>(max_entries(cfg->data.gen))) {
        *message = "--entries: at most " + std::to_string(max_entries(cfg->data.gen)) + " for " +
                   generation_name(cfg->data.gen);
        return ParseResult::error;
    }
    // The host tells the generations apart by the serial's first byte.
    const char lead = cfg->data.gen == Generation::v1 ? '5' : 'A';
    if (!cfg->data.serial.empty() && cfg->data.serial[0] != lead) {
        *message =
            std::string("--serial: begins with ") + lead + " for " + generation_name(cfg->data.gen);
        return ParseResult::error;
    }
    return describe ? ParseResult::describe : ParseResult::run;
}

} // namespace vuxo::sim
