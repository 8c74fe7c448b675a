"""vuxoint-sim as a child process, for every pytest suite (the Python package,
serve, the PostgreSQL store)."""

import json
import os
import subprocess
from typing import Callable, Iterator, List

SIM = os.environ.get("VUXOINT_SIM", "vuxoint-sim")


class Sim:
    """A vuxoint-sim process; `conn` is the CONN that reaches it."""

    def __init__(self, *args: str) -> None:
        self.args = list(args)
        self.proc = subprocess.Popen([SIM, *args], stdout=subprocess.PIPE, text=True)
        kind, where = self.proc.stdout.readline().split()
        self.conn = f"tcp://127.0.0.1:{where}" if kind == "port" else where

    def stop(self) -> None:
        if self.proc.poll() is None:
            self.proc.terminate()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.proc.stdout.close()

    def describe(self) -> dict:
        """The simulator's own account of each record of its data set."""
        return json.loads(subprocess.check_output([SIM, *self.args, "--describe"], text=True))

    def raw(self) -> dict:
        """Each record's bytes (hex) by slot, for the entries worth fetching."""
        return {r["slot"]: r["raw"] for r in self.describe()["records"]
                if r["key"] not in (0, 0xFFFFFFFF)}


def started(*defaults: str) -> Iterator[Callable[..., Sim]]:
    """For a fixture: start(*args) starts a simulator (after `defaults`) that the
    test's end stops."""
    running: List[Sim] = []

    def start(*args: str) -> Sim:
        running.append(Sim(*defaults, *args))
        return running[-1]

    yield start
    for s in running:
        s.stop()
