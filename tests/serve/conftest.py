"""vuxoint serve and vuxoint-sim started by the tests, and an HTTP client that
keeps the session the way a browser does."""

import http.client
import json
import os
import subprocess
import urllib.parse
from typing import Dict, Iterator, List, Optional, Tuple

import pytest

from simproc import Sim, started  # noqa: F401

TOOL = os.environ.get("VUXOINT_TOOL", "vuxoint")


class Serve:
    """A running `vuxoint serve`; `address` is the line it printed."""

    def __init__(self, db: str, *args: str) -> None:
        self.db = db
        self.proc = subprocess.Popen([TOOL, "serve", "--db", db, "--port", "0", *args],
                                     stdout=subprocess.PIPE, text=True)
        self.address = self.proc.stdout.readline().strip()
        url = urllib.parse.urlsplit(self.address)
        self.host, self.port = url.hostname, url.port
        self.token = urllib.parse.parse_qs(url.query)["token"][0]
        self.cookie = ""
        self.csrf = ""

    def request(self, method: str, path: str, params: Optional[Dict[str, str]] = None,
                headers: Optional[Dict[str, str]] = None) -> Tuple[int, Dict[str, str], bytes]:
        if params:
            path += "?" + urllib.parse.urlencode(params)
        sent = {"Host": f"{self.host}:{self.port}"}
        if self.cookie:
            sent["Cookie"] = self.cookie
        sent.update(headers or {})
        c = http.client.HTTPConnection(self.host, self.port, timeout=120)
        c.request(method, path, headers=sent)
        r = c.getresponse()
        body = r.read()
        c.close()
        return r.status, {k.lower(): v for k, v in r.getheaders()}, body

    def login(self) -> None:
        status, headers, _ = self.request("GET", "/", {"token": self.token})
        assert status == 303
        self.cookie = headers["set-cookie"].split(";")[0]
        self.csrf = self.get("/api/session")["csrf"]

    def get(self, path: str, **params: str):
        status, _, body = self.request("GET", path, params)
        assert status == 200, body
        return json.loads(body)

    def post(self, path: str, **params: str) -> Tuple[int, dict]:
        status, _, body = self.request("POST", path, params, {"X-Vuxoint-Csrf": self.csrf})
        return status, json.loads(body)

    def events(self) -> "Events":
        return Events(self)

    def stop(self) -> None:
        self.proc.terminate()
        assert self.proc.wait(timeout=20) == 0
        self.proc.stdout.close()


class Events:
    """The server-sent event stream, read event by event."""

    def __init__(self, serve: Serve) -> None:
        self.c = http.client.HTTPConnection(serve.host, serve.port, timeout=30)
        self.c.request("GET", "/api/events",
                       headers={"Host": f"{serve.host}:{serve.port}", "Cookie": serve.cookie})
        self.r = self.c.getresponse()
        assert self.r.status == 200

    def next(self, name: str) -> dict:
        """The next event called `name` (the others are passed over)."""
        event = None
        while True:
            line = self.r.fp.readline().decode().rstrip("\n")
            if line.startswith("event: "):
                event = line[7:]
            elif line.startswith("data: ") and event == name:
                return json.loads(line[6:])

    def close(self) -> None:
        self.c.close()


@pytest.fixture
def sim() -> Iterator:
    yield from started("--port", "0", "--measure-after-idle", "0")


@pytest.fixture
def serve(tmp_path) -> Iterator:
    started: List[Serve] = []

    def start(*args: str) -> Serve:
        s = Serve(str(tmp_path / "survey.db"), *args)
        started.append(s)
        return s

    yield start
    for s in started:
        s.stop()


def export(db: str, *args: str) -> bytes:
    return subprocess.run([TOOL, "export", "--db", db, *args], check=True,
                          stdout=subprocess.PIPE).stdout
