"""The Windows programs under Wine against the Linux simulator: over TCP, over a
Wine COM port that is a pseudo-terminal, with the port unplugged mid-sync, the
console's golden output, and the installer; and the Windows simulator against the
Linux tool. Run by make windows-test."""

import os
import re
import signal
import sqlite3
import subprocess
import sys
import time

import pytest

sys.path.insert(0, os.environ["VUXOINT_TEST_SUPPORT"])
from simproc import Sim, started  # noqa: E402

WINE = os.environ.get("WINE", "/usr/lib/wine/wine64")
WIN_BIN = os.environ["VUXOINT_WIN_BIN"]  # the Windows build's programs and DLLs
LINUX_TOOL = os.environ["VUXOINT_TOOL"]  # the Linux build of vuxoint
PREFIX = os.environ["WINEPREFIX"]


def win(program, *args, timeout=120):
    return subprocess.run([WINE, os.path.join(WIN_BIN, program), *args], capture_output=True,
                          text=True, timeout=timeout)


def stored(db):
    with sqlite3.connect(db) as c:
        return {(bytes(s), slot): bytes(raw).hex() for s, slot, raw in c.execute(
            "SELECT CAST(i.serial AS BLOB), m.slot, m.raw FROM measurements m "
            "JOIN instruments i ON i.id = m.instrument_id")}


def expected(sim, serial):
    return {(serial, slot): raw for slot, raw in sim.raw().items()}


@pytest.fixture
def sims():
    yield from started("--measure-after-idle", "0")


@pytest.fixture
def com_port():
    """COM7 as Wine sees it: a link in the prefix to whatever path the test sets."""
    link = os.path.join(PREFIX, "dosdevices", "com7")

    def point_at(path):
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(path, link)
        return "COM7"

    yield point_at
    if os.path.lexists(link):
        os.remove(link)


@pytest.mark.parametrize("gen,serial", [("--v1", b"51000123"), ("--v2", b"A2000456")])
def test_sync_over_tcp_stores_every_record_and_exports_as_linux_does(sims, tmp_path, gen, serial):
    s = sims(gen, "--port", "0", "--data", "edge")
    db = str(tmp_path / "field.db")
    run = win("vuxoint.exe", "sync", s.conn, "--db", db)
    assert run.returncode == 0, run.stderr
    assert stored(db) == expected(s, serial)
    for fmt in ("csv", "json"):
        windows = win("vuxoint.exe", "export", "--db", db, "--format", fmt)
        linux = subprocess.run([LINUX_TOOL, "export", "--db", db, "--format", fmt],
                               capture_output=True, text=True, timeout=60)
        assert windows.returncode == 0, windows.stderr
        assert windows.stdout == linux.stdout


def test_sync_over_a_com_port(com_port, tmp_path):
    s = Sim("--v1", "--pty", "--measure-after-idle", "0")
    try:
        port = com_port(s.conn)
        db = str(tmp_path / "field.db")
        run = win("vuxoint.exe", "sync", port, "--db", db)
        assert run.returncode == 0, run.stderr
        assert stored(db) == expected(s, b"51000123")
    finally:
        s.stop()


def test_an_unplugged_com_port_ends_the_sync_with_what_was_stored(com_port, tmp_path):
    s = Sim("--v2", "--pty", "--measure-after-idle", "0", "--data", "big", "--entries", "300",
            "--latency", "20")
    db = str(tmp_path / "field.db")
    try:
        port = com_port(s.conn)
        proc = subprocess.Popen([WINE, os.path.join(WIN_BIN, "vuxoint.exe"), "sync", port, "--db",
                                 db, "--reconnect", "0", "--retries", "0"],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        time.sleep(3)
        want = expected(s, b"A2000456")
    finally:
        s.stop()  # the far end of the port goes away, as an unplugged adapter's does
    out, err = proc.communicate(timeout=60)
    assert proc.returncode != 0, out
    assert "not fetched" in out, out + err
    got = stored(db)
    assert 0 < len(got) < len(want)
    assert all(want[key] == raw for key, raw in got.items())


def test_console_program_prints_its_golden_output(tmp_path):
    wrapper = tmp_path / "vuxoint-test"
    wrapper.write_text(f'#!/bin/sh\nexec "{WINE}" "{os.path.join(WIN_BIN, "vuxoint-test.exe")}" '
                       '"$@"\n')
    wrapper.chmod(0o755)
    run = subprocess.run([os.environ["VUXOINT_CONSOLE_RUN_TESTS"],
                          "--gtest_filter=Sim/ConsoleRun.*:ConsoleEvents.*:"
                          "ConsoleExit.HelpAndBadOptions:ConsoleExit.FailedConnectionEndsWithZero"],
                         env={**os.environ, "VUXOTEST_CONSOLE": str(wrapper)},
                         capture_output=True, text=True, timeout=900)
    assert run.returncode == 0, run.stdout[-4000:]


def test_ctrl_c_ends_the_sync_with_what_was_stored_and_the_next_sync_completes(sims, tmp_path):
    # Wine hands a SIGINT to the program's console handler as Ctrl-C.
    s = sims("--v2", "--port", "0", "--data", "big", "--entries", "300", "--latency", "20")
    db = str(tmp_path / "field.db")
    want = expected(s, b"A2000456")
    proc = subprocess.Popen([WINE, os.path.join(WIN_BIN, "vuxoint.exe"), "sync", s.conn, "--db",
                             db], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    time.sleep(4)
    proc.send_signal(signal.SIGINT)
    out, err = proc.communicate(timeout=60)
    assert proc.returncode == 130, out + err
    got = stored(db)
    assert 0 < len(got) < len(want)
    assert all(want[key] == raw for key, raw in got.items())
    run = win("vuxoint.exe", "sync", s.conn, "--db", db)
    assert run.returncode == 0, run.stderr
    assert f"{len(got)} already held" in run.stdout
    assert stored(db) == want


def test_list_shows_the_usb_instruments_windows_lists_and_says_bluetooth_is_not_there(tmp_path):
    # What SetupAPI would list, injected; Wine has no Bluetooth radio.
    devices = tmp_path / "com-devices.txt"
    devices.write_text("COM4\tUSB\\VID_1781&PID_0C45\\SN-B\n"
                       "COM1\tACPI\\PNP0501\\1\n"
                       "COM12\tUSB\\VID_1781&PID_0C4D&MI_00\\6&2&0&0000\tUSB\\VID_1781&PID_0C4D\\SN-C\n")
    run = subprocess.run([WINE, os.path.join(WIN_BIN, "vuxoint.exe"), "list", "--bt"],
                         env={**os.environ, "VUXO_COM_DEVICES": str(devices)},
                         capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    lines = run.stdout.splitlines()
    assert [line.split("\t")[:3] for line in lines] == [
        ["COM4", "USB serial SN-B", "product 0x0c45"], ["COM12", "USB serial SN-C", "product 0x0c4d"]]
    assert "Bluetooth: cannot look for devices" in run.stderr


def test_ctrl_c_stops_the_console_program_while_it_waits_with_its_output_flushed(com_port):
    s = Sim("--v1", "--pty", "--data", "basic", "--measure-after-idle", "0")
    try:
        port = com_port(s.conn)
        proc = subprocess.Popen([WINE, os.path.join(WIN_BIN, "vuxoint-test.exe"), "--serial",
                                 port], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        waiting = b"\n\nWaiting for new record...\n"
        out = b""
        while not out.endswith(waiting):
            chunk = proc.stdout.read1(4096)
            assert chunk, out
            out += chunk
        proc.send_signal(signal.SIGINT)
        rest, _ = proc.communicate(timeout=30)
        # Windows' status for a program ended by Ctrl-C (STATUS_CONTROL_C_EXIT), as
        # Wine hands its low byte on.
        assert proc.returncode == 0xC000013A & 0xFF
        assert rest == b""
        assert b"Device: VUXO V1\n" in out
    finally:
        s.stop()


def linux_sync(conn, db):
    run = subprocess.run([LINUX_TOOL, "sync", conn, "--db", db], capture_output=True, text=True,
                         timeout=300)
    assert run.returncode == 0, run.stderr
    export = subprocess.run([LINUX_TOOL, "export", "--db", db, "--format", "csv"],
                            capture_output=True, text=True, timeout=60)
    assert export.returncode == 0, export.stderr
    # Without the time of the download, the one column two syncs cannot share.
    return run.stdout, re.sub(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", "", export.stdout)


@pytest.mark.parametrize("args", [("--v1", "--data", "edge"),
                                  ("--v2", "--data", "big", "--entries", "300")])
def test_windows_simulator_serves_the_linux_tool_as_the_linux_simulator_does(tmp_path, args):
    args = (*args, "--measure-after-idle", "0", "--port", "0")
    proc = subprocess.Popen([WINE, os.path.join(WIN_BIN, "vuxoint-sim.exe"), *args],
                            stdout=subprocess.PIPE, text=True)
    try:
        kind, port = proc.stdout.readline().split()
        assert kind == "port"
        got = linux_sync(f"tcp://127.0.0.1:{port}", str(tmp_path / "windows.db"))
    finally:
        proc.send_signal(signal.SIGINT)  # Ctrl-C, as Wine passes it on to the console handler
        status = proc.wait(timeout=30)
        proc.stdout.close()
    assert status == 0
    linux = Sim(*args)
    try:
        assert got == linux_sync(linux.conn, str(tmp_path / "linux.db"))
    finally:
        linux.stop()
    records = stored(str(tmp_path / "windows.db"))
    assert records and records == stored(str(tmp_path / "linux.db"))


def test_windows_simulator_refuses_a_pseudo_terminal():
    run = win("vuxoint-sim.exe", "--pty")
    assert run.returncode != 0
    assert "not available on Windows" in run.stderr
