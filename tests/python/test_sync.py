"""Meter.sync and python -m vuxoint against vuxoint-sim."""

import csv
import ctypes
import errno
import io
import json
import os
import pty
import sqlite3
import subprocess
import sys

import pytest

import vuxoint
import vuxoint._lib as lib


def front(*args):
    return subprocess.run([sys.executable, "-m", "vuxoint", *args], capture_output=True,
                          text=True, env=os.environ, timeout=60)


def test_sync_then_resync_fetches_nothing_new(sim, tmp_path):
    s = sim("--v2")
    db = str(tmp_path / "survey.db")
    held = len([r for r in s.describe()["records"] if r["key"] not in (0, 0xFFFFFFFF)])
    progress = []
    with vuxoint.connect(s.conn) as meter:
        first = meter.sync(db, progress=lambda *p: progress.append(p))
        again = meter.sync(db)
    assert (first.new, first.already_held, first.failed) == (held, 0, 0)
    assert (again.new, again.already_held, again.failed) == (0, held, 0)
    assert ("records", held, held) in progress

    # The command-line front runs the same sync and reads the same file.
    run = front("sync", s.conn, "--db", db, "--json")
    assert (run.returncode, run.stderr) == (0, "")  # no progress line off a terminal
    assert json.loads(run.stdout)["new"] == 0
    run = front("export", "--db", db, "--format", "csv")
    assert run.returncode == 0, run.stderr
    rows = list(csv.DictReader(io.StringIO(run.stdout)))
    assert len(rows) == held and {r["instrument"] for r in rows} == {first.serial}


def test_front_shows_progress_on_a_terminal_and_clears_it(sim, tmp_path):
    s = sim("--v2", "--data", "big", "--entries", "20")
    main, side = pty.openpty()
    child = subprocess.Popen([sys.executable, "-m", "vuxoint", "sync", s.conn, "--db",
                              str(tmp_path / "survey.db")], stdout=subprocess.PIPE,
                             stderr=side, env=os.environ)
    os.close(side)
    shown = b""
    while True:
        try:
            chunk = os.read(main, 4096)
        except OSError:  # the terminal's far end closed
            break
        if not chunk:
            break
        shown += chunk
    os.close(main)
    out, _ = child.communicate(timeout=60)
    assert child.returncode == 0 and out.startswith(b"A2000456: 20 new")
    assert b"\r20/20 records" in shown and shown.endswith(b"\r\033[K")


def test_lost_link_is_opened_again_and_the_sync_finishes(sim, tmp_path):
    # The simulator hangs up at its 50th frame, about half way through the log.
    s = sim("--v2", "--data", "big", "--entries", "40", "--hangup-after", "50")
    db = str(tmp_path / "survey.db")
    with vuxoint.connect(s.conn) as meter:
        r = meter.sync(db)
        assert (r.new, r.failed, r.not_fetched) == (40, 0, 0)
        assert meter.sync(db).already_held == 40  # the reopened connection stays usable
    with sqlite3.connect(db) as con:
        raw = dict(con.execute("SELECT slot, raw FROM measurements"))
    assert {slot: bytes(b) for slot, b in raw.items()} == {
        r["slot"]: bytes.fromhex(r["raw"]) for r in s.describe()["records"]
        if r["key"] not in (0, 0xFFFFFFFF)}


def test_tool_and_python_keep_one_instrument_of_raw_bytes(sim, tmp_path):
    if not os.environ.get("VUXOINT_TOOL"):
        pytest.skip("the vuxoint tool was not built")
    s = sim("--v2", "--serial", r"A\xE9\x80\\0456")
    raw, shown = b"A\xe9\x80\\0456", r"A\xE9\x80\\0456"
    held = len([r for r in s.describe()["records"] if r["key"] not in (0, 0xFFFFFFFF)])
    # A Latin-1 file name, as the file system holds it.
    db = os.fsdecode(bytes(tmp_path) + b"/survey-\xe9.db")
    run = subprocess.run([os.environ["VUXOINT_TOOL"], "sync", s.conn, "--db", db],
                         capture_output=True, timeout=60)
    assert run.returncode == 0, run.stderr
    with vuxoint.connect(s.conn) as meter:
        result = meter.sync(db)
    con = sqlite3.connect(os.fsencode(db))
    con.text_factory = bytes
    assert con.execute("SELECT serial FROM instruments").fetchall() == [(raw,)]
    assert con.execute("SELECT COUNT(*) FROM measurements").fetchone() == (held,)
    con.close()
    assert (result.new, result.already_held, result.serial) == (0, held, shown)
    assert (meter.serial_bytes, meter.serial) == (raw, shown)

    # Python's own front shows the bytes as the tool does.
    run = front("sync", s.conn, "--db", db, "--json")
    assert run.returncode == 0, run.stderr
    summary = json.loads(run.stdout)
    assert summary["instrument"] == shown
    assert summary["database"].endswith(r"/survey-\xE9.db")
    run = front("export", "--db", db, "--format", "json")
    assert run.returncode == 0, run.stderr
    assert {r["instrument"] for r in json.loads(run.stdout)} == {shown}


def test_unusable_database_and_connection_raise_their_errors(sim, tmp_path):
    s = sim("--v2")
    with vuxoint.connect(s.conn) as meter:
        bad = tmp_path / "not-a-database.db"
        bad.write_bytes(b"this is not SQLite" * 100)
        try:
            meter.sync(str(bad))
        except vuxoint.DatabaseError as e:
            assert e.code == -10009 and e.text
        else:
            raise AssertionError("a corrupt database was accepted")
    s.stop()
    run = front("info", s.conn)
    assert run.returncode == 3
    # The connection named once, with the reason the OS gave.
    refused = f"{os.strerror(errno.ECONNREFUSED)} (errno {errno.ECONNREFUSED})"
    assert run.stderr == f"vuxoint: {s.conn}: connect: {refused}\n"


def test_ctypes_structs_match_the_c_layout():
    want = json.loads(subprocess.check_output([os.environ["VUXOINT_LAYOUT"]], text=True))
    for name, size in want.items():
        struct, _, field = name.partition(".")
        t = getattr(lib, struct)
        assert (getattr(t, field).offset if field else ctypes.sizeof(t)) == size, name
