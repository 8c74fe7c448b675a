// Windows' error codes as the library's own error numbers.
#ifndef VUXO_COMM_OS_ERROR_H
#define VUXO_COMM_OS_ERROR_H

namespace comm::os {

// COMM_E* (positive) for a GetLastError() or WSAGetLastError() code; COMM_EIO
// for one the library has no number for.
int from_win32(unsigned long error);

// -from_win32(GetLastError()), -from_win32(WSAGetLastError()).
int last_error();
int last_socket_error();

} // namespace comm::os

#endif
