#!/usr/bin/env python3
"""Reads vuxoint's exports back with Python's own csv and json modules and checks
that they hold exactly what the database holds.

usage: check_export.py DATABASE DIR   (DIR holds m.csv, s.csv, m.json, m.ndjson,
since.csv as the test wrote them)
"""
import csv
import json
import math
import sqlite3
import struct
import sys

MEASUREMENT_SQL = """
SELECT i.serial, i.generation, m.slot, m.key, m.entry_flags & 1, n.text, m.number, m.record_id,
    m.taken_at, CASE m.kind WHEN 1 THEN 'single' WHEN 2 THEN 'scan' WHEN 0 THEN 'none' ELSE 'other' END, m.record_flags, m.unit_bits, m.curve_s, m.curve_c, m.pin, m.error,
    m.diameter, m.tag, m.susceptibility, m.susceptibility_units, m.conductivity,
    m.conductivity_units, m.first_count, m.value_count, m.downloaded_at, 2
FROM measurements m JOIN instruments i ON i.id = m.instrument_id
    LEFT JOIN notes n ON n.measurement_id = m.id"""
MEASUREMENT_COLUMNS = [
    "instrument", "generation", "slot", "key", "note", "note_text", "number", "id", "taken_at",
    "kind",
    "record_flags", "unit_bits", "curve_s", "curve_c", "pin", "error", "diameter", "tag",
    "susceptibility", "susceptibility_units", "conductivity", "conductivity_units",
    "first_count", "value_count", "downloaded_at", "format_version"]
SCAN_SQL = """
SELECT i.serial, i.generation, m.slot, m.key, m.number, m.taken_at, CASE m.kind WHEN 1 THEN 'single' WHEN 2 THEN 'scan' WHEN 0 THEN 'none' ELSE 'other' END, v.idx,
    v.susceptibility, m.susceptibility_units, v.conductivity, m.conductivity_units, v.mark, 2
FROM scan_values v JOIN measurements m ON m.id = v.measurement_id
    JOIN instruments i ON i.id = m.instrument_id"""
# A single measurement's readings are exported too; the database keeps them in
# the raw record only, so their number is what is checked.
SINGLE_READINGS_SQL = """
SELECT coalesce(sum(max(0, min(m.value_count, CASE i.generation WHEN 'V1' THEN 180 ELSE 480 END))), 0)
FROM measurements m JOIN instruments i ON i.id = m.instrument_id WHERE m.kind != 2"""
SCAN_COLUMNS = [
    "instrument", "generation", "slot", "key", "number", "taken_at", "kind", "index",
    "susceptibility", "susceptibility_units", "conductivity", "conductivity_units", "mark",
    "format_version"]

failures = []


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def same(db_value, text):
    """A CSV field (text) against the database's value."""
    if db_value is None:
        return text == ""
    if isinstance(db_value, float):
        # The database holds the instrument's 32-bit floats; the text must read
        # back to the same float.
        value = float(text)
        return (math.isinf(db_value) and value == db_value) or f32(value) == db_value
    return str(db_value) == text


def same_json(db_value, value):
    if isinstance(db_value, float):
        return value is not None and f32(float(value)) == db_value
    return db_value == value


def check_csv(path, columns, rows, id_columns, others=None):
    """others: rows of a kind other than scan expected beside rows (readings)."""
    with open(path, newline="", encoding="utf-8") as f:
        got = list(csv.reader(f))
    if not got or got[0] != columns:
        failures.append(f"{path}: header {got[:1]}")
        return
    if others is not None:
        kind = columns.index("kind")
        if sum(1 for line in got[1:] if line[kind] != "scan") != others:
            failures.append(f"{path}: not {others} readings of single measurements")
        got = got[:1] + [line for line in got[1:] if line[kind] == "scan"]
    expected = {tuple(r[i] for i in id_columns): r for r in rows}
    if len(got) - 1 != len(rows):
        failures.append(f"{path}: {len(got) - 1} rows, database {len(rows)}")
    for line in got[1:]:
        key = tuple(int(line[i]) if i != 0 else line[i] for i in id_columns)
        db_row = expected.get(key)
        if db_row is None:
            failures.append(f"{path}: row {key} not in the database")
            continue
        for name, db_value, text in zip(columns, db_row, line):
            if not same(db_value, text):
                failures.append(f"{path}: {key} {name}: csv {text!r}, database {db_value!r}")


def check_json(objects, path, rows):
    if len(objects) != len(rows):
        failures.append(f"{path}: {len(objects)} objects, database {len(rows)}")
    expected = {(r[0], r[2], r[3]): r for r in rows}
    for o in objects:
        if list(o.keys()) != MEASUREMENT_COLUMNS:
            failures.append(f"{path}: keys {list(o.keys())}")
            return
        db_row = expected.get((o["instrument"], o["slot"], o["key"]))
        if db_row is None or not all(same_json(d, o[n]) for n, d in zip(MEASUREMENT_COLUMNS, db_row)):
            failures.append(f"{path}: {o} differs from {db_row}")


def main():
    db_path, out_dir = sys.argv[1], sys.argv[2]
    db = sqlite3.connect(f"file:{db_path}?mode=ro", uri=True)
    measurements = db.execute(MEASUREMENT_SQL).fetchall()
    scans = db.execute(SCAN_SQL).fetchall()
    if len({r[1] for r in measurements}) != 2 or not scans:
        failures.append("the database should hold both generations and scan values")
    check_csv(f"{out_dir}/m.csv", MEASUREMENT_COLUMNS, measurements, (0, 2, 3))
    singles = db.execute(SINGLE_READINGS_SQL).fetchone()[0]
    check_csv(f"{out_dir}/s.csv", SCAN_COLUMNS, scans, (0, 2, 3, 7), singles)
    since = [r for r in measurements if r[1] == "V2" and r[MEASUREMENT_COLUMNS.index("taken_at")] >= "2026-06-01"]
    check_csv(f"{out_dir}/since.csv", MEASUREMENT_COLUMNS, since, (0, 2, 3))
    with open(f"{out_dir}/m.json", encoding="utf-8") as f:
        check_json(json.load(f), "m.json", measurements)
    with open(f"{out_dir}/m.ndjson", encoding="utf-8") as f:
        check_json([json.loads(line) for line in f], "m.ndjson", measurements)
    for line in failures[:20]:
        print(line)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
