"""python -m vuxoint: list, info, sync and export, for machines without the C++ tool.

Exit status: 0 done, 1 some record failed or output failed, 2 usage, 3 no
connection or no instrument, 4 database, 130 interrupted.
"""

from __future__ import annotations

import argparse
import json
import os
import sys
import time
from typing import Optional, Sequence

from . import ConnectionError, DatabaseError, VuxointError, connect, list_instruments
from ._lib import data, shown
from .database import export


def exit_status(code: int) -> int:
    """The status the tool gives the same result."""
    return data.vuxod_exit_status(code)

def _info(args: argparse.Namespace) -> int:
    with connect(args.conn) as meter:
        print(
            json.dumps(
                {
                    "conn": meter.conn,
                    "generation": meter.generation,
                    "serial": meter.serial,
                    "firmware": meter.firmware,
                    "clock": meter.clock.isoformat(),
                }
            )
        )
    return 0


class _ProgressLine:
    """The tool's progress line on stderr while a sync runs, when stderr is a
    terminal: records done of total, rewritten in place a few times a second."""

    INTERVAL = 0.1

    def __init__(self) -> None:
        self.enabled = sys.stderr.isatty()
        self.shown = False
        self.last = 0.0
        self.start = time.monotonic()

    def __call__(self, phase: str, done: int, total: int) -> None:
        if phase == "entries":
            self.show(f"entry list {done}/{total} pages", done == total)
            return
        now = time.monotonic()
        if done == 0:
            self.start = now
        text = f"{done}/{total} records"
        if done > 0 and now > self.start:
            rate = done / (now - self.start)
            left = round(max(total - done, 0) / rate)
            text += f"  {rate:.1f}/s  {left // 60}:{left % 60:02d} left"
        self.show(text, done == total)

    def show(self, text: str, force: bool) -> None:
        now = time.monotonic()
        if not self.enabled or (not force and now - self.last < self.INTERVAL):
            return
        self.last = now
        # Carriage return and erase to the end of the line: one line, rewritten.
        sys.stderr.write(f"\r{text}\033[K")
        sys.stderr.flush()
        self.shown = True

    def clear(self) -> None:
        if self.shown:
            sys.stderr.write("\r\033[K")
            sys.stderr.flush()
            self.shown = False


def _sync(args: argparse.Namespace) -> int:
    line = _ProgressLine()
    try:
        with connect(args.conn) as meter:
            r = meter.sync(args.db, progress=line)
    finally:
        line.clear()
    if args.json:
        print(json.dumps({"instrument": r.serial, "generation": r.generation,
                          "entries": r.entries, "new": r.new,
                          "already_held": r.already_held, "failed": r.failed,
                          "not_fetched": r.not_fetched,
                          "database": shown(os.fsencode(r.database))}))
    else:
        print(f"{r.serial}: {r.new} new, {r.already_held} already held, {r.failed} failed, "
              f"{r.not_fetched} not fetched")
    if r.first_failure is not None:
        print(f"vuxoint: {args.conn}: {r.first_failure}", file=sys.stderr)
    return 1 if r.failed or r.not_fetched else 0


def _export(args: argparse.Namespace) -> int:
    def say(text: str) -> None:
        print(f"vuxoint: {text}", file=sys.stderr, flush=True)

    rc = export(args.db, format=args.format, instrument=args.instrument, since=args.since,
                until=args.until, readings=args.scans, si=args.si, order=args.order,
                output=args.output, notice=say)
    return exit_status(rc)


def _complaint(args: argparse.Namespace, e: VuxointError) -> str:
    """The error's line, naming the connection once: an error of connecting
    names it already, one of a later step does not."""
    conn = getattr(args, "conn", "")
    said = str(e)
    if not conn or said.startswith((f"{conn}: ", f'CONN "{conn}"')):
        return f"vuxoint: {said}"
    return f"vuxoint: {conn}: {said}"


def main(argv: Optional[Sequence[str]] = None) -> int:
    p = argparse.ArgumentParser(prog="python -m vuxoint", description=__doc__,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = p.add_subparsers(dest="command", required=True)
    sub.add_parser("list", help="list USB instruments")
    s = sub.add_parser("info", help="serial, generation, firmware and clock of an instrument")
    s.add_argument("conn", metavar="CONN")
    s = sub.add_parser("sync", help="fetch what the database does not hold yet")
    s.add_argument("conn", metavar="CONN")
    s.add_argument("--db", default="vuxoint.db")
    s.add_argument("--json", action="store_true")
    s = sub.add_parser("export", help="the database's measurements as CSV, JSON or NDJSON, "
                                      "as vuxoint export writes them")
    s.add_argument("--db", default="vuxoint.db")
    # Checked by the record layer, which words a bad value as the tool does.
    s.add_argument("--format", default="csv", help="csv, json or ndjson")
    s.add_argument("--instrument", help="only the instrument with this serial number")
    s.add_argument("--since", help="YYYY-MM-DD[THH:MM[:SS]]")
    s.add_argument("--until", help="YYYY-MM-DD[THH:MM[:SS]]; a date alone includes its day")
    s.add_argument("--scans", action="store_true", help="one row per reading")
    s.add_argument("--si", action="store_true", help="SI units: CGS x 4 pi, 1 / Ohm.m")
    s.add_argument("--order", choices=("time", "key"), default="time")
    s.add_argument("-o", "--output", help='write to FILE ("-": standard output)')
    args = p.parse_args(argv)
    try:
        if args.command == "list":
            for port in list_instruments():
                print(port)
            return 0
        return {"info": _info, "sync": _sync, "export": _export}[args.command](args)
    except KeyboardInterrupt:
        print("vuxoint: interrupted", file=sys.stderr)
        return 130
    except DatabaseError as e:
        print(f"vuxoint: {e}", file=sys.stderr)
        return 4
    except ConnectionError as e:
        print(_complaint(args, e), file=sys.stderr)
        return 3
    except VuxointError as e:
        print(_complaint(args, e), file=sys.stderr)
        return 2 if e.code == -1 else 1


if __name__ == "__main__":
    sys.exit(main())
