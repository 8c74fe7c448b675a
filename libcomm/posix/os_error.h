// The OS's errno as the library's own error number.
#ifndef VUXO_COMM_OS_ERROR_H
#define VUXO_COMM_OS_ERROR_H

namespace comm::os {

// COMM_E* (positive) for a positive errno; COMM_EIO for one the library has
// no number for.
int from_errno(int error);

// -from_errno(errno): the result of a call that just failed.
int last_error();

} // namespace comm::os

#endif
