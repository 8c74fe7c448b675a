"""CONN: the connection forms a user types, as the vuxoint tool takes them.

``tcp://HOST:PORT`` (``tcp://[ADDRESS]:PORT`` for IPv6), a device path
(``/dev/ttyUSB0``), ``bt://XX:XX:XX:XX:XX:XX``, ``usb`` (the first instrument
found), ``usb:SERIAL``, or a raw connection string (``NET:...``, ``SER:...``,
``BT:...``, ``USBF:...``, ``USBS:...``, ``USBU:...``).
"""

from __future__ import annotations

import ctypes
import re
from typing import List

from . import _lib
from .errors import VuxointError, check

_RAW_PREFIXES = ("SER:", "NET:", "BT:", "USBF:", "USBS:", "USBU:")
_BT = re.compile(r"^[0-9A-Fa-f]{2}(:[0-9A-Fa-f]{2}){5}$")


class ConnTargetError(VuxointError, ValueError):
    """CONN is not one of the forms the package takes."""

    def __init__(self, conn: str, why: str) -> None:
        super().__init__(-1, f'CONN "{conn}"', why)


def list_usb() -> List[str]:
    """Connection strings of the attached USB instruments (the library must be started)."""
    capacity = 32
    buf = ctypes.create_string_buffer(capacity * _lib.CONN_STRING_SIZE)
    count = ctypes.c_int(0)
    _lib.dev.vuxo_list_usb_devices(buf, capacity, ctypes.byref(count))
    raw = buf.raw
    return [
        _lib.text(raw[i * _lib.CONN_STRING_SIZE : (i + 1) * _lib.CONN_STRING_SIZE])
        for i in range(min(count.value, capacity))
    ]


def _built(fn, *args) -> str:
    out = ctypes.create_string_buffer(_lib.CONN_STRING_SIZE)
    check(fn(out, *args), "build the connection string")
    return _lib.text(out.raw)


def _tcp(conn: str, rest: str) -> List[str]:
    host, sep, digits = rest.rpartition(":")
    if not sep:
        raise ConnTargetError(conn, "tcp:// needs HOST:PORT")
    if len(host) >= 2 and host[0] == "[" and host[-1] == "]":
        host = host[1:-1]
    elif ":" in host:
        raise ConnTargetError(conn, "an IPv6 address goes in brackets: tcp://[ADDRESS]:PORT")
    if not digits.isdigit() or not 1 <= int(digits) <= 65535:
        raise ConnTargetError(conn, "the port must be a number from 1 to 65535")
    if not host or any(c in host for c in ",/ "):
        raise ConnTargetError(conn, "tcp:// needs a host name or address before the port")
    return [_built(_lib.dev.vuxo_make_net_conn_string, host.encode(), int(digits))]


def conn_strings(conn: str) -> List[str]:
    """The connection strings to try for CONN, in order (the library must be started)."""
    if not conn:
        raise ConnTargetError(conn, "empty")
    if len(conn) > _lib.CONN_STRING_SIZE - 1:
        raise ConnTargetError(conn, "longer than 127 characters")
    if conn.startswith("tcp://"):
        return _tcp(conn, conn[6:])
    if conn.startswith("bt://"):
        if not _BT.match(conn[5:]):
            raise ConnTargetError(conn, "bt:// needs an address of the form XX:XX:XX:XX:XX:XX")
        return [_built(_lib.dev.vuxo_make_bt_conn_string, conn[5:].encode(), b"")]
    if conn == "usb":
        found = list_usb()
        if not found:
            raise ConnTargetError(conn, "list USB instruments: none found")
        return found[:1]
    if conn.startswith("usb:"):
        serial = conn[4:]
        if not serial or "/" in serial or " " in serial:
            raise ConnTargetError(conn, "usb: needs a USB serial number without spaces or slashes")
        # The listing names ports; a USB connection string may name the
        # instrument's serial number instead, under each product id listed.
        out: List[str] = []
        for entry in list_usb():
            slash = entry.rfind("/")
            if slash >= 0 and len(entry) >= 4:
                text = entry[:4] + ":" + serial + entry[slash:]
                if text not in out:
                    out.append(text)
        if not out:
            raise ConnTargetError(conn, "list USB instruments: none found")
        return out
    if conn.startswith(("/", "./", "../")):
        return [_built(_lib.dev.vuxo_make_serial_path_conn_string, conn.encode())]
    if conn.startswith(_RAW_PREFIXES):
        return [conn]
    raise ConnTargetError(
        conn, "not tcp://HOST:PORT, a device path, bt://ADDRESS, usb, usb:SERIAL or a connection string"
    )
