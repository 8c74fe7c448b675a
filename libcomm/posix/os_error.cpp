// errno values differ between systems; the library's numbers do not.
#include "os_error.h"

#include <cerrno>

#include "comm.h"

namespace comm::os {

int from_errno(int error) {
    switch (error) {
    case EPERM:
        return COMM_EPERM;
    case ENOENT:
        return COMM_ENOENT;
    case EINTR:
        return COMM_EINTR;
    case EIO:
        return COMM_EIO;
    case ENXIO:
        return COMM_ENXIO;
    case EAGAIN:
        return COMM_EAGAIN;
    case ENOMEM:
        return COMM_ENOMEM;
    case EACCES:
        return COMM_EACCES;
    case EBUSY:
        return COMM_EBUSY;
    case ENODEV:
        return COMM_ENODEV;
    case EINVAL:
        return COMM_EINVAL;
    case ENFILE:
        return COMM_ENFILE;
    case EMFILE:
        return COMM_EMFILE;
    case ENOTTY:
        return COMM_ENOTTY;
    case EPIPE:
        return COMM_EPIPE;
    case EDEADLK:
        return COMM_EDEADLK;
    case ENAMETOOLONG:
        return COMM_ENAMETOOLONG;
    case ENOSYS:
        return COMM_ENOSYS;
    case ENOMSG:
        return COMM_ENOMSG;
    case EOVERFLOW:
        return COMM_EOVERFLOW;
    case EMSGSIZE:
        return COMM_EMSGSIZE;
    case EPROTONOSUPPORT:
        return COMM_EPROTONOSUPPORT;
    case EOPNOTSUPP:
        return COMM_EOPNOTSUPP;
    case EAFNOSUPPORT:
        return COMM_EAFNOSUPPORT;
    case EADDRNOTAVAIL:
        return COMM_EADDRNOTAVAIL;
    case ENETDOWN:
        return COMM_ENETDOWN;
    case ENETUNREACH:
        return COMM_ENETUNREACH;
    case ECONNABORTED:
        return COMM_ECONNABORTED;
    case ECONNRESET:
        return COMM_ECONNRESET;
    case ENOTCONN:
        return COMM_ENOTCONN;
    case ESHUTDOWN:
        return COMM_ESHUTDOWN;
    case ETIMEDOUT:
        return COMM_ETIMEDOUT;
    case ECONNREFUSED:
        return COMM_ECONNREFUSED;
    case EHOSTDOWN:
        return COMM_EHOSTDOWN;
    case EHOSTUNREACH:
        return COMM_EHOSTUNREACH;
    case ECANCELED:
        return COMM_ECANCELED;
    default:
        return COMM_EIO;
    }
}

int last_error() {
    return -from_errno(errno);
}

} // namespace comm::os
