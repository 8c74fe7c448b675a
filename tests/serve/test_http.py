"""vuxoint serve over HTTP: every endpoint against vuxoint-sim, both
generations, and the rules that keep other sites and other users out."""

import json

import pytest

from conftest import export


def test_only_the_session_may_ask(serve, sim):
    s = serve()
    conn = sim("--v2").conn
    cases = [
        # (what, method, path, params, extra headers, logged in, status)
        ("no session", "GET", "/api/instruments", None, {}, False, 403),
        ("no session, the page", "GET", "/", None, {}, False, 403),
        ("wrong token", "GET", "/", {"token": "0" * 32}, {}, False, 403),
        ("a rebound name", "GET", "/api/instruments", None,
         {"Host": f"attacker.example:{s.port}"}, True, 403),
        ("another port", "GET", "/api/instruments", None, {"Host": "127.0.0.1:1"}, True, 403),
        ("post without CSRF token", "POST", "/api/instruments", {"conn": conn}, {}, True, 403),
        ("post with a wrong one", "POST", "/api/instruments", {"conn": conn},
         {"X-Vuxoint-Csrf": "x" * 32}, True, 403),
        ("a file to export to", "GET", "/api/export", {"output": "/tmp/x.csv"}, {}, True, 400),
        ("a path as instrument", "GET", "/api/measurements",
         {"instrument": "../../etc/passwd"}, {}, True, 400),
        ("a database", "GET", "/api/measurements", {"db": "other.db"}, {}, True, 400),
    ]
    for what, method, path, params, headers, logged_in, status in cases:
        s.cookie = ""
        if logged_in:
            s.login()
        got, _, body = s.request(method, path, params, headers)
        assert got == status, (what, body)
    s.login()
    assert s.post("/api/instruments", conn="/etc/passwd")[0] == 400
    assert s.post("/api/instruments", conn="nothing")[0] == 400
    assert s.get("/api/instruments") == []


def test_the_token_becomes_a_strict_cookie(serve):
    s = serve()
    assert s.address.startswith(f"http://127.0.0.1:{s.port}/?token=")
    status, headers, _ = s.request("GET", "/", {"token": s.token})
    assert status == 303 and headers["location"].endswith("/")
    cookie = headers["set-cookie"]
    assert "HttpOnly" in cookie and "SameSite=Strict" in cookie
    s.cookie = cookie.split(";")[0]
    status, headers, body = s.request("GET", "/")
    assert status == 200 and b"<script src=\"/app.js\"" in body
    assert "default-src 'self'" in headers["content-security-policy"]


@pytest.mark.parametrize("generation", ["--v1", "--v2"])
def test_every_endpoint_against_the_simulator(serve, sim, generation):
    s = serve()
    s.login()
    instrument = sim(generation)
    events = s.events()
    status, added = s.post("/api/instruments", conn=instrument.conn)
    assert status == 200 and added["source"] == "added"
    path = f"/api/instruments/{added['id']}"

    info = s.get(path + "/info")
    assert info["generation"] == generation[2:].upper()
    assert info["serial"] == ("51000123" if generation == "--v1" else "A2000456")
    assert info["entries"] > 0 and info["last_sync"] is None
    status, clock = s.post(path + "/clock")
    assert status == 200 and abs(clock["clock_offset_s"]) <= 2

    # Clearing is refused until a sync has stored everything.
    assert s.post(path + "/clear", confirm="yes")[0] == 409
    assert s.post(path + "/sync")[0] == 202
    progress = events.next("sync")
    assert progress["id"] == added["id"]
    done = events.next("sync-done")
    records = done["new"]
    assert records > 0 and (done["failed"], done["not_fetched"], done["complete"]) == \
        (0, 0, True)
    assert done["summary"] == f"{info['serial']}: {records} new, 0 already held, 0 failed, " \
                              "0 not fetched"
    assert s.get(path + "/info")["last_sync"]

    page = s.get("/api/measurements", limit="2", sort="number", order="desc")
    assert page["total"] == records and len(page["rows"]) == 2
    numbers = [row[page["columns"].index("number")] for row in page["rows"]]
    assert numbers == sorted(numbers, reverse=True)
    second = s.get("/api/measurements", limit="2", page="2", sort="number", order="desc")
    assert [r[page["columns"].index("number")] for r in second["rows"]][0] < numbers[-1]
    scans = s.get("/api/measurements", kind="scan")
    assert scans["total"] >= 1
    cols = scans["columns"]
    row = scans["rows"][0]
    one = s.get("/api/measurement", instrument=row[cols.index("instrument")],
                slot=str(row[cols.index("slot")]), key=str(row[cols.index("key")]))
    assert one["fields"]["kind"] == "scan" and one["chart"].startswith("<svg")
    assert 'class="profile"' in one["chart"]
    assert s.get("/api/measurements", note="no such note text")["total"] == 0
    notes = [r[cols.index("note_text")] for r in s.get("/api/measurements")["rows"]
             if r[cols.index("note_text")]]
    # Only V1 instruments hand their notes over.
    assert bool(notes) == (generation == "--v1")
    if notes:
        assert s.get("/api/measurements", note=notes[0][1:4])["total"] >= 1
    assert s.request("GET", "/api/measurements", {"since": "2026-02-30"})[0] == 400

    for params, args in [({}, []), ({"format": "json", "scans": "1"}, ["--format", "json",
                                                                       "--scans"])]:
        status, headers, body = s.request("GET", "/api/export", params)
        assert status == 200 and "attachment" in headers["content-disposition"]
        assert body == export(s.db, *args)
    status, _, report = s.request("GET", "/report", {"instrument": info["serial"]})
    assert status == 200 and b"<svg" in report and info["serial"].encode() in report

    status, cleared = s.post(path + "/clear")
    assert status == 400
    status, cleared = s.post(path + "/clear", confirm="yes")
    assert status == 200 and cleared["cleared"] and cleared["entries_after_clear"] == 0
    events.close()


def test_a_live_measurement_is_shown_and_stored_once(serve, sim):
    s = serve()
    s.login()
    instrument = sim("--v2", "--measure-every", "1")
    events = s.events()
    _, added = s.post("/api/instruments", conn=instrument.conn)
    s.get(f"/api/instruments/{added['id']}/info")  # connects
    live = events.next("measurement")
    assert live["id"] == added["id"] and live["stored"] is True
    assert live["instrument"] == "A2000456"
    held = s.get("/api/measurements", instrument="A2000456")
    slots = [r[held["columns"].index("slot")] for r in held["rows"]]
    assert live["slot"] in slots
    # A sync afterwards finds it held rather than storing it again.
    s.post(f"/api/instruments/{added['id']}/sync")
    done = events.next("sync-done")
    assert done["already_held"] >= 1
    again = s.get("/api/measurements", instrument="A2000456", limit="500")
    keys = [(r[again["columns"].index("slot")], r[again["columns"].index("key")])
            for r in again["rows"]]
    assert len(keys) == len(set(keys))
    events.close()
