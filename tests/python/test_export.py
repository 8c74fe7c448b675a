"""The export through both fronts, and a synced database read from Python."""

import json
import math
import os
import subprocess
import sys

import pytest

import vuxoint

from conftest import Sim

TOOL = os.environ.get("VUXOINT_TOOL", "")

# Instruments of both generations and both data sets the export must cope with,
# one a serial number of bytes that are no text.
SOURCES = [
    ("--v1", "--data", "edge", "--serial", "51000123"),
    ("--v2", "--data", "edge", "--serial", "A\\xE9\\\\00456"),
    ("--v1", "--data", "big", "--entries", "60", "--serial", "51000777"),
    ("--v2", "--data", "big", "--entries", "60", "--serial", "A2000777"),
]


def tool(*args, **kw):
    return subprocess.run([TOOL, *args], capture_output=True, **kw)


def python_front(*args, **kw):
    return subprocess.run([sys.executable, "-m", "vuxoint", *args], capture_output=True, **kw)


@pytest.fixture(scope="module")
def db(tmp_path_factory):
    if not TOOL:
        pytest.fail("VUXOINT_TOOL is not set: the comparison needs the tool")
    path = tmp_path_factory.mktemp("export") / "survey.db"
    for args in SOURCES:
        s = Sim("--measure-after-idle", "0", *args)
        try:
            r = tool("sync", s.conn, "--db", str(path))
            assert r.returncode == 0, r.stderr
        finally:
            s.stop()
    return str(path)


OPTIONS = [
    [],
    ["--scans"],
    ["--si"],
    ["--order", "key"],
    ["--scans", "--si", "--order", "key"],
    ["--instrument", "A\\xE9\\\\00456"],
    ["--since", "2000-01-01", "--until", "2030-12-31T23:59"],
]


@pytest.mark.parametrize("fmt", ["csv", "json", "ndjson"])
def test_both_fronts_write_the_same_bytes(db, fmt):
    for options in OPTIONS:
        args = ["export", "--db", db, "--format", fmt, *options]
        c, p = tool(*args), python_front(*args)
        assert c.returncode == p.returncode == 0, (options, c.stderr, p.stderr)
        assert len(c.stdout) > 200, options
        assert p.stdout == c.stdout, options


@pytest.mark.parametrize("args, status", [
    (["--format", "xml"], 2),
    (["--since", "2026-02-30"], 2),
    (["--since", "2026-06-02", "--until", "2026-06-01"], 2),
    (["--instrument", "NOSUCH"], 0),
    (["--db-missing"], 4),
])
def test_both_fronts_fail_alike(db, tmp_path, args, status):
    if args == ["--db-missing"]:
        args = ["--db", str(tmp_path / "none.db")]
    else:
        args = ["--db", db, *args]
    c, p = tool("export", *args), python_front("export", *args)
    assert (c.returncode, c.stderr, c.stdout) == (status, p.stderr, p.stdout)
    assert p.returncode == status
    assert c.stderr.startswith(b"vuxoint: ")


def test_output_file_is_the_same_as_standard_output(db, tmp_path):
    out = tmp_path / "out.csv"
    p = python_front("export", "--db", db, "-o", str(out))
    assert p.returncode == 0, p.stderr
    assert out.read_bytes() == tool("export", "--db", db).stdout


def test_open_db_reads_what_export_writes(db):
    d = vuxoint.open_db(db)
    rows = d.measurements()
    assert rows == [json.loads(line) for line in tool("export", "--db", db, "--format",
                                                      "ndjson").stdout.splitlines()]
    assert {r["format_version"] for r in rows} == {2}
    assert {r["kind"] for r in rows} <= {"single", "scan", "none", "other"}
    assert [r["taken_at"] for r in rows] == sorted(r["taken_at"] for r in rows)
    one = d.measurements(instrument="A\\xE9\\\\00456")
    assert one and {r["instrument"] for r in one} == {"A\\xE9\\\\00456"}
    assert d.measurements(since="2999-01-01") == []
    readings = d.scans()
    assert {r["kind"] for r in readings} >= {"scan"}
    assert all(r["note"] for r in d.notes)
    with pytest.raises(vuxoint.DatabaseError, match="no such file"):
        vuxoint.open_db(db + ".missing")
    with pytest.raises(vuxoint.ExportError, match="--since"):
        d.measurements(since="yesterday")


def test_si_converts_by_the_units_rule(db):
    d = vuxoint.open_db(db)
    raw = d.measurements(order="key")
    si = d.measurements(order="key", si=True)
    seen = set()
    for r, s in zip(raw, si):
        for value, units in (("susceptibility", "susceptibility_units"),
                             ("conductivity", "conductivity_units")):
            u, v = r[units], r[value]
            seen.add(u)
            if v is None or u is None:
                assert s[value] == v
            elif u == "CGS":
                assert s[units] == "SI" and math.isclose(s[value], v * 4 * math.pi, rel_tol=1e-6)
            elif u == "Ohm.m":
                assert s[units] == "S/m"
                assert s[value] is None if v == 0 else math.isclose(s[value], 1 / v, rel_tol=1e-6)
            else:
                assert (s[units], s[value]) == (u, v)
    assert {"CGS", "Ohm.m", "%", "SI"} <= seen, seen


def test_to_pandas_gives_times_as_datetimes_or_says_what_is_missing(db):
    d = vuxoint.open_db(db)
    try:
        import pandas
    except ImportError:
        with pytest.raises(ImportError, match="pandas"):
            d.to_pandas()
        return
    frame = d.to_pandas()
    assert len(frame) == len(d.measurements())
    assert pandas.api.types.is_datetime64_any_dtype(frame["downloaded_at"])
