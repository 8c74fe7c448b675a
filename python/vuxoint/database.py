"""A synced database, read through the record layer's export, so that Python
sees exactly the rows `vuxoint export` writes (docs/export-format.md).

    db = vuxoint.open_db("survey.db")
    for m in db.measurements(instrument="A0000456", since="2026-06-01"):
        print(m["taken_at"], m["kind"], m["susceptibility"], m["susceptibility_units"])
    frame = db.to_pandas(si=True)   # with pandas installed
"""

from __future__ import annotations

import ctypes
import json
import os
import sys
import warnings
from datetime import date, datetime
from typing import Any, Callable, Dict, List, Optional, Union

from . import _lib
from .errors import DatabaseError, VuxointError

PathLike = Union[str, bytes, "os.PathLike[Any]"]
When = Union[None, str, date, datetime]
Row = Dict[str, Any]


class ExportError(VuxointError, ValueError):
    """An option the export does not take: a format, a date, a period."""


def _when(value: When) -> Optional[bytes]:
    if value is None:
        return None
    if isinstance(value, datetime):
        return value.replace(tzinfo=None, microsecond=0).isoformat().encode()
    if isinstance(value, date):
        return value.isoformat().encode()
    return str(value).encode()


def export(database: PathLike, *, format: str = "csv", instrument: Optional[str] = None,
           since: When = None, until: When = None, readings: bool = False, si: bool = False,
           order: str = "time", output: Optional[PathLike] = None,
           sink: Optional[Callable[[bytes], None]] = None,
           notice: Optional[Callable[[str], None]] = None) -> int:
    """Runs the record layer's export; returns its result code and raises nothing
    for a failed export (the message goes to notice, as the tool's would to its
    standard error). With sink the bytes go there; else to output (a file name),
    else to the process's standard output."""
    def on_sink(data, size, user):
        try:
            sink(ctypes.string_at(data, size))  # type: ignore[misc]
            return 0
        except Exception:  # noqa: BLE001  (no exception may cross the C library)
            return 1

    def on_notice(text, user):
        if notice is not None:
            notice(text.decode(errors="backslashreplace"))

    o = _lib.ExportOptions()
    _lib.data.vuxod_export_options_init(ctypes.byref(o))
    o.flags = ((_lib.EXPORT_VALUES if readings else 0) | (_lib.EXPORT_SI if si else 0)
               | (_lib.EXPORT_KEY_ORDER if order == "key" else 0))
    o.format = format.encode()
    o.instrument = instrument.encode() if instrument else None
    o.since = _when(since)
    o.until = _when(until)
    o.output = os.fsencode(output) if output is not None else None
    keep = (_lib.SinkFn(on_sink) if sink is not None else _lib.SinkFn(),
            _lib.NoticeFn(on_notice))
    o.sink, o.notice = keep
    message = ctypes.create_string_buffer(1024)
    if sink is None:
        # The library writes the process's standard output through C's stdio.
        sys.stdout.flush()
    rc = _lib.data.vuxod_export(os.fsencode(database), ctypes.byref(o), message, len(message))
    if rc != _lib.OK and notice is not None:
        notice(message.value.decode(errors="backslashreplace"))
    return rc


class Database:
    """A vuxoint database opened for reading; nothing in it is ever changed."""

    def __init__(self, path: PathLike) -> None:
        self.path = path
        # Opened once now, so that a missing file or another file fails here.
        self._rows(False, {"since": "9999-12-31"})

    def _rows(self, readings: bool, filters: Dict[str, Any]) -> List[Row]:
        chunks: List[bytes] = []
        said: List[str] = []
        rc = export(self.path, format="ndjson", readings=readings, sink=chunks.append,
                    notice=said.append, **filters)
        if rc == _lib.E_DATABASE:
            raise DatabaseError.said(rc, said[-1])
        if rc != _lib.OK:
            raise ExportError.said(rc, said[-1] if said else _lib.result_text(rc))
        for text in said:
            warnings.warn(text, stacklevel=3)
        return [json.loads(line) for line in b"".join(chunks).splitlines()]

    def measurements(self, instrument: Optional[str] = None, since: When = None,
                     until: When = None, si: bool = False, order: str = "time") -> List[Row]:
        """One dict per measurement, the export's columns as keys, in time order
        (order="key": the instrument's). instrument is the serial number as shown."""
        return self._rows(False, dict(instrument=instrument, since=since, until=until, si=si,
                                      order=order))

    def scans(self, instrument: Optional[str] = None, since: When = None, until: When = None,
              si: bool = False, order: str = "time") -> List[Row]:
        """One dict per reading: a scan's profile values and a single measurement's
        readings, each with its measurement's instrument, slot, key and time."""
        return self._rows(True, dict(instrument=instrument, since=since, until=until, si=si,
                                     order=order))

    @property
    def notes(self) -> List[Row]:
        """The measurements whose entry carries a note (note_text holds a V1 note's text)."""
        return [m for m in self.measurements() if m["note"]]

    def to_pandas(self, readings: bool = False, **filters: Any) -> "Any":
        """The measurements (readings=True: the readings) as a pandas DataFrame,
        taken_at and downloaded_at as datetimes. Needs pandas."""
        try:
            import pandas
        except ImportError as e:
            raise ImportError("Database.to_pandas needs pandas (Debian: python3-pandas)") from e
        rows = self.scans(**filters) if readings else self.measurements(**filters)
        frame = pandas.DataFrame(rows)
        for column in ("taken_at", "downloaded_at"):
            if column in frame:
                frame[column] = pandas.to_datetime(frame[column], errors="coerce")
        return frame

    def __repr__(self) -> str:
        return f"vuxoint.open_db({self.path!r})"


def open_db(path: PathLike) -> Database:
    """Opens a database `vuxoint sync` (or `Meter.sync`) wrote, for reading."""
    return Database(path)
