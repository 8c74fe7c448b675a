"""CONN: the connection forms a user types, read by the record layer as the
vuxoint tool reads them (vuxod_conn_strings).

``tcp://HOST:PORT`` (``tcp://[ADDRESS]:PORT`` for IPv6), a device path
(``/dev/ttyUSB0``), ``bt://XX:XX:XX:XX:XX:XX``, ``usb`` (the first instrument
found), ``usb:SERIAL``, or a raw connection string (``NET:...``, ``SER:...``,
``BT:...``, ``USBF:...``, ``USBS:...``, ``USBU:...``).
"""

from __future__ import annotations

import ctypes
from typing import List

from . import _lib
from .errors import ConnectionError, VuxointError, error_for

_CAPACITY = 32


class ConnTargetError(VuxointError, ValueError):
    """CONN is not one of the forms the package takes."""


def list_usb() -> List[str]:
    """Connection strings of the attached USB instruments (the library must be started)."""
    buf = ctypes.create_string_buffer(_CAPACITY * _lib.CONN_STRING_SIZE)
    count = ctypes.c_int(0)
    _lib.dev.vuxo_list_usb_devices(buf, _CAPACITY, ctypes.byref(count))
    return _strings(buf.raw, count.value)


def _strings(raw: bytes, count: int) -> List[str]:
    size = _lib.CONN_STRING_SIZE
    return [_lib.text(raw[i * size : (i + 1) * size]) for i in range(min(count, _CAPACITY))]


def conn_strings(conn: str) -> List[str]:
    """The connection strings to try for CONN, in order (the library must be started)."""
    out = ctypes.create_string_buffer(_CAPACITY * _lib.CONN_STRING_SIZE)
    count = ctypes.c_int(0)
    why = ctypes.create_string_buffer(512)
    rc = _lib.data.vuxod_conn_strings(conn.encode(), out, _CAPACITY, ctypes.byref(count), why,
                                      len(why))
    if rc == _lib.OK:
        return _strings(out.raw, count.value)
    message = why.value.decode(errors="backslashreplace")
    if rc == _lib.E_CONN_FORM:
        raise ConnTargetError.said(rc, message)
    if rc == _lib.E_NOT_FOUND:
        raise ConnectionError.said(rc, message)
    raise type(error_for(rc)).said(rc, message)
