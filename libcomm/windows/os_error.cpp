// One table from Windows' codes (system and Winsock) to the library's numbers.
#include "os_error.h"

#include <winsock2.h> // before windows.h, which it includes

#include "comm.h"

namespace comm::os {

int from_win32(unsigned long error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return COMM_ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return COMM_EBUSY; // a serial port another program holds open
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return COMM_ENOMEM;
    case ERROR_TOO_MANY_OPEN_FILES:
    case WSAEMFILE:
        return COMM_EMFILE;
    case ERROR_INVALID_PARAMETER:
    case WSAEINVAL:
        return COMM_EINVAL;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
        return COMM_EPIPE;
    case ERROR_NOT_READY:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_OPERATION_ABORTED:
        return COMM_ENODEV; // how drivers report an unplugged adapter
    case ERROR_FILENAME_EXCED_RANGE:
        return COMM_ENAMETOOLONG;
    case ERROR_CALL_NOT_IMPLEMENTED:
    case ERROR_NOT_SUPPORTED:
        return COMM_ENOSYS;
    case ERROR_TIMEOUT:
    case WAIT_TIMEOUT:
    case WSAETIMEDOUT:
        return COMM_ETIMEDOUT;
    case ERROR_CANCELLED:
        return COMM_ECANCELED;
    case WSAEINTR:
        return COMM_EINTR;
    case WSAEACCES:
        return COMM_EACCES;
    case WSAEWOULDBLOCK:
        return COMM_EAGAIN;
    case WSAEMSGSIZE:
        return COMM_EMSGSIZE;
    case WSAEPROTONOSUPPORT:
    case WSAESOCKTNOSUPPORT:
        return COMM_EPROTONOSUPPORT;
    case WSAEOPNOTSUPP:
        return COMM_EOPNOTSUPP;
    case WSAEAFNOSUPPORT:
    case WSAEPFNOSUPPORT:
        return COMM_EAFNOSUPPORT;
    case WSAEADDRNOTAVAIL:
        return COMM_EADDRNOTAVAIL;
    case WSAENETDOWN:
        return COMM_ENETDOWN;
    case WSAENETUNREACH:
        return COMM_ENETUNREACH;
    case WSAECONNABORTED:
        return COMM_ECONNABORTED;
    case WSAECONNRESET:
    case WSAENETRESET:
        return COMM_ECONNRESET;
    case WSAENOTCONN:
        return COMM_ENOTCONN;
    case WSAESHUTDOWN:
        return COMM_ESHUTDOWN;
    case WSAECONNREFUSED:
        return COMM_ECONNREFUSED;
    case WSAEHOSTDOWN:
        return COMM_EHOSTDOWN;
    case WSAEHOSTUNREACH:
    case WSAHOST_NOT_FOUND:
    case WSANO_DATA:
        return COMM_EHOSTUNREACH;
    default:
        return COMM_EIO;
    }
}

int last_error() {
    return -from_win32(GetLastError());
}

int last_socket_error() {
    return -from_win32(static_cast<unsigned long>(WSAGetLastError()));
}

} // namespace comm::os
