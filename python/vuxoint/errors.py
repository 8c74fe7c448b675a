"""Exceptions: every failure carries the library's result code and its text."""

from __future__ import annotations

import builtins
import errno
from typing import Optional

from . import _lib


# The transport's error numbers by name: the library's own, the same on every
# platform (each equals the Linux errno of its name). Python's errno module
# has the platform's numbers, which differ on Windows.
_TRANSPORT_ERRORS = {
    "EPERM": 1,
    "ENOENT": 2,
    "EINTR": 4,
    "EIO": 5,
    "ENXIO": 6,
    "EAGAIN": 11,
    "ENOMEM": 12,
    "EACCES": 13,
    "EBUSY": 16,
    "ENODEV": 19,
    "EINVAL": 22,
    "ENFILE": 23,
    "EMFILE": 24,
    "ENOTTY": 25,
    "EPIPE": 32,
    "EDEADLK": 35,
    "ENAMETOOLONG": 36,
    "ENOSYS": 38,
    "ENOMSG": 42,
    "EOVERFLOW": 75,
    "EMSGSIZE": 90,
    "EPROTONOSUPPORT": 93,
    "EOPNOTSUPP": 95,
    "EAFNOSUPPORT": 97,
    "EADDRNOTAVAIL": 99,
    "ENETDOWN": 100,
    "ENETUNREACH": 101,
    "ECONNABORTED": 103,
    "ECONNRESET": 104,
    "ENOTCONN": 107,
    "ESHUTDOWN": 108,
    "ETIMEDOUT": 110,
    "ECONNREFUSED": 111,
    "EHOSTDOWN": 112,
    "EHOSTUNREACH": 113,
    "ECANCELED": 125,
}
_TRANSPORT_NAMES = {number: name for name, number in _TRANSPORT_ERRORS.items()}


def _platform_errno(number: int) -> Optional[int]:
    """This platform's errno of the transport error's name; None where it has none."""
    name = _TRANSPORT_NAMES.get(number)
    return getattr(errno, name, None) if name else None


class VuxointError(Exception):
    """A call to the instrument failed.

    `code` is the library's result code (1: the instrument reported a failure;
    255: no answer; negative: the connection's error number or a refusal of the
    record layer); `text` says it in words; `step` what was being done.
    """

    def __init__(self, code: int, step: str = "", text: str = "", number: str = "") -> None:
        self.code = code
        self.step = step
        self.text = text or _lib.result_text(code)
        said = f"{self.text} ({number or code})"
        super().__init__(f"{step}: {said}" if step else said)

    @classmethod
    def said(cls, code: int, message: str) -> "VuxointError":
        """The error with the record layer's whole message, as every front prints it."""
        e = cls(code, "", message)
        e.args = (message,)
        return e

    def __str__(self) -> str:
        # The message as built above, also for the OSError subclasses, which
        # would otherwise show "[Errno N] ..." once errno is set.
        return str(self.args[0]) if self.args else ""


class TimeoutError(VuxointError, builtins.TimeoutError):
    """The instrument did not answer within the command's time-out (code 255)."""


class InstrumentError(VuxointError):
    """The instrument refused or failed a command, or sent a record it cannot hold."""


class ConnectionError(VuxointError, builtins.ConnectionError):
    """No connection, or the connection was lost.

    When the operating system refused the connection itself (nothing listens
    on the port, no such device, a serial port in use), `errno` and `strerror`
    say why, as for any OSError (`errno` compares with this platform's `errno`
    module), and `code` is the library's negated error number.
    """

    @classmethod
    def from_os(cls, os_error: int, step: str) -> "ConnectionError":
        """The error for a connection the transport failed with its error number os_error."""
        e = cls(-os_error, step, _lib.result_text(-os_error), f"errno {os_error}")
        e.errno = _platform_errno(os_error)
        e.strerror = e.text
        return e


class DatabaseError(VuxointError):
    """The sync database could not be opened, read or written."""


def error_for(code: int, step: str = "", text: str = "") -> VuxointError:
    """The exception that fits a nonzero result code."""
    if code == 255:
        return TimeoutError(code, step, text)
    if code == _lib.E_DATABASE:
        return DatabaseError(code, step, text)
    if code == _lib.E_NO_DEVICE or -4096 < code < 0 and code != -1:
        return ConnectionError(code, step, text)
    if code == 1 or code in (-10003, -10004):
        return InstrumentError(code, step, text)
    return VuxointError(code, step, text)


def check(code: int, step: str = "") -> None:
    """Raises the fitting exception for a nonzero result."""
    if code != 0:
        raise error_for(code, step)


__all__ = [
    "VuxointError",
    "TimeoutError",
    "InstrumentError",
    "ConnectionError",
    "DatabaseError",
    "error_for",
    "check",
]
