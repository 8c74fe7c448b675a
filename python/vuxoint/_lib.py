"""The two C libraries, loaded once, with the prototypes this package calls."""

from __future__ import annotations

import ctypes
import os
import sys
from ctypes import (
    CFUNCTYPE,
    POINTER,
    Structure,
    c_char,
    c_char_p,
    c_float,
    c_int,
    c_int32,
    c_size_t,
    c_uint8,
    c_uint32,
    c_void_p,
)
from typing import List, Optional

from . import _paths

CONN_STRING_SIZE = 128
MAX_VALUES = 480
RECORD_MAX = 4063

OK = 0
E_CLOSED = -107  # VUXO_ECLOSED: the connection closed
E_NO_DEVICE = -10002
E_STOPPED = -10007
E_DATABASE = -10009
E_CONN_FORM = -10012
E_NOT_FOUND = -10013

EXPORT_VALUES = 0x01
EXPORT_SI = 0x02
EXPORT_KEY_ORDER = 0x04

STEP_RECORD = 3
STEP_CALLBACK = 4
STEP_IDENTIFY = 5
STEP_DATABASE = 6

PHASE_ENTRIES = 0
PHASE_RECORDS = 1

LOG_KEEP_GOING = 0x01


class Measurement(Structure):
    _fields_ = [
        ("generation", c_int32),
        ("number", c_int32),
        ("id", c_int32),
        ("year", c_int32),
        ("month", c_int32),
        ("day", c_int32),
        ("hour", c_int32),
        ("minute", c_int32),
        ("second", c_int32),
        ("kind", c_int32),
        ("record_flags", c_uint8),
        ("unit_bits", c_uint8),
        ("curve_s", c_uint8),
        ("curve_c", c_uint8),
        ("pin", c_uint8),
        ("error", c_uint8),
        ("diameter", c_uint8),
        ("tag", c_uint8),
        ("susceptibility", c_float),
        ("conductivity", c_float),
        ("susc_units", c_char * 8),
        ("cond_units", c_char * 8),
        ("first_count", c_int32),
        ("value_count", c_int32),
        ("values_decoded", c_int32),
        ("susc_values", c_float * MAX_VALUES),
        ("cond_values", c_float * MAX_VALUES),
        ("marks", c_uint8 * MAX_VALUES),
        ("raw_size", c_uint32),
        ("raw", c_uint8 * RECORD_MAX),
        ("reserved", c_uint8 * 64),
    ]


class Session(Structure):
    _fields_ = [
        ("conn_id", c_int32),
        ("generation", c_int32),
        ("chunk", c_int32),
        ("reserved", c_int32 * 5),
    ]


class Record(Structure):
    _fields_ = [
        ("slot", c_int32),
        ("key", c_uint32),
        ("entry_flags", c_uint8),
        ("raw", POINTER(c_uint8)),
        ("raw_size", c_size_t),
        ("m", POINTER(Measurement)),
        ("note", POINTER(c_uint8)),
        ("note_size", c_size_t),
    ]


RecordFn = CFUNCTYPE(c_int, POINTER(Record), c_void_p)
ProgressFn = CFUNCTYPE(None, c_int, c_uint32, c_uint32, c_void_p)
SkipFn = CFUNCTYPE(c_int, c_int32, c_uint32, c_void_p)
FailureFn = CFUNCTYPE(c_int, c_int32, c_uint32, c_int, c_void_p)
StopFn = CFUNCTYPE(c_int, c_void_p)


class LogOptions(Structure):
    _fields_ = [
        ("struct_size", c_uint32),
        ("flags", c_uint32),
        ("on_record", RecordFn),
        ("progress", ProgressFn),
        ("skip", SkipFn),
        ("skip_pairs", c_void_p),
        ("skip_count", c_size_t),
        ("on_failure", FailureFn),
        ("user", c_void_p),
    ]


class LogReport(Structure):
    _fields_ = [
        ("code", c_int32),
        ("step", c_int32),
        ("slot", c_int32),
        ("key", c_uint32),
        ("entry_count", c_uint32),
        ("entries_read", c_uint32),
        ("to_fetch", c_uint32),
        ("skipped", c_uint32),
        ("fetched", c_uint32),
        ("failed", c_uint32),
        ("reserved", c_uint32 * 6),
    ]


class SyncOptions(Structure):
    _fields_ = [
        ("struct_size", c_uint32),
        ("flags", c_uint32),
        ("serial", c_char_p),
        ("firmware", c_char_p),
        ("progress", ProgressFn),
        ("on_failure", FailureFn),
        ("stop", StopFn),
        ("user", c_void_p),
    ]


ReconnectFn = CFUNCTYPE(c_int, c_int, POINTER(c_int), c_void_p)


class Recovery(Structure):
    _fields_ = [
        ("struct_size", c_uint32),
        ("retries", c_int32),
        ("reconnects", c_int32),
        ("reconnect_pause_ms", c_int32),
        ("reconnect", ReconnectFn),
        ("reserved", c_uint32 * 8),
    ]


class SyncSummary(Structure):
    _fields_ = [
        ("code", c_int32),
        ("step", c_int32),
        ("slot", c_int32),
        ("key", c_uint32),
        ("db_step", c_int32),
        ("generation", c_int32),
        ("entry_count", c_uint32),
        ("stored", c_uint32),
        ("already_held", c_uint32),
        ("failed", c_uint32),
        ("serial", c_char * 16),
        ("firmware", c_char * 16),
        ("db_error", c_char * 256),
        ("not_fetched", c_uint32),
        ("reserved", c_uint32 * 7),
    ]


# Transport-thread callbacks of vuxo_connect.
SinkFn = CFUNCTYPE(c_int, POINTER(c_char), c_size_t, c_void_p)
NoticeFn = CFUNCTYPE(None, c_char_p, c_void_p)


class ExportOptions(Structure):
    _fields_ = [
        ("struct_size", c_uint32),
        ("flags", c_uint32),
        ("format", c_char_p),
        ("instrument", c_char_p),
        ("since", c_char_p),
        ("until", c_char_p),
        ("output", c_char_p),
        ("sink", SinkFn),
        ("notice", NoticeFn),
        ("user", c_void_p),
    ]


ConnectedFn = CFUNCTYPE(c_int, c_int, c_void_p, c_void_p)
ConnErrorFn = CFUNCTYPE(c_int, c_int, c_void_p, c_void_p, c_int)
DisconnectedFn = CFUNCTYPE(None, c_int, c_void_p, c_void_p, c_int)
LiveDataFn = CFUNCTYPE(None, c_int, c_void_p, c_int32, c_int32, c_float, c_float, c_void_p)


def _search_dirs() -> List[str]:
    dirs: List[str] = []
    if _paths.LIBDIR:
        dirs.append(_paths.LIBDIR)
    dirs.extend(d for d in os.environ.get("VUXOINT_LIBDIR", "").split(os.pathsep) if d)
    if sys.platform == "win32":
        # The installer puts the programs and their DLLs in one folder on PATH.
        dirs.extend(d for d in os.environ.get("PATH", "").split(os.pathsep) if d)
    return dirs


def _candidates(name: str) -> List[str]:
    paths = [os.path.join(d, name) for d in _search_dirs()]
    return [p for p in paths if os.path.exists(p)] + [name]


def _load(name: str) -> ctypes.CDLL:
    errors = []
    for path in _candidates(name):
        if sys.platform == "win32" and os.path.isabs(path):
            # Windows' Python no longer looks on PATH for a DLL's own DLLs
            # (libcomm.dll beside libvuxoint.dll): name their folder.
            os.add_dll_directory(os.path.dirname(path))
        try:
            # Global, so that the record layer finds the device library loaded
            # here rather than another copy on the loader's path.
            return ctypes.CDLL(path, mode=ctypes.RTLD_GLOBAL)
        except OSError as e:
            errors.append(str(e))
    raise ImportError(
        f"vuxoint: cannot load {name} (set VUXOINT_LIBDIR to its directory): " + "; ".join(errors)
    )


def library_names(platform: str) -> List[str]:
    """The device library and the record layer, as each platform names them."""
    if platform == "win32":
        return ["libvuxoint.dll", "libvuxodata.dll"]
    return ["libvuxoint.so.1", "libvuxodata.so.1"]


def _declare(lib: ctypes.CDLL, name: str, restype, *argtypes) -> None:
    fn = getattr(lib, name)
    fn.restype = restype
    fn.argtypes = list(argtypes)


dev, data = (_load(name) for name in library_names(sys.platform))

_declare(dev, "vuxo_library_init", c_int)
_declare(dev, "vuxo_library_shut", c_int)
_declare(dev, "vuxo_list_usb_devices", c_int, c_char_p, c_int, POINTER(c_int))
_declare(dev, "vuxo_make_serial_path_conn_string", c_int, c_char_p, c_char_p)
_declare(dev, "vuxo_make_bt_conn_string", c_int, c_char_p, c_char_p, c_char_p)
_declare(dev, "vuxo_make_net_conn_string", c_int, c_char_p, c_char_p, ctypes.c_uint16)
_declare(
    dev,
    "vuxo_connect",
    c_int,
    c_char_p,
    POINTER(c_int),
    c_int,
    ConnectedFn,
    ConnErrorFn,
    DisconnectedFn,
    LiveDataFn,
    c_void_p,
)
_declare(dev, "vuxo_disconnect", c_int, c_int)
_declare(dev, "vuxo_get_type", c_int, c_int)
_declare(dev, "vuxo_get_serial", c_int, c_int, c_char_p)
_declare(dev, "vuxo_get_fw_version", c_int, c_int, c_char_p)
_declare(dev, "vuxo_get_time", c_int, c_int, POINTER(c_int32))
_declare(dev, "vuxo_set_time", c_int, c_int, POINTER(c_int32))

_declare(data, "vuxod_result_text", c_char_p, c_int)
_declare(data, "vuxod_conn_strings", c_int, c_char_p, c_char_p, c_int, POINTER(c_int), c_char_p,
         c_size_t)
_declare(data, "vuxod_export_options_init", None, POINTER(ExportOptions))
_declare(data, "vuxod_export", c_int, c_char_p, POINTER(ExportOptions), c_char_p, c_size_t)
_declare(data, "vuxod_exit_status", c_int, c_int)
_declare(data, "vuxod_escape_text", c_size_t, c_char_p, c_size_t, c_char_p, c_size_t)
_declare(data, "vuxod_step_text", c_char_p, c_int)
_declare(data, "vuxod_session_open", c_int, POINTER(Session), c_int)
_declare(data, "vuxod_fetch_measurement", c_int, POINTER(Session), c_int32, POINTER(Measurement))
_declare(data, "vuxod_log_options_init", None, POINTER(LogOptions))
_declare(data, "vuxod_read_log", c_int, POINTER(Session), POINTER(LogOptions), POINTER(LogReport))
_declare(data, "vuxod_sync_options_init", None, POINTER(SyncOptions))
_declare(data, "vuxod_recovery_init", None, POINTER(Recovery))
_declare(
    data, "vuxod_sync_recovering", c_int, c_int, c_char_p, POINTER(SyncOptions),
    POINTER(Recovery), POINTER(SyncSummary)
)
_declare(
    data, "vuxod_sync", c_int, c_int, c_char_p, POINTER(SyncOptions), POINTER(SyncSummary)
)


def result_text(code: int) -> str:
    return data.vuxod_result_text(code).decode()


def step_text(step: int) -> str:
    return data.vuxod_step_text(step).decode()


def text(field: bytes, limit: Optional[int] = None) -> str:
    return field_bytes(field, limit).decode("latin-1")


def field_bytes(field: bytes, limit: Optional[int] = None) -> bytes:
    """A text field's bytes up to its first zero: the instrument's own, not
    necessarily text in any encoding."""
    raw = bytes(field)[:limit] if limit else bytes(field)
    return raw.split(b"\0", 1)[0]


def shown(raw: bytes) -> str:
    """Bytes as every front shows them (the record layer's one escape rule):
    printable text as it is, a backslash doubled, any other byte as \\xNN."""
    out = ctypes.create_string_buffer(len(raw) * 4 + 1)
    n = data.vuxod_escape_text(raw, len(raw), out, len(out))
    return out.raw[:n].decode()
