"""The package against vuxoint-sim: identity, clock, decoding, watch, lost links, Ctrl-C."""

import errno
import fcntl
import gc
import os
import signal
import socket
import struct
import subprocess
import sys
import time
import tracemalloc
from datetime import datetime, timedelta, timezone

import pytest

import vuxoint
import vuxoint.errors
import vuxoint.meter

IDENTITY = {"--v1": ("V1", "51000123", "V1.07.03"), "--v2": ("V2", "A2000456", "V2.11.05")}


@pytest.mark.parametrize("link", ["tcp", "pty"])
@pytest.mark.parametrize("gen", ["--v1", "--v2"])
def test_identity_and_clock(sim, gen, link):
    s = sim(gen, "--clock", "5/6/2025-10:11:12", *(["--pty"] if link == "pty" else []))
    with vuxoint.connect(s.conn) as meter:
        assert (meter.generation, meter.serial, meter.firmware) == IDENTITY[gen]
        assert meter.clock == datetime(2025, 6, 5, 10, 11, 12)
        meter.clock = datetime(2031, 12, 30, 23, 59, 58)
        assert meter.clock == datetime(2031, 12, 30, 23, 59, 58)


def test_aware_clock_is_set_in_local_time(sim, monkeypatch):
    # A fixed local zone (three hours east of UTC) that no aware value below shares.
    monkeypatch.setenv("TZ", "LOC-3")
    time.tzset()
    try:
        s = sim("--v2")
        aware = datetime(2031, 6, 1, 10, 0, 0, tzinfo=timezone(timedelta(hours=5, minutes=45)))
        with vuxoint.connect(s.conn) as meter:
            meter.clock = aware
            assert meter.clock == datetime(2031, 6, 1, 7, 15, 0)
    finally:
        monkeypatch.undo()
        time.tzset()


def closed_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@pytest.mark.parametrize("conn, err", [
    (f"tcp://127.0.0.1:{closed_port()}", errno.ECONNREFUSED),
    ("/dev/nonexistent-vuxoint", errno.ENOENT),
    ("busy pty", errno.EBUSY),
], ids=["refused", "no-such-device", "busy-port"])
def test_failed_connection_names_the_os_reason(conn, err):
    master, slave = os.openpty()
    try:
        if conn == "busy pty":
            # Another program holds the port, as a second tool would.
            conn = os.ttyname(slave)
            fcntl.flock(slave, fcntl.LOCK_EX)
        with pytest.raises(vuxoint.ConnectionError) as caught:
            vuxoint.connect(conn, timeout=2)
    finally:
        os.close(slave)
        os.close(master)
    e = caught.value
    assert (e.errno, e.code) == (err, -err)
    assert str(e) == f"{conn}: connect: {os.strerror(err)} (errno {err})"


def test_transport_errors_take_the_platforms_errno(monkeypatch):
    # The library's numbers are Linux's; another platform's errno module differs
    # (Windows: ECONNREFUSED 10061) and may lack a name (ESHUTDOWN).
    fake = type("FakeErrno", (), {"ECONNREFUSED": 10061, "ETIMEDOUT": 10060})
    monkeypatch.setattr(vuxoint.errors, "errno", fake)
    for number, want, text in [
        (111, 10061, "Connection refused"),
        (110, 10060, "Connection timed out"),
        (108, None, "Cannot send after transport endpoint shutdown"),
    ]:
        e = vuxoint.errors.ConnectionError.from_os(number, "tcp://host:1: connect")
        assert (e.errno, e.code, e.strerror) == (want, -number, text)
        assert str(e) == f"tcp://host:1: connect: {text} (errno {number})"


def f32(value):
    return struct.unpack("<I", struct.pack("<f", value))[0]


@pytest.mark.parametrize("gen", ["--v1", "--v2"])
def test_edge_data_set_equals_the_simulators_description(sim, gen):
    s = sim(gen, "--data", "edge")
    want = s.describe()
    fetched = [r for r in want["records"] if r["key"] not in (0, 0xFFFFFFFF)]
    fetched.sort(key=lambda r: (r["key"], r["slot"]))
    v2 = gen == "--v2"
    with vuxoint.connect(s.conn) as meter:
        got = list(meter.measurements())
    assert [(m.slot, m.key) for m in got] == [(r["slot"], r["key"]) for r in fetched]
    for m, r in zip(got, fetched):
        where = f"slot {r['slot']}"
        assert m.generation == ("V2" if v2 else "V1"), where
        assert m.note == bool(r["entry_flags"] & 1), where
        assert m.taken_at == datetime(*(r[k] for k in ("year", "month", "day", "hour", "minute", "second"))), where
        assert m.kind == {0: "none", 1: "single", 2: "scan", 3: "other"}[r["kind"]], where
        for name in ("number", "id", "pin", "error", "diameter", "tag", "first_count",
                     "value_count", "curve_s", "curve_c", "unit_bits"):
            assert getattr(m, name) == r[name], f"{where}: {name}"
        assert m.units == r["susc_units"], where
        assert m.conductivity_units == (r["cond_units"] if v2 else None), where
        assert f32(m.susceptibility) == r["susceptibility"], where
        if v2:
            assert f32(m.conductivity) == r["conductivity"], where
        assert m.values.typecode == "f"
        assert [f32(v) for v in m.values] == r["susc_values"], where
        assert [f32(v) for v in m.conductivity_values] == r["cond_values"], where
        assert m.marks == tuple(r["marks"]), where
        assert m.raw == bytes.fromhex(r["raw"]), where
    d = got[0].to_dict()
    assert d["raw"] == got[0].raw and isinstance(d["values"], list)
    with pytest.raises(Exception):
        got[0].number = 5  # frozen


def test_watch_yields_the_new_measurement(sim):
    s = sim("--v2", "--measure-every", "0.3")
    entries = s.describe()["entries"]
    with vuxoint.connect(s.conn) as meter:
        new = next(meter.watch(timeout=30))
        assert (new.slot, new.number) == (entries, entries + 1)
        held = {m.slot: m for m in meter.measurements()}
    assert held[new.slot].raw == new.raw


def test_killed_simulator_raises_connection_error_and_keeps_what_was_yielded(sim):
    s = sim("--v2", "--data", "big", "--entries", "300", "--latency", "5")
    got = []
    with vuxoint.connect(s.conn) as meter:
        with pytest.raises(vuxoint.ConnectionError) as caught:
            for m in meter.measurements():
                got.append(m)
                if len(got) == 2:
                    s.proc.kill()
    assert len(got) >= 2 and all(len(m.raw) == 4063 for m in got)
    assert caught.value.code != 0 and caught.value.text


WATCHER = """
import sys, vuxoint
with vuxoint.connect(sys.argv[1]) as meter:
    try:
        print("watching", flush=True)
        for m in meter.watch(timeout=60):
            pass
    except KeyboardInterrupt:
        print("stopped", flush=True)
"""


def test_ctrl_c_ends_watch_cleanly(sim):
    s = sim("--v2")
    child = subprocess.Popen([sys.executable, "-c", WATCHER, s.conn], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True, env=os.environ)
    assert child.stdout.readline() == "watching\n"
    child.send_signal(signal.SIGINT)
    out, err = child.communicate(timeout=20)
    assert (child.returncode, out, err) == (0, "stopped\n", "")


def test_connect_close_cycles_leave_nothing_behind(sim):
    """A process that syncs every few seconds for months: each connection's
    callbacks go once its disconnected callback ran, and nothing crashes."""
    s = sim("--v2")

    def cycles(n):
        for _ in range(n):
            with vuxoint.connect(s.conn) as meter:
                assert meter.serial == "A2000456"
        deadline = time.monotonic() + 10
        while getattr(vuxoint.meter, "_connections", None) and time.monotonic() < deadline:
            time.sleep(0.05)
        gc.collect()

    cycles(20)  # warm-up: thread machinery, interned texts
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        cycles(300)
        grown = tracemalloc.get_traced_memory()[0] - before
    finally:
        tracemalloc.stop()
    assert grown < 150_000, f"{grown} bytes more after 300 connections"
    assert not vuxoint.meter._connections


def test_on_windows_the_dlls_load_by_full_path_with_their_folder_named(monkeypatch, tmp_path):
    # No Windows Python runs here: the platform, the loader and the folder call are faked.
    from vuxoint import _lib, conn

    (tmp_path / "libvuxoint.dll").write_bytes(b"")
    folders, loaded = [], []
    monkeypatch.setattr(_lib.sys, "platform", "win32")
    monkeypatch.setattr(_lib.os, "add_dll_directory", folders.append, raising=False)
    monkeypatch.setattr(_lib.ctypes, "CDLL", lambda path, mode=0: loaded.append(path) or path)
    monkeypatch.setenv("VUXOINT_LIBDIR", "")
    monkeypatch.setenv("PATH", os.pathsep.join(["/nowhere", str(tmp_path)]))
    assert _lib.library_names("win32") == ["libvuxoint.dll", "libvuxodata.dll"]
    assert _lib._load("libvuxoint.dll") == str(tmp_path / "libvuxoint.dll")
    assert folders == [str(tmp_path)] and loaded == [str(tmp_path / "libvuxoint.dll")]
    monkeypatch.undo()
    assert conn.conn_strings("COM3") == ["SER:COM3@115200,8N1"]
