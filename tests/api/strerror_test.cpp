// Result codes in words: the named codes, the transport's error numbers in the
// words Linux shows for them, and whatever else a caller may hand in still gets
// a text.
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

// Every number the transport reports (but those VUXO_EREFUSED and VUXO_ECLOSED name) in
// glibc's words, the texts users always saw.
TEST(Strerror, TransportErrorsInLinuxWords) {
    for (int number :
         {COMM_ENOENT,          COMM_EINTR,       COMM_EIO,          COMM_ENXIO,
          COMM_EAGAIN,          COMM_ENOMEM,      COMM_EACCES,       COMM_EBUSY,
          COMM_ENODEV,          COMM_EINVAL,      COMM_ENFILE,       COMM_EMFILE,
          COMM_ENOTTY,          COMM_EPIPE,       COMM_EDEADLK,      COMM_ENAMETOOLONG,
          COMM_ENOSYS,          COMM_ENOMSG,      COMM_EOVERFLOW,    COMM_EMSGSIZE,
          COMM_EPROTONOSUPPORT, COMM_EOPNOTSUPP,  COMM_EAFNOSUPPORT, COMM_EADDRNOTAVAIL,
          COMM_ENETDOWN,        COMM_ENETUNREACH, COMM_ECONNABORTED, COMM_ECONNRESET,
          COMM_ESHUTDOWN,       COMM_ETIMEDOUT,   COMM_ECONNREFUSED, COMM_EHOSTDOWN,
          COMM_EHOSTUNREACH,    COMM_ECANCELED}) {
        const char* text = vuxo_strerror(-number);
        EXPECT_STREQ(text, strerrordesc_np(number)) << number;
        EXPECT_EQ(vuxo_strerror(-number), text) << number;
    }
}

} // namespace
