"""vuxoint: the magnetic susceptibility and conductivity meter from Python.

    import vuxoint
    with vuxoint.connect("tcp://127.0.0.1:5000") as meter:
        print(meter.generation, meter.serial, meter.firmware, meter.clock)
        for m in meter.measurements():
            print(m.number, m.taken_at, m.kind, m.susceptibility, m.units, len(m.values))
        meter.sync("survey.db")

The package runs over the installed libvuxoint and libvuxodata (set
VUXOINT_LIBDIR to their directory when they are elsewhere). Failures raise
`vuxoint.TimeoutError`, `InstrumentError`, `ConnectionError` or
`DatabaseError`, all `VuxointError`s carrying the library's `code` and `text`.
`vuxoint.to_pandas(measurements)` exists when pandas is installed.
`vuxoint.open_db(path)` reads a synced database as `vuxoint export` writes it.
"""

from __future__ import annotations

from importlib import metadata as _metadata
from typing import Any

from .conn import ConnTargetError
from .database import Database, ExportError, open_db
from .errors import ConnectionError, DatabaseError, InstrumentError, TimeoutError, VuxointError
from .measurement import Measurement
from .meter import Meter, SyncResult, connect, list_instruments

try:
    # Written by cmake from the project's version when the package is installed.
    from ._version import VERSION as __version__
except ImportError:
    # Installed with pip, the metadata carries it; run from the source tree, nothing does.
    try:
        __version__ = _metadata.version("vuxoint")
    except _metadata.PackageNotFoundError:
        __version__ = "0+unknown"

__all__ = [
    "connect",
    "open_db",
    "Database",
    "ExportError",
    "list_instruments",
    "Meter",
    "Measurement",
    "SyncResult",
    "VuxointError",
    "TimeoutError",
    "InstrumentError",
    "ConnectionError",
    "DatabaseError",
    "ConnTargetError",
]


def __getattr__(name: str) -> Any:
    # pandas is never a dependency: to_pandas appears only where it imports.
    if name == "to_pandas":
        try:
            from ._pandas import to_pandas
        except ImportError as e:
            raise AttributeError("vuxoint.to_pandas needs pandas, which is not installed") from e
        return to_pandas
    raise AttributeError(f"module 'vuxoint' has no attribute {name!r}")
