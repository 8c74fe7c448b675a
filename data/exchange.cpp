// Checked exchanges and the resynchronisation after an unanswered one (rule in
// exchange.h).
#include "exchange.h"

#include <chrono>

#include "mxx_comm.h"
#include "vuxodata.h"

namespace vuxod {

namespace {

// The firmware version: common to both generations, answered at once, and its answer
// id is one that no record read waits for.
constexpr Request kVersion{8001, 1000};
constexpr int kVersionSize = 8;
constexpr int kResyncTries = 3;
constexpr int kTries = 3;

int send(int conn_id, Request r, const void* request, int request_len, uint8_t* answer, int cap,
         int* len) {
    *len = -1;
    return MXX_send_cmd(conn_id, r.command, request, request_len, answer, cap, len, nullptr,
                        nullptr, r.timeout_ms, 1);
}

bool is_retryable(int rc) {
    return rc == VUXOD_FAILED || rc == VUXOD_NO_ANSWER || rc == VUXOD_E_ANSWER;
}

} // namespace

int resync(int conn_id) {
    for (int i = 0; i < kResyncTries; ++i) {
        uint8_t version[kVersionSize] = {};
        int len = -1;
        const int rc = send(conn_id, kVersion, nullptr, 0, version, kVersionSize, &len);
        if (rc < 0) {
            return rc;
        }
        // An error message may be one still owed for an earlier request: only the
        // version's own answer proves that the line is clear.
        if (rc == VUXOD_OK) {
            return VUXOD_OK;
        }
    }
    return VUXOD_E_GONE;
}

int exchange(int conn_id, Request r, const void* request, int request_len, uint8_t* answer, int cap,
             int min_len, int* len) {
    const auto start = std::chrono::steady_clock::now();
    int rc = send(conn_id, r, request, request_len, answer, cap, len);
    if (rc == VUXOD_OK && *len < min_len) {
        // Not copied (empty, or larger than the request calls for) or too short.
        rc = VUXOD_E_ANSWER;
    }
    if (rc < 0) {
        return rc;
    }
    const auto took = std::chrono::steady_clock::now() - start;
    const bool repeated = took > std::chrono::milliseconds(r.timeout_ms);
    if (rc == VUXOD_NO_ANSWER || rc == VUXOD_E_ANSWER || repeated) {
        const int settled = resync(conn_id);
        if (settled != VUXOD_OK) {
            return settled;
        }
    }
    return rc;
}

int exchange_retried(int conn_id, Request r, const void* request, int request_len, uint8_t* answer,
                     int cap, int min_len, int* len) {
    int rc = VUXOD_NO_ANSWER;
    for (int i = 0; i < kTries; ++i) {
        rc = exchange(conn_id, r, request, request_len, answer, cap, min_len, len);
        if (!is_retryable(rc)) {
            return rc;
        }
    }
    return rc;
}

bool record_failure(int rc) {
    return rc == VUXOD_FAILED || rc == VUXOD_NO_ANSWER || rc == VUXOD_E_SHORT ||
           rc == VUXOD_E_ANSWER;
}

} // namespace vuxod
