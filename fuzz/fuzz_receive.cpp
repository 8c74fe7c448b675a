// The receive path: any bytes, cut into data events of any size (some offered
// first to a waiting caller, which gives back what it may not run) and mixed with
// time-outs and connection errors, go through the event procedure of a link on
// the scripted transport. Identification runs the real detection pair, hooks
// are registered from the input, and every frame handed to the transport is
// compared with what a byte-at-a-time reference receiver finds in the stream
// (less the answers owed to the probes, which go to no transaction).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fake_comm.h"
#include "frame.h"
#include "fuzz_input.h"
#include "le.h"
#include "mdd_comm.h"
#include "mxx_comm.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr int kHookFns = 4;
constexpr int kCatchAllFn = kHookFns; // index recorded for the catch-all
constexpr uint16_t kCatchAllId = 0xFFFF;
constexpr int kLastProbeCount = 5;

struct Seen {
    std::vector<Bytes> offered;
    std::vector<int> connected_types;
    std::vector<std::pair<int, Bytes>> hooked; // hook function index, frame
    std::vector<int> conn_errors;
    int disconnected = 0;
    int user = 0;
};
Seen* g_seen = nullptr;

Bytes whole_frame(const unsigned char* f) {
    return Bytes(f, f + vuxo::kHeaderSize + vuxo::frame_length(f));
}

int test_probe(int conn_id, const unsigned char* frame, int* type, int probe_count) {
    g_seen->offered.push_back(whole_frame(frame));
    return MDD_test_probe(conn_id, frame, type, probe_count);
}
int on_connected(int, MXX_link*, int type, void* user) {
    FUZZ_CHECK(user == &g_seen->user);
    g_seen->connected_types.push_back(type);
    return 0;
}
int on_conn_error(int, MXX_link*, void*, int value) {
    g_seen->conn_errors.push_back(value);
    return 0;
}
int on_disconnected(int, MXX_link*, void*, int) {
    ++g_seen->disconnected;
    return 0;
}
template <int N> int hook(int, MXX_link*, const unsigned char* frame, void* user) {
    FUZZ_CHECK(user == &g_seen->user);
    g_seen->hooked.emplace_back(N, whole_frame(frame));
    return 0;
}
constexpr MXX_hook_fn kHooks[kCatchAllFn + 1] = {hook<0>, hook<1>, hook<2>, hook<3>,
                                                 hook<kCatchAllFn>};

// What the link layer is specified to do, one byte at a time, with nothing
// shared with the implementation but the frame helpers.
struct Reference {
    Bytes cur;
    uint32_t expected = 0;
    bool identified = false;
    int probe_count = 0;
    int probes = 1; // link up
    // Each probe is a serial-number request sent without waiting: its answer
    // (9007) is owed, and an owed answer, or while one is owed an error or
    // resend message, pays for it and is not handed to the transport.
    int owed = 1;
    int signals = 0;
    std::vector<std::pair<uint16_t, int>> hooks; // id, function index
    int catch_all = -1;
    std::vector<Bytes> offered;
    std::vector<int> types;
    std::vector<std::pair<int, Bytes>> hooked;
    std::vector<Bytes> handed_off;

    void add_hook(uint16_t id, int fn) {
        if (id == kCatchAllId) {
            catch_all = fn;
            return;
        }
        for (const auto& h : hooks) {
            if (h.first == id && h.second == fn) {
                return;
            }
        }
        hooks.emplace_back(id, fn);
    }

    void byte(unsigned char b) {
        static constexpr unsigned char kSync[4] = {'B', 'R', 'N', 'O'};
        const std::size_t pos = cur.size();
        if (pos < 4) {
            if (b == kSync[pos]) {
                cur.push_back(b);
            } else {
                cur.clear();
            }
            return;
        }
        cur.push_back(b);
        if (cur.size() < vuxo::kHeaderSize) {
            return;
        }
        if (cur.size() == vuxo::kHeaderSize) {
            unsigned char x = 0;
            for (std::size_t i = 0; i < 11; ++i) {
                x ^= cur[i];
            }
            expected = vuxo::load_le<uint16_t>(cur.data() + 6);
            // A frame longer than the receive buffer is refused at its header.
            if (x != cur[11] || expected > vuxo::kMaxRxLength) {
                cur.clear();
            } else if (expected == 0) {
                complete();
            }
            return;
        }
        if (cur.size() < vuxo::kHeaderSize + expected) {
            return;
        }
        unsigned char x = 0;
        for (std::size_t i = vuxo::kHeaderSize; i < cur.size(); ++i) {
            x ^= cur[i];
        }
        if (x != 0) {
            cur.clear();
        } else {
            complete();
        }
    }

    void complete() {
        if (!identified) {
            offered.push_back(cur);
            const bool has_payload = expected >= 2;
            if (has_payload && (cur[12] == '5' || cur[12] == 'A')) {
                identified = true;
                types.push_back(cur[12] == '5' ? 5 : 10);
                ++signals;
            }
        }
        const uint16_t id = vuxo::load_le<uint16_t>(cur.data() + 4);
        int fn = -1;
        for (const auto& h : hooks) {
            if (h.first == id) {
                fn = h.second;
                break;
            }
        }
        if (fn < 0) {
            fn = catch_all;
        }
        if (fn >= 0) {
            hooked.emplace_back(fn, cur);
        }
        if (owed > 0 && (id == 9007 || id == MXX_MSG_ERROR || id == MXX_MSG_RESEND)) {
            --owed;
        } else {
            handed_off.push_back(cur);
        }
        cur.clear();
    }

    // The event procedure's expected result for a receive time-out.
    int timeout() {
        if (identified) {
            cur.clear();
            return 0;
        }
        if (probe_count > kLastProbeCount) {
            ++signals;
            return -1;
        }
        ++probes;
        ++owed;
        ++probe_count;
        return 0;
    }
};

std::size_t count_calls(const char* name) {
    std::size_t n = 0;
    for (const std::string& c : fake::state().calls) {
        n += c == name ? 1 : 0;
    }
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    fake::reset();
    Seen seen;
    g_seen = &seen;
    Reference ref;

    int id = -1;
    FUZZ_CHECK(MXX_connect("fuzz", &id, on_connected, on_conn_error, on_disconnected, MDD_probe,
                           test_probe, &seen.user) == 0);

    // Hooks: up to seven registrations, each an id and one of the functions;
    // the id 0xFFFF installs the catch-all.
    const int registrations = in.u8() % 8;
    for (int i = 0; i < registrations; ++i) {
        const uint16_t hook_id = in.u16();
        const int fn = in.u8() % (kCatchAllFn + 1);
        FUZZ_CHECK(MXX_hook_async_event(id, hook_id, kHooks[fn]) == 0);
        ref.add_hook(hook_id, fn);
    }

    FUZZ_CHECK(fake::link_up(id) == 0);
    std::vector<int> errors_sent;
    while (!in.empty()) {
        const uint8_t op = in.u8();
        // Only the low 8 bits of the kind count; the rest must be ignored.
        const int high = (op & 0x10) != 0 ? 0x3A00 : 0;
        switch (op & 7) {
        case 0:
        case 1:
        case 2:
        case 3: {
            // Short events, the usual case for a serial line; with bit 3 read
            // by a waiting caller first, which gives back what it may not run:
            // every output must be as if all had come on the connection's thread.
            const Bytes chunk = in.bytes(1 + (op >> 5) + 8 * (op & 3));
            for (unsigned char b : chunk) {
                ref.byte(b);
            }
            const int n = static_cast<int>(chunk.size());
            int took = 0;
            if ((op & 8) != 0) {
                took = fake::event(id, COMM_EV_LEAD_DATA | high, chunk.data(), n);
                FUZZ_CHECK(took >= 0 && took <= n);
            }
            if (took < n) {
                fake::event(id, COMM_EV_DATA | high, chunk.data() + took, n - took);
            }
            break;
        }
        case 4: {
            const Bytes chunk = in.bytes(1 + 64 * std::size_t{in.u8()});
            for (unsigned char b : chunk) {
                ref.byte(b);
            }
            fake::event(id, COMM_EV_DATA | high, chunk.data(), static_cast<int>(chunk.size()));
            break;
        }
        case 5: {
            FUZZ_CHECK(fake::event(id, COMM_EV_TIMEOUT | high) == ref.timeout());
            break;
        }
        case 6: {
            const int value = (op >> 5) - 3;
            fake::event(id, COMM_EV_CONN_ERROR | high, nullptr, value);
            errors_sent.push_back(value);
            break;
        }
        default: {
            // No bytes to read: an empty or negative count, or an unused kind.
            static const unsigned char kNothing[1] = {'B'};
            const int kinds[] = {COMM_EV_DATA, 0, 4, 8, 255};
            const int kind = kinds[(op >> 3) % 5];
            FUZZ_CHECK(fake::event(id, kind, kNothing, kind == COMM_EV_DATA ? -(op >> 6) : 1) == 0);
            break;
        }
        }
    }

    FUZZ_CHECK(fake::state().filled == ref.handed_off);
    FUZZ_CHECK(seen.offered == ref.offered);
    FUZZ_CHECK(seen.connected_types == ref.types);
    FUZZ_CHECK(seen.hooked == ref.hooked);
    FUZZ_CHECK(seen.conn_errors == errors_sent);
    FUZZ_CHECK(count_calls("comm_signal_connected") == static_cast<std::size_t>(ref.signals));
    FUZZ_CHECK(fake::state().writes.size() == static_cast<std::size_t>(ref.probes));
    FUZZ_CHECK(MXX_get_user_data(id) == &seen.user);

    fake::disconnect(id);
    FUZZ_CHECK(seen.disconnected == 1);
    FUZZ_CHECK(MXX_get_user_data(id) == nullptr);
    g_seen = nullptr;
    return 0;
}
