"""One measurement as the instrument stored it, decoded."""

from __future__ import annotations

import ctypes
from array import array
from dataclasses import dataclass, field, fields
from datetime import datetime
from typing import Any, Dict, Optional, Tuple

from . import _lib

KINDS = {0: "none", 1: "single", 2: "scan", 3: "other"}


@dataclass(frozen=True)
class Measurement:
    """A stored measurement of either generation.

    `taken_at` is the instrument's own clock (no time zone), None when the record
    holds no valid date (`year` .. `second` keep what it holds). `susceptibility`
    is kappa on a V1; `conductivity` and its units are None on a V1. `values` are
    the scan's susceptibility values, `conductivity_values` the V2 scan's
    conductivities (empty on a V1), `marks` which values are marked. `slot` and
    `key` say where the record sits in the instrument's log (`key` is None for a
    record fetched by slot alone, as `Meter.watch` does). `raw` is the record as
    the instrument sent it. `note` says the entry carries a note; `note_text` is a
    V1 note's text as shown (bytes that are not UTF-8 escaped), None when it was not
    read (V2 instruments offer no command to read theirs).
    """

    generation: str
    slot: int
    key: Optional[int]
    note: bool
    number: int
    id: int
    taken_at: Optional[datetime]
    kind: str
    susceptibility: float
    units: str
    conductivity: Optional[float]
    conductivity_units: Optional[str]
    curve_s: int
    curve_c: int
    unit_bits: int
    record_flags: int
    pin: int
    error: int
    diameter: int
    tag: int
    first_count: int
    value_count: int
    values: array = field(repr=False)
    conductivity_values: array = field(repr=False)
    marks: Tuple[bool, ...] = field(repr=False)
    year: int = 0
    month: int = 0
    day: int = 0
    hour: int = 0
    minute: int = 0
    second: int = 0
    note_text: Optional[str] = None
    raw: bytes = field(default=b"", repr=False)

    def to_dict(self) -> Dict[str, Any]:
        """The fields as plain Python values: arrays become lists, marks a list."""
        out: Dict[str, Any] = {}
        for f in fields(self):
            value = getattr(self, f.name)
            if isinstance(value, (array, tuple)):
                value = list(value)
            out[f.name] = value
        return out


def _floats(values: Any, count: int) -> array:
    out = array("f")
    out.frombytes(ctypes.string_at(ctypes.addressof(values), 4 * count))
    return out


def _taken_at(m: _lib.Measurement) -> Optional[datetime]:
    try:
        return datetime(m.year, m.month, m.day, m.hour, m.minute, m.second)
    except ValueError:
        return None


def from_c(m: _lib.Measurement, slot: int, key: Optional[int], entry_flags: int,
           note: Optional[bytes] = None) -> Measurement:
    """Copies a decoded record out of the library's struct."""
    v2 = m.generation == 1
    n = max(0, min(m.values_decoded, _lib.MAX_VALUES))
    return Measurement(
        generation="V2" if v2 else "V1",
        slot=slot,
        key=key,
        note=bool(entry_flags & 1),
        note_text=None if note is None else _lib.shown(note),
        number=m.number,
        id=m.id,
        taken_at=_taken_at(m),
        kind=KINDS.get(m.kind, "other"),
        susceptibility=m.susceptibility,
        units=_lib.text(m.susc_units),
        conductivity=m.conductivity if v2 else None,
        conductivity_units=_lib.text(m.cond_units) if v2 else None,
        curve_s=m.curve_s,
        curve_c=m.curve_c,
        unit_bits=m.unit_bits,
        record_flags=m.record_flags,
        pin=m.pin,
        error=m.error,
        diameter=m.diameter,
        tag=m.tag,
        first_count=m.first_count,
        value_count=m.value_count,
        values=_floats(m.susc_values, n),
        conductivity_values=_floats(m.cond_values, n if v2 else 0),
        marks=tuple(bool(b) for b in bytes(m.marks)[:n]),
        year=m.year,
        month=m.month,
        day=m.day,
        hour=m.hour,
        minute=m.minute,
        second=m.second,
        raw=ctypes.string_at(ctypes.addressof(m.raw), min(m.raw_size, _lib.RECORD_MAX)),
    )
