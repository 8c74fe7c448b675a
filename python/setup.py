# Plain setuptools, no build requirements to fetch: `pip install ./python` works
# offline with Debian's python3-setuptools and python3-wheel.
from setuptools import setup

setup(
    name="vuxoint",
    version="1.0.0",
    description="The magnetic susceptibility and conductivity meter from Python "
    "(over libvuxoint and libvuxodata)",
    packages=["vuxoint"],
    package_data={"vuxoint": ["py.typed"]},
    python_requires=">=3.9",
)
