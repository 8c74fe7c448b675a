# Plain setuptools, no build requirements to fetch: `pip install ./python` works
# offline with Debian's python3-setuptools and python3-wheel.
import re
from pathlib import Path

from setuptools import setup

# The project's one version is the top CMakeLists.txt's project(VERSION).
_top = Path(__file__).resolve().parent.parent / "CMakeLists.txt"
_version = re.search(r"project\(vuxoint VERSION ([0-9.]+)", _top.read_text(encoding="utf-8"))
if _version is None:
    raise SystemExit(f"no project(vuxoint VERSION ...) in {_top}")

setup(
    name="vuxoint",
    version=_version.group(1),
    description="The magnetic susceptibility and conductivity meter from Python "
    "(over libvuxoint and libvuxodata)",
    packages=["vuxoint"],
    package_data={"vuxoint": ["py.typed"]},
    python_requires=">=3.9",
)
