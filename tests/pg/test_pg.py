"""vuxoint with its database on a PostgreSQL server the test run started."""

import csv
import io
import json
import os
import signal
import struct
import sqlite3
import subprocess
import time
import uuid

import pytest

from simproc import started

TOOL = os.environ["VUXOINT_TOOL"]
SERVER = os.environ["VUXOINT_PG_URI"]  # the cluster's maintenance database


@pytest.fixture
def sims():
    yield from started("--measure-after-idle", "0", "--port", "0")


def psql(uri, sql):
    return subprocess.run(["psql", uri, "-XAtqv", "ON_ERROR_STOP=1", "-F", "|", "-c", sql],
                          capture_output=True, text=True, timeout=30)


@pytest.fixture
def db():
    """A database of its own on the server, for one test."""
    name = "t" + uuid.uuid4().hex[:12]
    assert psql(SERVER, f"CREATE DATABASE {name}").returncode == 0
    return SERVER.rsplit("/", 1)[0] + "/" + name


def tool(*args, **kw):
    return subprocess.run([TOOL, *args], capture_output=True, text=True, timeout=60, **kw)


def stored(uri):
    """(serial, slot) -> raw hex for every stored measurement; fails on a duplicate."""
    run = psql(uri, "SELECT encode(i.serial, 'hex'), m.slot, encode(m.raw, 'hex') "
                    "FROM measurements m JOIN instruments i ON i.id = m.instrument_id")
    assert run.returncode == 0, run.stderr
    rows = [line.split("|") for line in run.stdout.splitlines()]
    out = {(bytes.fromhex(s).decode("latin-1"), int(slot)): raw for s, slot, raw in rows}
    assert len(out) == len(rows)
    return out


def expected(sim_serials):
    return {(serial, slot): raw for sim, serial in sim_serials for slot, raw in sim.raw().items()}


def kill_when_stored(uri, procs, at_least):
    """SIGKILLs each sync (by serial) as soon as its instrument has at_least records
    stored, all watched at once so that none finishes while another is waited for."""
    pending = dict(procs)
    for _ in range(600):
        run = psql(uri, "SELECT encode(i.serial, 'escape'), count(*) FROM measurements m "
                        "JOIN instruments i ON i.id = m.instrument_id GROUP BY i.serial")
        counts = dict(line.split("|") for line in run.stdout.splitlines()) if run.returncode == 0 else {}
        for serial in [s for s in pending if int(counts.get(s, 0)) >= at_least]:
            pending.pop(serial).send_signal(signal.SIGKILL)
        if not pending:
            return
        time.sleep(0.02)
    pytest.fail(f"{sorted(pending)} never reached {at_least} stored records")


def wait_for_rows(uri, serial, at_least):
    for _ in range(600):
        run = psql(uri, "SELECT count(*) FROM measurements m JOIN instruments i ON "
                        f"i.id = m.instrument_id WHERE i.serial = '{serial}'::bytea")
        if run.returncode == 0 and int(run.stdout or 0) >= at_least:
            return
        time.sleep(0.02)
    pytest.fail(f"{serial} never reached {at_least} stored records")


def test_sixteen_syncs_at_once_then_half_killed_and_synced_again(sims, db):
    # The half to be killed answers slower, so that the kill lands mid-sync.
    fleet = [(sims("--v2", "--entries", "200", "--latency", "40" if n % 2 == 0 else "2",
                   "--serial", f"A9{n:06d}",
                   "--seed", str(n)), f"A9{n:06d}") for n in range(16)]
    syncs = [subprocess.Popen([TOOL, "sync", s.conn, "--db", db], stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, text=True) for s, _ in fleet]
    kill_when_stored(db, {serial: proc for (_, serial), proc in list(zip(fleet, syncs))[::2]}, 20)
    for n, proc in enumerate(syncs):
        _, err = proc.communicate(timeout=60)
        assert proc.returncode == (-signal.SIGKILL if n % 2 == 0 else 0), err
    want = expected(fleet)
    assert len(stored(db)) < len(want)  # the killed ones left records behind
    again = [subprocess.Popen([TOOL, "sync", s.conn, "--db", db], stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, text=True) for s, _ in fleet[::2]]
    for proc in again:
        _, err = proc.communicate(timeout=60)
        assert proc.returncode == 0, err
    assert stored(db) == want


def test_connection_killed_mid_sync_then_a_new_sync_completes(sims, db):
    # 20 ms a record: the kill lands seconds before the sync could end.
    s = sims("--v2", "--entries", "200", "--latency", "20", "--serial", "A8000001")
    proc = subprocess.Popen([TOOL, "sync", s.conn, "--db", db], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    wait_for_rows(db, "A8000001", 20)
    kill = psql(db, "SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity "
                    "WHERE application_name = 'vuxoint'")
    assert kill.stdout.strip() == "1", kill.stderr
    _, err = proc.communicate(timeout=60)
    # Either the store reached the server again, or it says why it stopped.
    assert proc.returncode == 0 or (proc.returncode == 4 and "server closed" in err), err
    run = tool("sync", s.conn, "--db", db)
    assert run.returncode == 0, run.stderr
    assert stored(db) == expected([(s, "A8000001")])


def export(db, *args):
    run = tool("export", "--db", db, "--format", "csv", *args)
    assert run.returncode == 0, run.stderr
    rows = list(csv.reader(io.StringIO(run.stdout)))
    if "downloaded_at" in rows[0]:
        at = rows[0].index("downloaded_at")
        rows = [r[:at] + r[at + 1:] for r in rows]
    return rows


def test_writer_may_not_delete_and_export_equals_the_sqlite_file(sims, db, tmp_path):
    v1 = sims("--v1", "--serial", "5\\xff000001")
    v2 = sims("--v2", "--data", "big", "--entries", "30", "--serial", "A7000001")
    local = str(tmp_path / "field.db")
    for s in (v1, v2):
        for target in (db, local):
            run = tool("sync", s.conn, "--db", target)
            assert run.returncode == 0, run.stderr
    for args in ([], ["--scans"], ["--order", "key", "--si"], ["--instrument", "5\\xFF000001"]):
        assert export(db, *args) == export(local, *args), args
    assert len(export(db)) > 30
    # The scan_values table too, which SQL users read: the same values, as floats.
    values = "SELECT m.slot, v.idx, v.susceptibility, v.conductivity, v.mark FROM scan_values v " \
             "JOIN measurements m ON m.id = v.measurement_id ORDER BY m.slot, v.idx"
    on_server = [r.split("|") for r in psql(db, values).stdout.splitlines()]
    with sqlite3.connect(local) as con:
        in_file = con.execute(values).fetchall()
    as_float = lambda x: (-1.0,) if x in ("", None) else struct.unpack("<f", struct.pack("<f", float(x)))
    assert len(on_server) == len(in_file) > 0
    # Two instruments share slot numbers: compare as sets of rows in one order.
    assert sorted(tuple(map(as_float, r)) for r in on_server) == sorted(
        tuple(map(as_float, r)) for r in in_file)
    run = tool("report", "--db", db, "-o", str(tmp_path / "report.html"))
    assert run.returncode == 0, run.stderr

    role = "writer_" + db.rsplit("/", 1)[1]  # roles are the cluster's, not the database's
    writer = psql(db, f"CREATE ROLE {role} LOGIN; "
                      f"GRANT SELECT, INSERT ON measurements, scan_values, notes TO {role}; "
                      f"GRANT SELECT, INSERT, UPDATE ON instruments TO {role}; "
                      f"GRANT SELECT ON vuxoint_schema TO {role}")
    assert writer.returncode == 0, writer.stderr
    as_writer = db.replace("postgres@", role + "@")
    for sql in ("DELETE FROM measurements", "UPDATE measurements SET kind = 0",
                "DELETE FROM scan_values"):
        refused = psql(as_writer, sql)
        assert refused.returncode != 0 and "denied" in refused.stderr, sql
    # Not even the owner changes what was stored.
    refused = psql(db, "DELETE FROM measurements")
    assert "stored measurements are never deleted" in refused.stderr
    run = tool("sync", v2.conn, "--db", as_writer)
    assert run.returncode == 0, run.stderr


def test_push_copies_what_is_missing_once_and_resumes_after_a_kill(sims, db, tmp_path):
    local = str(tmp_path / "field.db")
    fleet = [(sims("--v1", "--serial", "5\\x07000002"), "5\x07000002"),
             (sims("--v2", "--data", "big", "--entries", "150", "--serial", "A6000001"),
              "A6000001")]
    for s, _ in fleet:
        assert tool("sync", s.conn, "--db", local).returncode == 0
    # The server gets the schema (and the V1 records) first, then a trigger that
    # makes each insert take 20 ms, so the kill lands seconds before the push ends.
    assert tool("sync", fleet[0][0].conn, "--db", db).returncode == 0
    slow = ("CREATE FUNCTION slow() RETURNS trigger AS $$ BEGIN PERFORM pg_sleep(0.02); "
            "RETURN NEW; END $$ LANGUAGE plpgsql; CREATE TRIGGER slow BEFORE INSERT ON "
            "measurements FOR EACH ROW EXECUTE FUNCTION slow()")
    assert psql(db, slow).returncode == 0
    total = len(expected(fleet))
    proc = subprocess.Popen([TOOL, "push", "--from", local, "--to", db],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    wait_for_rows(db, "A6000001", 10)
    proc.send_signal(signal.SIGKILL)
    proc.communicate(timeout=60)
    assert psql(db, "DROP TRIGGER slow ON measurements").returncode == 0
    part = len(stored(db))
    assert 0 < part < total

    run = tool("push", "--from", local, "--to", db)
    assert (run.returncode, run.stdout) == (0, f"{total - part} copied, {part} already held\n")
    run = tool("push", "--from", local, "--to", db)
    assert (run.returncode, run.stdout) == (0, f"0 copied, {total} already held\n")
    assert stored(db) == expected(fleet)
    assert export(db) == export(local)
