"""Starting and stopping vuxoint-sim for the Python package's tests."""

from typing import Iterator

import pytest

from simproc import Sim, started  # noqa: F401  (Sim: for the tests)


@pytest.fixture
def sim() -> Iterator:
    """sim(*args) starts a simulator that the test's end stops; no measurement
    the test did not ask for."""
    yield from started("--measure-after-idle", "0")
