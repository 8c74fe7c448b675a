// Result codes in words: the named codes, and whatever else a caller may hand in
// still gets a text.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "comm.h"
#include "vuxoint.h"

namespace {

TEST(Strerror, NamedCodesAndTransportErrors) {
    static_assert(VUXO_OK == 0 && VUXO_EINSTRUMENT == 1 && VUXO_ETIMEOUT == 255 &&
                  VUXO_EREFUSED == -1 && VUXO_ECLOSED == -COMM_ENOTCONN);
    struct Case {
        int code;
        const char* text;
    };
    const Case cases[] = {
        {VUXO_OK, "success"},
        {VUXO_EINSTRUMENT, "the instrument reported a failure"},
        {VUXO_ETIMEOUT, "no answer from the instrument in time"},
        {VUXO_EREFUSED, "refused by the library: a bad argument, nothing was sent"},
        {VUXO_ECLOSED, "the connection is closed: it ended before or while the command waited"},
        {-3, "unknown transport error"}, // an OS number the transport never reports
        {-4095, "unknown transport error"},
        {INT_MIN, "unknown result code"},
        {2, "unknown result code"},
        {256, "unknown result code"},
        {INT_MAX, "unknown result code"},
    };
    for (const Case& c : cases) {
        const char* text = vuxo_strerror(c.code);
        ASSERT_NE(text, nullptr) << c.code;
        EXPECT_EQ(std::string(text), c.text) << c.code;
        // A static text: the same pointer every time.
        EXPECT_EQ(vuxo_strerror(c.code), text) << c.code;
    }
}

} // namespace
