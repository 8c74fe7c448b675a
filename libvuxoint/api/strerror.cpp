// Result codes in words.
#include <algorithm>
#include <climits>
#include <iterator>

#include "comm.h"
#include "vuxoint.h"

namespace {

struct TransportText {
    int number;
    const char* text;
};

// The transport's error numbers in the words Linux has always shown for them:
// a message reads the same on every platform, and needs no C library's table.
// -COMM_EPERM and -COMM_ENOTCONN are the named VUXO_EREFUSED and VUXO_ECLOSED.
constexpr TransportText kTransportTexts[] = {
    {COMM_ENOENT, "No such file or directory"},
    {COMM_EINTR, "Interrupted system call"},
    {COMM_EIO, "Input/output error"},
    {COMM_ENXIO, "No such device or address"},
    {COMM_EAGAIN, "Resource temporarily unavailable"},
    {COMM_ENOMEM, "Cannot allocate memory"},
    {COMM_EACCES, "Permission denied"},
    {COMM_EBUSY, "Device or resource busy"},
    {COMM_ENODEV, "No such device"},
    {COMM_EINVAL, "Invalid argument"},
    {COMM_ENFILE, "Too many open files in system"},
    {COMM_EMFILE, "Too many open files"},
    {COMM_ENOTTY, "Inappropriate ioctl for device"},
    {COMM_EPIPE, "Broken pipe"},
    {COMM_EDEADLK, "Resource deadlock avoided"},
    {COMM_ENAMETOOLONG, "File name too long"},
    {COMM_ENOSYS, "Function not implemented"},
    {COMM_ENOMSG, "No message of desired type"},
    {COMM_EOVERFLOW, "Value too large for defined data type"},
    {COMM_EMSGSIZE, "Message too long"},
    {COMM_EPROTONOSUPPORT, "Protocol not supported"},
    {COMM_EOPNOTSUPP, "Operation not supported"},
    {COMM_EAFNOSUPPORT, "Address family not supported by protocol"},
    {COMM_EADDRNOTAVAIL, "Cannot assign requested address"},
    {COMM_ENETDOWN, "Network is down"},
    {COMM_ENETUNREACH, "Network is unreachable"},
    {COMM_ECONNABORTED, "Software caused connection abort"},
    {COMM_ECONNRESET, "Connection reset by peer"},
    {COMM_ESHUTDOWN, "Cannot send after transport endpoint shutdown"},
    {COMM_ETIMEDOUT, "Connection timed out"},
    {COMM_ECONNREFUSED, "Connection refused"},
    {COMM_EHOSTDOWN, "Host is down"},
    {COMM_EHOSTUNREACH, "No route to host"},
    {COMM_ECANCELED, "Operation canceled"},
};

} // namespace

extern "C" {

VUXO_API const char* vuxo_strerror(int code) {
    switch (code) {
    case VUXO_OK:
        return "success";
    case VUXO_EINSTRUMENT:
        return "the instrument reported a failure";
    case VUXO_ETIMEOUT:
        return "no answer from the instrument in time";
    case VUXO_EREFUSED:
        return "refused by the library: a bad argument, nothing was sent";
    case VUXO_ECLOSED:
        return "the connection is closed: it ended before or while the command waited";
    default:
        break;
    }
    if (code < 0 && code != INT_MIN) {
        const auto* found =
            std::find_if(std::begin(kTransportTexts), std::end(kTransportTexts),
                         [code](const TransportText& t) { return t.number == -code; });
        return found != std::end(kTransportTexts) ? found->text : "unknown transport error";
    }
    return "unknown result code";
}

} // extern "C"
