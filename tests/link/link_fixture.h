// Shared set-up for link-layer tests: one connection on the fake transport whose
// probe, test-probe, callbacks and hooks record what they were given.
#ifndef VUXO_LINK_FIXTURE_H
#define VUXO_LINK_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comm.h"
#include "fake_comm.h"
#include "mxx_comm.h"

struct Recorded {
    std::vector<int> probes;          // probe_count of each probe call
    std::vector<fake::Bytes> offered; // frames offered to test_probe
    int accept_first_byte = -1;       // test_probe accepts a payload starting with this
    std::vector<int> connected_types;
    std::vector<int> conn_errors;
    std::vector<int> disconnects;
    std::vector<std::string> hook_calls; // "<hook name>:<id>"
};

inline Recorded* g_rec = nullptr;

inline fake::Bytes frame_bytes(const unsigned char* f) {
    const int len = f[6] | (f[7] << 8);
    return fake::Bytes(f, f + 12 + len);
}

inline int rec_probe(int, int probe_count, unsigned char*, int) {
    g_rec->probes.push_back(probe_count);
    return 0;
}
inline int rec_test_probe(int, const unsigned char* frame, int* type, int) {
    g_rec->offered.push_back(frame_bytes(frame));
    const int len = frame[6] | (frame[7] << 8);
    if (len > 1 && frame[12] == g_rec->accept_first_byte) {
        *type = 42;
        return 1;
    }
    return 0;
}
inline int rec_connected(int, MXX_link*, int type, void*) {
    g_rec->connected_types.push_back(type);
    return 0;
}
inline int rec_conn_error(int, MXX_link*, void*, int value) {
    g_rec->conn_errors.push_back(value);
    return 0;
}
inline int rec_disconnected(int, MXX_link*, void*, int value) {
    g_rec->disconnects.push_back(value);
    return 0;
}

class LinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::reset();
        g_rec = &rec;
        ASSERT_EQ(MXX_connect("fake", &id, rec_connected, rec_conn_error, rec_disconnected,
                              rec_probe, rec_test_probe, &user),
                  0);
    }
    void TearDown() override {
        fake::disconnect(id);
        g_rec = nullptr;
    }
    Recorded rec;
    int user = 0;
    int id = -1;
};

#endif
