// The transport's error numbers in the words Linux shows for them: glibc is the
// reference, so this runs on Linux only; every build uses the same table.
#include <gtest/gtest.h>

#include <cstring>

#include "comm.h"
#include "vuxoint.h"

namespace {

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
