"""Starting and stopping vuxoint-sim for the Python package's tests."""

import json
import os
import subprocess
from typing import Iterator, List

import pytest

SIM = os.environ.get("VUXOINT_SIM", "vuxoint-sim")


class Sim:
    """A vuxoint-sim process; `conn` is what vuxoint.connect takes for it."""

    def __init__(self, *args: str) -> None:
        self.args = list(args)
        self.proc = subprocess.Popen([SIM, *args], stdout=subprocess.PIPE, text=True)
        kind, where = self.proc.stdout.readline().split()
        self.conn = f"tcp://127.0.0.1:{where}" if kind == "port" else where

    def stop(self) -> None:
        if self.proc.poll() is None:
            self.proc.terminate()
        self.proc.wait(timeout=10)
        self.proc.stdout.close()

    def describe(self) -> dict:
        """The simulator's own account of each record of its data set."""
        out = subprocess.check_output([SIM, *self.args, "--describe"], text=True)
        return json.loads(out)


@pytest.fixture
def sim() -> Iterator:
    """sim(*args) starts a simulator that the test's end stops."""
    started: List[Sim] = []

    def start(*args: str) -> Sim:
        # No measurement the test did not ask for.
        s = Sim("--measure-after-idle", "0", *args)
        started.append(s)
        return s

    yield start
    for s in started:
        s.stop()
