"""A connected instrument: identity, clock, measurements, sync and watch.

Every library call runs on a worker thread of the meter's while the calling
thread waits on a queue in short steps, so Ctrl-C reaches a waiting call within
a fraction of a second. One call at a time runs on a connection; a call made
while an interrupted one is still finishing waits for it. The library's own
callbacks arrive on the transport's thread and only put events into a queue:
nothing there calls back into the library.
"""

from __future__ import annotations

import atexit
import ctypes
import itertools
import os
import queue
import threading
import time
import weakref
from dataclasses import dataclass
from datetime import datetime
from typing import Any, Callable, Dict, Iterator, List, Optional, Tuple, Union

from . import _lib
from .conn import conn_strings, list_usb
from .errors import ConnectionError, DatabaseError, VuxointError, check, error_for
from .measurement import Measurement, from_c

# How often a waiting thread looks up from its queue (and so sees Ctrl-C).
_POLL_SECONDS = 0.2
# Codes of a live-data message that report a newly stored measurement.
_NEW_MEASUREMENT_CODES = (133, 256)

ProgressHook = Callable[[str, int, int], None]

_state_lock = threading.Lock()
_started = False
_open_meters: "weakref.WeakSet[Meter]" = weakref.WeakSet()


class _Link:
    """One connection's share of the transport thread's reports: its live
    events, whether it was lost, and the OS error that failed it, if any."""

    __slots__ = ("live", "lost", "os_error")

    def __init__(self, live: "Optional[queue.SimpleQueue[Tuple[str, int, int]]]" = None,
                 lost: Optional[threading.Event] = None) -> None:
        self.live: "queue.SimpleQueue[Tuple[str, int, int]]" = (
            queue.SimpleQueue() if live is None else live)
        self.lost = threading.Event() if lost is None else lost
        self.os_error = 0


# What the transport's thread reports about a connection goes to that
# connection's _Link, found by the number vuxo_connect hands back as user data.
# A number is never used twice, so a late callback of a connection given up on
# finds nothing. The entry goes when the disconnected callback, the
# connection's last, has run; connecting and closing every few seconds
# for months leaves nothing behind.
_connections: Dict[int, _Link] = {}
_numbers = itertools.count(1)


def _on_live(conn_id, link, code, value, first, second, user) -> None:  # transport's thread
    state = _connections.get(user or 0)
    if state is not None:
        state.live.put(("live", code, value))


def _on_conn_error(conn_id, link, user, os_error) -> int:  # transport's thread
    # Arrives before a failed vuxo_connect returns, which only says 255.
    state = _connections.get(user or 0)
    if state is not None:
        state.os_error = os_error
    return 0


def _on_gone(conn_id, link, user, os_error) -> None:  # transport's thread
    state = _connections.pop(user or 0, None)
    if state is not None:
        state.lost.set()
        state.live.put(("gone", os_error, 0))


# One C entry point each for the whole process, rather than a pair per
# connection: a per-connection one would have to stay alive until the library's
# last call through it had returned, which no Python code can see, and freeing
# it any earlier crashes the transport's thread.
_ON_LIVE = _lib.LiveDataFn(_on_live)
_ON_CONN_ERROR = _lib.ConnErrorFn(_on_conn_error)
_ON_GONE = _lib.DisconnectedFn(_on_gone)


def _shut() -> None:
    for meter in list(_open_meters):
        meter.close()
    if _started:
        _lib.dev.vuxo_library_shut()


def _start() -> None:
    global _started
    with _state_lock:
        if _started:
            return
        check(-1 if _lib.dev.vuxo_library_init() != 0 else 0, "start the transport")
        _started = True
        atexit.register(_shut)


def list_instruments() -> List[str]:
    """Connection strings of the instruments attached over USB."""
    _start()
    return list_usb()


@dataclass(frozen=True)
class SyncResult:
    """What `Meter.sync` did: records newly stored, already held, failed.

    `first_failure` is the first record the instrument failed to deliver (the
    sync went on with the others; the next sync tries it again).
    """

    serial: str
    generation: str
    database: str
    entries: int
    new: int
    already_held: int
    failed: int
    not_fetched: int = 0
    first_failure: Optional[VuxointError] = None


def _acquire(lock: threading.Lock) -> None:
    while not lock.acquire(timeout=_POLL_SECONDS):
        pass


def _phase(phase: int) -> str:
    return "entries" if phase == _lib.PHASE_ENTRIES else "records"


class Meter:
    """An open connection to one instrument; use `connect` to make one.

    Attributes: `conn` (what was asked for), `conn_string` (what the library
    was given), `generation` ("V1" or "V2"), `serial`, `firmware`.
    `serial_bytes` and `firmware_bytes` are the instrument's own bytes, the
    instrument's identity in a database; `serial` and `firmware` show them as
    every front does (a byte that is not printable text as \\xNN).
    """

    def __init__(self, conn: str) -> None:
        self.conn = conn
        self.conn_string = ""
        self.generation = ""
        self.serial = ""
        self.firmware = ""
        self.serial_bytes = b""
        self.firmware_bytes = b""
        self._conn_id = -1
        self._busy = threading.Lock()
        self._live: "queue.SimpleQueue[Tuple[str, int, int]]" = queue.SimpleQueue()
        self._session = _lib.Session()
        self._gone: Optional[int] = None
        self._lost = threading.Event()

    # ---- running library calls --------------------------------------------

    def _stream(self, target: Callable[[Callable[[Any], None], threading.Event], Any]):
        """Runs target(emit, stop) on a worker thread and yields what it emits;
        the generator's return value is target's. Leaving early (Ctrl-C, a
        closed generator) sets stop."""
        _acquire(self._busy)
        events: "queue.SimpleQueue[Tuple[str, Any]]" = queue.SimpleQueue()
        stop = threading.Event()

        def run() -> None:
            try:
                events.put(("done", target(events.put, stop)))
            except BaseException as e:  # handed to the waiting thread
                events.put(("raise", e))
            finally:
                self._busy.release()

        try:
            threading.Thread(target=run, name="vuxoint-call", daemon=True).start()
        except BaseException:
            self._busy.release()
            raise
        try:
            while True:
                try:
                    kind, value = events.get(timeout=_POLL_SECONDS)
                except queue.Empty:
                    continue
                if kind == "done":
                    return value
                if kind == "raise":
                    raise value
                yield kind, value
        finally:
            stop.set()

    def _call(self, fn: Callable[[], Any]) -> Any:
        gen = self._stream(lambda emit, stop: fn())
        while True:
            try:
                next(gen)
            except StopIteration as done:
                return done.value

    def _error(self, code: int, step: str) -> VuxointError:
        """The exception for a failed call: a command that failed because the
        connection went away raises ConnectionError, whatever code it got."""
        if code == 255 or code < 0:
            # The disconnected callback may trail the failed command a little.
            if self._lost.wait(0.5) or _lib.dev.vuxo_get_type(self._conn_id) < 0:
                text = _lib.result_text(code) + "; the connection was lost"
                return ConnectionError(code, step, text)
        return error_for(code, step)

    def _need_open(self) -> int:
        if self._conn_id < 0:
            raise ConnectionError(_lib.E_CLOSED, "use the connection", "the connection is closed")
        if self._gone is not None:
            raise ConnectionError(
                self._gone or _lib.E_CLOSED, "use the connection", "the connection was lost"
            )
        return self._conn_id

    # ---- connecting ----------------------------------------------------------

    def _open(self, timeout: float) -> None:
        rc = 255
        link = _Link()
        for cs in conn_strings(self.conn):
            self.conn_string = cs
            conn_id = ctypes.c_int(-1)
            number = next(_numbers)
            # The live queue and lost event stay the meter's; the OS error is this try's.
            link = _Link(self._live, self._lost)
            _connections[number] = link
            try:
                rc = self._call(
                    lambda: _lib.dev.vuxo_connect(
                        cs.encode(),
                        ctypes.byref(conn_id),
                        int(timeout * 1000),
                        _lib.ConnectedFn(),
                        _ON_CONN_ERROR,
                        _ON_GONE,
                        _ON_LIVE,
                        number,
                    )
                )
            finally:
                if rc != 0:
                    _connections.pop(number, None)
            if rc == 0:
                self._conn_id = conn_id.value
                break
        if self._conn_id < 0:
            if link.os_error:
                raise ConnectionError.from_os(link.os_error, f"{self.conn}: connect")
            raise ConnectionError(rc, f"{self.conn}: connect", "no instrument detected")
        _open_meters.add(self)
        try:
            self._identify()
        except BaseException:
            self.close()
            raise

    def _reopen(self, old_conn_id: int) -> int:
        """Opens the same connection string again from inside a running call (the
        record layer's sync after a lost link): the new connection's id, or -1."""
        _lib.dev.vuxo_disconnect(old_conn_id)
        self._conn_id = -1
        # A queue and an event of its own: the old connection's last events stay
        # with the old ones.
        link = _Link()
        number = next(_numbers)
        _connections[number] = link
        conn_id = ctypes.c_int(-1)
        rc = _lib.dev.vuxo_connect(self.conn_string.encode(), ctypes.byref(conn_id), 5000,
                                   _lib.ConnectedFn(), _ON_CONN_ERROR, _ON_GONE, _ON_LIVE,
                                   number)
        if rc != 0:
            _connections.pop(number, None)
            return -1
        self._live, self._lost, self._gone = link.live, link.lost, None
        self._conn_id = conn_id.value
        _lib.data.vuxod_session_open(ctypes.byref(self._session), self._conn_id)
        return self._conn_id

    def _identify(self) -> None:
        def read() -> Tuple[int, bytes, bytes]:
            gen = _lib.dev.vuxo_get_type(self._conn_id)
            check(_lib.data.vuxod_session_open(ctypes.byref(self._session), self._conn_id),
                  "identify the instrument")
            buf = ctypes.create_string_buffer(32)
            check(_lib.dev.vuxo_get_serial(self._conn_id, buf), "read the serial number")
            serial = _lib.field_bytes(buf.raw, 8)
            buf = ctypes.create_string_buffer(32)
            check(_lib.dev.vuxo_get_fw_version(self._conn_id, buf), "read the firmware version")
            return gen, serial, _lib.field_bytes(buf.raw, 8)

        gen, self.serial_bytes, self.firmware_bytes = self._call(read)
        self.serial = _lib.shown(self.serial_bytes)
        self.firmware = _lib.shown(self.firmware_bytes)
        self.generation = "V2" if gen == 1 else "V1"

    def close(self) -> None:
        """Closes the connection. Safe to call twice."""
        if self._conn_id < 0:
            return
        # Give a running call a moment to finish; closing makes it fail fast.
        got = self._busy.acquire(timeout=1.0)
        try:
            _lib.dev.vuxo_disconnect(self._conn_id)
            self._conn_id = -1
            _open_meters.discard(self)
        finally:
            if got:
                self._busy.release()

    def __enter__(self) -> "Meter":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"<vuxoint.Meter {self.generation} {self.serial} at {self.conn}>"

    # ---- clock -----------------------------------------------------------------

    @property
    def clock(self) -> datetime:
        """The instrument's clock (its own time, no time zone); assign to set it.

        The instrument keeps local time without a zone: a naive datetime is
        set as it is, an aware one is first converted to this computer's local
        time (so `datetime.now(timezone.utc)` sets the same clock as
        `datetime.now()`). Fractions of a second are dropped.
        """
        conn_id = self._need_open()
        record = (ctypes.c_int32 * 6)()
        check(self._call(lambda: _lib.dev.vuxo_get_time(conn_id, record)), "read the clock")
        day, month, year, hour, minute, second = list(record)
        return datetime(year, month, day, hour, minute, second)

    @clock.setter
    def clock(self, when: datetime) -> None:
        conn_id = self._need_open()
        if when.utcoffset() is not None:
            when = when.astimezone()
        record = (ctypes.c_int32 * 6)(
            when.day, when.month, when.year, when.hour, when.minute, when.second
        )
        check(self._call(lambda: _lib.dev.vuxo_set_time(conn_id, record)), "set the clock")

    # ---- measurements ----------------------------------------------------------

    def measurements(self, progress: Optional[ProgressHook] = None) -> Iterator[Measurement]:
        """Every stored measurement, decoded, in download order (ascending key).

        progress(phase, done, total) is called on this thread, phase "entries"
        (pages of the entry list) or "records". A dropped connection raises
        `vuxoint.ConnectionError`; measurements yielded before stay valid.
        """
        self._need_open()

        def target(emit: Callable[[Any], None], stop: threading.Event) -> None:
            failure: List[BaseException] = []

            def on_record(rec_p, user):
                try:
                    rec = rec_p.contents
                    note = ctypes.string_at(rec.note, rec.note_size) if rec.note else None
                    emit(("record", from_c(rec.m.contents, rec.slot, rec.key, rec.entry_flags,
                                           note)))
                except BaseException as e:
                    failure.append(e)
                    return 1
                return 1 if stop.is_set() else 0

            def on_progress(phase, done, total, user):
                emit(("progress", (_phase(phase), done, total)))

            o = _lib.LogOptions()
            _lib.data.vuxod_log_options_init(ctypes.byref(o))
            o.on_record = _lib.RecordFn(on_record)
            o.progress = _lib.ProgressFn(on_progress)
            report = _lib.LogReport()
            rc = _lib.data.vuxod_read_log(ctypes.byref(self._session), ctypes.byref(o),
                                          ctypes.byref(report))
            if failure:
                raise failure[0]
            if rc == _lib.E_STOPPED and stop.is_set():
                return
            if rc != 0:
                where = f" of slot {report.slot}" if report.step == _lib.STEP_RECORD else ""
                raise self._error(rc, _lib.step_text(report.step) + where)

        for kind, value in self._stream(target):
            if kind == "record":
                yield value
            elif progress is not None:
                progress(*value)

    def measurement(self, slot: int) -> Measurement:
        """The measurement in log slot `slot` (-1: the last one stored)."""
        self._need_open()

        def fetch() -> Measurement:
            m = _lib.Measurement()
            rc = _lib.data.vuxod_fetch_measurement(ctypes.byref(self._session), slot,
                                                   ctypes.byref(m))
            if rc != 0:
                raise self._error(rc, f"fetching the record of slot {slot}")
            return from_c(m, slot, None, 0)

        return self._call(fetch)

    # ---- sync --------------------------------------------------------------------

    def sync(self, database: Union[str, bytes, "os.PathLike[Any]"],
             progress: Optional[ProgressHook] = None, reconnects: int = 2,
             retries: int = 1) -> SyncResult:
        """The incremental sync into an SQLite file, the same as ``vuxoint sync``.

        Fetches only what the file does not hold and stores each record as it
        arrives; an interrupted sync keeps what it stored. A lost connection is
        opened again (up to `reconnects` times) and the sync goes on where it
        stopped; records that failed get `retries` more passes. Records still
        failing are counted in the result (`failed`, `first_failure`, and
        `not_fetched` for those never asked for); a connection that cannot be had
        again, an unreadable entry list or an unusable database raise.
        """
        conn_id = self._need_open()
        # The file system's bytes for the name, whatever the locale made of them.
        path_bytes = os.fsencode(database)
        path = os.fsdecode(path_bytes)

        def target(emit: Callable[[Any], None], stop: threading.Event) -> SyncResult:
            def on_progress(phase, done, total, user):
                emit(("progress", (_phase(phase), done, total)))

            def on_failure(slot, key, code, user):
                return 1 if stop.is_set() else 0

            def on_stop(user):
                return 1 if stop.is_set() else 0

            o = _lib.SyncOptions()
            _lib.data.vuxod_sync_options_init(ctypes.byref(o))
            o.serial = self.serial_bytes
            o.firmware = self.firmware_bytes
            o.progress = _lib.ProgressFn(on_progress)
            o.on_failure = _lib.FailureFn(on_failure)
            o.stop = _lib.StopFn(on_stop)
            def on_reconnect(old, new_id, user):
                fresh = self._reopen(old)
                if fresh < 0:
                    return 1
                new_id[0] = fresh
                return 0

            r = _lib.Recovery()
            _lib.data.vuxod_recovery_init(ctypes.byref(r))
            r.reconnects = reconnects
            r.retries = retries
            r.reconnect = _lib.ReconnectFn(on_reconnect)
            s = _lib.SyncSummary()
            rc = _lib.data.vuxod_sync_recovering(conn_id, path_bytes, ctypes.byref(o),
                                                 ctypes.byref(r), ctypes.byref(s))
            if rc == _lib.E_DATABASE:
                raise DatabaseError(rc, f"database {_lib.shown(path_bytes)}", s.db_error.decode(errors="replace"))
            first: Optional[VuxointError] = None
            if rc != 0 and not (rc == _lib.E_STOPPED and stop.is_set()):
                where = _lib.step_text(s.step)
                if s.step == _lib.STEP_RECORD:
                    where += f" of slot {s.slot} (key {s.key})"
                first = self._error(rc, where)
                if s.step != _lib.STEP_RECORD or isinstance(first, ConnectionError):
                    raise first
            return SyncResult(
                serial=self.serial,
                generation=self.generation,
                database=path,
                entries=s.entry_count,
                new=s.stored,
                already_held=s.already_held,
                failed=s.failed,
                not_fetched=s.not_fetched,
                first_failure=first,
            )

        gen = self._stream(target)
        while True:
            try:
                kind, value = next(gen)
            except StopIteration as done:
                return done.value
            if kind == "progress" and progress is not None:
                progress(*value)

    # ---- watching ------------------------------------------------------------------

    def watch(self, timeout: Optional[float] = None) -> Iterator[Measurement]:
        """New measurements as the instrument stores them, for `timeout` seconds
        (None: until the connection ends or the caller stops iterating).

        Measurements stored before the call are not reported; a lost connection
        raises `vuxoint.ConnectionError`.
        """
        self._need_open()
        while True:  # what arrived before the call is old news, but a loss is not
            try:
                kind, value, _ = self._live.get_nowait()
            except queue.Empty:
                break
            if kind == "gone":
                self._gone = value
        self._need_open()
        deadline = None if timeout is None else time.monotonic() + timeout
        while True:
            wait = _POLL_SECONDS
            if deadline is not None:
                left = deadline - time.monotonic()
                if left <= 0:
                    return
                wait = min(wait, left)
            try:
                kind, value, slot = self._live.get(timeout=wait)
            except queue.Empty:
                continue
            if kind == "gone":
                self._gone = value
                self._need_open()
            if kind == "live" and value in _NEW_MEASUREMENT_CODES:
                yield self.measurement(slot)


def connect(conn: str, timeout: float = 5.0) -> Meter:
    """Connects to the instrument CONN names and identifies it.

    CONN takes the vuxoint tool's forms: ``tcp://HOST:PORT``, a device path,
    ``bt://XX:XX:XX:XX:XX:XX``, ``usb``, ``usb:SERIAL`` or a connection string.
    timeout is how long to wait for the instrument to be detected, in seconds.
    Raises `vuxoint.ConnectionError` when none answers.
    """
    _start()
    meter = Meter(conn)
    meter._open(timeout)
    return meter
