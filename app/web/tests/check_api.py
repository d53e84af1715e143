#!/usr/bin/env python3
"""Reads a station's JSON API with Python's own HTTP client and json module, checks that the
replies agree with each other, and prints what it found as one JSON object."""
import json
import sys
import urllib.error
import urllib.parse
import urllib.request

base = sys.argv[1].rstrip("/")


def get(path, **query):
    url = base + path + ("?" + urllib.parse.urlencode(query) if query else "")
    with urllib.request.urlopen(url, timeout=30) as reply:
        assert reply.headers.get_content_type() == "application/json", reply.headers
        return json.loads(reply.read().decode("utf-8"))


def status_of(path, **query):
    url = base + path + ("?" + urllib.parse.urlencode(query) if query else "")
    try:
        with urllib.request.urlopen(url, timeout=30) as reply:
            return reply.status
    except urllib.error.HTTPError as e:
        return e.code


instruments = get("/api/v1/instruments")
assert isinstance(instruments, list) and instruments, instruments
found = {}
for instrument in instruments:
    ident = instrument["instrument"]
    days = get("/api/v1/days", instrument=ident)
    assert len(days) == instrument["days"], (days, instrument)
    assert sum(1 for d in days if d["alarm"]) == instrument["alarm_days"]
    by_day = 0
    alarm_events = 0
    keys = None
    for day in days:
        events = get("/api/v1/events", instrument=ident, day=day["date"])
        by_day += len(events)
        for e in events:
            assert e["instrument"] == ident
            assert e["time"].startswith(day["date"]), (e, day)
            keys = sorted(e.keys())
            alarm_events += 1 if e["alarm"] else 0
        # A day marked with alarms holds an alarm event, and only such a day.
        assert day["alarm"] == any(e["alarm"] for e in events), day
    span = get("/api/v1/events", instrument=ident, **{"from": days[0]["date"], "to": days[-1]["date"]})
    assert len(span) == by_day, (len(span), by_day)
    assert [e["time"] for e in span] == sorted(e["time"] for e in span)
    found[ident] = {"days": len(days), "alarm_days": instrument["alarm_days"], "events": by_day,
                    "alarm_events": alarm_events, "keys": keys}

reading = get("/api/v1/reading")
print(json.dumps({"instruments": found, "reading": reading,
                  "unknown": status_of("/api/v1/days", instrument="no such"),
                  "backwards": status_of("/api/v1/events", **{"from": "2026-02-01", "to": "2026-01-01"})}))
