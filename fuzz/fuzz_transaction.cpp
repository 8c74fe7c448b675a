// The command transaction's answer handling: the instrument's turns, chosen by
// the fuzzer, are played through the receive path whenever the transaction
// writes its request. The result must be a specified code, must agree with the
// frames that actually reached the armed buffers, and nothing may be written
// outside the caller's response buffer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fake_comm.h"
#include "frame.h"
#include "fuzz_input.h"
#include "le.h"
#include "mxx_comm.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr int kUnset = -7;
constexpr int kErrorCap = 1024;
constexpr int kWriteErrors[] = {-5, -32, -104, -110};

// One turn of the instrument: the frames it sends after one request, as one
// byte stream cut into events.
struct Turn {
    Bytes stream;
    std::size_t split = SIZE_MAX;
    int write_result = 0;
};

Bytes make_frame(fuzz::Input& in, uint16_t answer_id) {
    const uint8_t kind = in.u8();
    const uint16_t ids[] = {answer_id, MXX_MSG_ERROR, MXX_MSG_RESEND,
                            static_cast<uint16_t>(answer_id + 1), 9302};
    const uint8_t status = (kind & 0x80) != 0 ? in.u8() : 0;
    const uint16_t word = in.u16();
    std::size_t n = in.u8();
    if ((kind & 0x40) != 0) {
        n = n * 32 + in.u8(); // up to 8,415: past every buffer the transaction arms
    }
    const Bytes payload = in.bytes(n);
    Bytes f(payload.size() + 13);
    vuxo::build_frame(f.data(), ids[(kind & 7) % 5], word, status, payload.data(), payload.size());
    if ((kind & 0x08) != 0) {
        f.resize(12); // header only, length 0
        f[6] = 0;
        f[7] = 0;
        f[11] = vuxo::xor_bytes(f.data(), 11);
    }
    if ((kind & 0x20) != 0) {
        // A corrupted byte somewhere: the receiver must drop or resync.
        f[in.u16() % f.size()] ^= static_cast<unsigned char>(1 + in.u8() % 255);
    }
    return f;
}

struct Model {
    // What the armed buffers held after one turn, as counts of the last frame
    // captured for each id (the fake transport, like the real one, keeps the
    // last capture and refuses a frame larger than the buffer). The answer
    // buffer holds any frame the receiver can assemble, so every answer here
    // (at most 8,428 bytes) is captured.
    Bytes answer, error, resend;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    fake::reset();

    const uint8_t flags = in.u8();
    // Attempts below 1 can only come from MXX_set_cmd_num_try: nothing is sent.
    const int num_try =
        (flags & 0x80) != 0 && (flags & 3) == 0 ? -static_cast<int>(in.u8() % 3) : 1 + (flags & 3);
    const int wait = (flags & 4) != 0 ? 0 : 1;
    const bool null_response = (flags & 8) != 0;
    const bool null_outputs = (flags & 0x10) != 0;
    int command = in.u16();
    if ((flags & 0x20) != 0) {
        command |= static_cast<int>(in.u8()) << 16; // only the low 16 bits count
    }
    const int cap = in.u16() % 9000;
    int request_len = in.u8();
    if ((flags & 0x40) != 0) {
        request_len = in.i32(); // often out of range: refused with nothing sent
    }
    const bool framable = request_len >= 0 && request_len <= vuxo::kMaxRequestPayload;
    // Exactly request_len bytes, so reading one past them is caught.
    Bytes request = in.bytes(framable ? static_cast<std::size_t>(request_len) : 0);
    if (framable) {
        request.resize(static_cast<std::size_t>(request_len));
    }
    const int timeout_ms = in.i32() & 0x7FFFFFFF;

    int id = -1;
    FUZZ_CHECK(MXX_connect("fuzz", &id, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) == 0);
    MXX_set_cmd_num_try(id, num_try);

    const uint16_t answer_id = static_cast<uint16_t>(command + 1000);
    std::vector<Turn> turns;
    while (!in.empty() && turns.size() < static_cast<std::size_t>(std::max(num_try, 1))) {
        Turn t;
        const uint8_t how = in.u8();
        if ((how & 0x80) != 0) {
            t.write_result = kWriteErrors[how & 3];
        }
        t.split = 1 + in.u8() * 4;
        const int frames = (how >> 2) & 3;
        for (int i = 0; i < frames; ++i) {
            const Bytes f = make_frame(in, answer_id);
            t.stream.insert(t.stream.end(), f.begin(), f.end());
        }
        if ((how & 0x40) != 0) {
            const Bytes junk = in.bytes(in.u8() % 32);
            t.stream.insert(t.stream.begin(), junk.begin(), junk.end());
        }
        turns.push_back(t);
    }
    for (const Turn& t : turns) {
        fake::state().write_results.push_back(t.write_result);
    }

    // The instrument's side: each accepted write plays the next turn, and the
    // frames that reach the transport during it are what the buffers capture.
    std::vector<Model> captured;
    fake::state().on_write = [&](int conn, const Bytes&) {
        const std::size_t before = fake::state().filled.size();
        // Writes that failed never reach here, so find the turn of this write.
        const std::size_t turn = fake::state().writes.size() - 1;
        if (turn < turns.size()) {
            fake::data(conn, turns[turn].stream, turns[turn].split);
        }
        Model m;
        for (std::size_t i = before; i < fake::state().filled.size(); ++i) {
            const Bytes& f = fake::state().filled[i];
            const uint16_t fid = vuxo::frame_id(f.data());
            if (fid == answer_id) {
                m.answer = f;
            } else if (fid == MXX_MSG_ERROR && f.size() <= kErrorCap) {
                m.error = f;
            } else if (fid == MXX_MSG_RESEND && f.size() <= kErrorCap) {
                m.resend = f;
            }
        }
        captured.resize(turn + 1);
        captured[turn] = m;
    };

    fuzz::Guarded response(static_cast<std::size_t>(cap));
    int out_len = kUnset;
    int out_word = kUnset;
    int out_status = kUnset;
    const int result = MXX_send_cmd(
        id, command, request.empty() ? nullptr : request.data(), request_len,
        null_response ? nullptr : response.data(), cap, null_outputs ? nullptr : &out_len,
        null_outputs ? nullptr : &out_word, null_outputs ? nullptr : &out_status, timeout_ms, wait);

    FUZZ_CHECK(response.guards_intact());
    FUZZ_CHECK(result == 0 || result == 1 || result == 255 || result == -1 ||
               std::find(std::begin(kWriteErrors), std::end(kWriteErrors), result) !=
                   std::end(kWriteErrors));
    const auto& writes = fake::state().writes;
    if (!framable) {
        FUZZ_CHECK(result == -1);
        FUZZ_CHECK(writes.empty());
        fake::disconnect(id);
        return 0;
    }

    if (num_try < 1) {
        FUZZ_CHECK(writes.empty());
        FUZZ_CHECK(result == 255);
        FUZZ_CHECK(response.untouched_from(0));
        FUZZ_CHECK(null_outputs || (out_len == kUnset && out_status == kUnset));
        FUZZ_CHECK(!fake::find(id)->hooked);
        fake::disconnect(id);
        return 0;
    }

    // Every write carries the same, well-formed request.
    for (const fake::Write& w : writes) {
        FUZZ_CHECK(w.bytes == writes.front().bytes);
        FUZZ_CHECK(w.timeout_ms == timeout_ms);
        FUZZ_CHECK(w.bytes.size() == request.size() + 13);
        FUZZ_CHECK(vuxo::frame_id(w.bytes.data()) == static_cast<uint16_t>(command));
        FUZZ_CHECK(std::equal(request.begin(), request.end(), w.bytes.begin() + 12));
    }

    // Replay the specified attempt loop on what the buffers captured.
    int expected = 255;
    std::size_t expected_writes = 0;
    bool resend_last = false;
    const Bytes* picked = nullptr;
    const Bytes* answer = nullptr;
    for (int attempt = 0; attempt < (wait != 0 ? num_try : 1); ++attempt) {
        const auto k = static_cast<std::size_t>(attempt);
        ++expected_writes;
        const int w = k < turns.size() ? turns[k].write_result : 0;
        resend_last = false;
        if (w != 0 || wait == 0) {
            expected = w;
            continue;
        }
        static const Model kNothing;
        const Model& m = k < captured.size() ? captured[k] : kNothing;
        if (!m.answer.empty()) {
            picked = answer = &m.answer;
            expected = m.answer[10] == 0 ? 0 : 1;
            break;
        }
        if (!m.error.empty()) {
            picked = &m.error;
            expected = 1;
            break;
        }
        if (!m.resend.empty()) {
            picked = &m.resend;
            expected = m.resend[10] == 0 ? 0 : 1;
            resend_last = true;
            continue;
        }
        expected = 255;
    }
    // A resend on the last attempt may read as a failure whatever its status:
    // the instrument did not carry the command out.
    FUZZ_CHECK(result == expected || (resend_last && result == 1));
    FUZZ_CHECK(writes.size() == expected_writes);

    const std::size_t p = answer != nullptr ? answer->size() - 13 : 0;
    const bool copied = answer != nullptr && (*answer)[10] == 0 && answer->size() > 13 &&
                        p <= static_cast<std::size_t>(cap) && !null_response;
    const auto untouched = [](unsigned char b) { return b == 0xEE; };
    if (copied) {
        FUZZ_CHECK(std::equal(answer->begin() + 12, answer->end() - 1, response.data()));
        FUZZ_CHECK(std::all_of(response.data() + p, response.data() + cap, untouched));
    } else {
        FUZZ_CHECK(std::all_of(response.data(), response.data() + cap, untouched));
    }
    if (!null_outputs) {
        FUZZ_CHECK(out_len == (copied ? static_cast<int>(p) : kUnset));
        FUZZ_CHECK(out_status == (picked != nullptr ? (*picked)[10] : kUnset));
        FUZZ_CHECK(out_word ==
                   (picked != nullptr ? vuxo::load_le<uint16_t>(picked->data() + 8) : kUnset));
    }

    // The armed buffers are gone: a late answer reaches nothing.
    const fake::Conn* c = fake::find(id);
    FUZZ_CHECK(c != nullptr && !c->hooked);
    fake::disconnect(id);
    return 0;
}
