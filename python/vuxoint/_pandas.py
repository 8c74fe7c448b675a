"""vuxoint.to_pandas: measurements as a DataFrame (imported only with pandas)."""

from __future__ import annotations

from typing import Iterable

import pandas  # noqa: F401  (the ImportError is what hides to_pandas)

from .measurement import Measurement


def to_pandas(measurements: Iterable[Measurement]) -> "pandas.DataFrame":
    """One row per measurement, one column per field; scan values stay arrays."""
    return pandas.DataFrame([m.to_dict() for m in measurements])
