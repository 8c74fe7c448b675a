"""Meter.sync and python -m vuxoint against vuxoint-sim."""

import csv
import ctypes
import io
import json
import os
import subprocess
import sys

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
    assert run.returncode == 0, run.stderr
    assert json.loads(run.stdout)["new"] == 0
    run = front("export", "--db", db, "--format", "csv")
    assert run.returncode == 0, run.stderr
    rows = list(csv.DictReader(io.StringIO(run.stdout)))
    assert len(rows) == held and {r["instrument"] for r in rows} == {first.serial}


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
    assert run.returncode == 3 and "connect" in run.stderr


def test_ctypes_structs_match_the_c_layout():
    want = json.loads(subprocess.check_output([os.environ["VUXOINT_LAYOUT"]], text=True))
    for name, size in want.items():
        struct, _, field = name.partition(".")
        t = getattr(lib, struct)
        assert (getattr(t, field).offset if field else ctypes.sizeof(t)) == size, name
