#!/usr/bin/env python3
"""Reads MES files (IPC-CFX UnitsTested messages) with Python's json module and
the SQLite database with Python's sqlite3, and checks every field of each
message against the records of its run: station, recipe, operator, lot, and
per drive its serial, socket, result, root cause, items and media figures
with their limits.
usage: cfx_matches_db.py RESULTS.sqlite MIN_WRITE MIN_READ MESSAGE.json...
Prints the number of units checked; a mismatch is printed to stderr, exit 1."""
import json
import sqlite3
import sys

ITEMS = [("format", "Format"), ("manufacture", "Manufacture"),
         ("check_config", "CheckConfig"), ("check_wp", "CheckWP")]


class Mismatch(Exception):
    pass


def same(what, got, want):
    if got != want:
        raise Mismatch("%s: %r, the records say %r" % (what, got, want))


def verdict(ok):
    return "Passed" if ok else "Failed"


def expected_figures(r, min_write, min_read):
    """(name, value, units, expected, minimum, maximum) the record implies."""
    floor = lambda f: f if f > 0 else None
    out = []
    if r["media_real_sectors"] is not None:
        cap = r["capacity_sectors"]
        out.append(("RealSectors", r["media_real_sectors"], "sectors", cap, cap, None))
    if r["media_write_mbps"] is not None:
        out.append(("WriteSpeed", r["media_write_mbps"], "MB/s", None, floor(min_write), None))
    if r["media_read_mbps"] is not None:
        out.append(("ReadSpeed", r["media_read_mbps"], "MB/s", None, floor(min_read), None))
    if r["media_sectors_tested"] is not None:
        out.append(("SectorsTested", r["media_sectors_tested"], "sectors", None, None, None))
    if r["media_sectors_failed"] is not None:
        out.append(("SectorsFailed", r["media_sectors_failed"], "sectors", 0, None, 0))
    return out


def check_unit(unit, r, min_write, min_read):
    where = "slot %d" % r["slot"]
    same(where + " UnitIdentifier", unit["UnitIdentifier"], r["serial"])
    same(where + " UnitPositionNumber", unit["UnitPositionNumber"], r["drive_index"])
    same(where + " OverallResult", unit["OverallResult"], verdict(r["passed"] == 1))
    ticked = [(col, name) for col, name in ITEMS if r[col + "_status"] is not None]
    same(where + " tests", [t["TestName"] for t in unit["Tests"]], [n for _, n in ticked])
    # The root cause sits on the first item that ended with a Status, else
    # on the last item of a failed drive.
    failing = None
    if r["passed"] != 1:
        nonzero = [n for c, n in ticked if r[c + "_status"] != 0]
        failing = nonzero[0] if nonzero else ticked[-1][1]
    before = 0
    for test, (col, name) in zip(unit["Tests"], ticked):
        at = "%s %s" % (where, name)
        # A Status carried over from the item before is not this item's.
        status = r[col + "_status"]
        ok = name != failing and (status == 0 or status == before)
        before = status
        same(at + " Result", test["Result"], verdict(ok))
        captions = " / ".join(c for c in (r[col + "_upper"], r[col + "_lower"]) if c)
        same(at + " Comments", test["Comments"], captions or None)
        symptoms = test["SymptomsFound"]
        if name == failing:
            same(at + " symptoms", len(symptoms), 1)
            same(at + " SymptomCode", symptoms[0]["SymptomCode"], "%02X" % r["status"])
            if not symptoms[0]["Description"]:
                raise Mismatch(at + ": the symptom has no description")
        else:
            same(at + " symptoms", symptoms, [])
        want = expected_figures(r, min_write, min_read) if col == "format" else []
        got = test["Measurements"]
        same(at + " measurements", [m["MeasurementName"] for m in got], [w[0] for w in want])
        for m, (name_, value, units, expected, minimum, maximum) in zip(got, want):
            v = m["MeasuredValue"]
            mat = "%s %s" % (at, name_)
            same(mat + " Value", v["Value"], value)
            same(mat + " ValueUnits", v["ValueUnits"], units)
            same(mat + " ExpectedValue", v["ExpectedValue"], expected)
            same(mat + " MinimumAcceptableValue", v["MinimumAcceptableValue"], minimum)
            same(mat + " MaximumAcceptableValue", v["MaximumAcceptableValue"], maximum)
            within = (minimum is None or value >= minimum) and (maximum is None or value <= maximum)
            same(mat + " Result", m["Result"], verdict(within))


def check(path, db, min_write, min_read):
    with open(path, encoding="utf-8") as f:
        message = json.load(f)
    same("MessageName", message["MessageName"], "CFX.Production.TestAndInspection.UnitsTested")
    body = message["MessageBody"]
    rows = db.execute("SELECT * FROM drive_records WHERE run_id = ? ORDER BY slot",
                      (body["TransactionId"],)).fetchall()
    if not rows:
        raise Mismatch("run %r is not in the database" % body["TransactionId"])
    first = rows[0]
    same("Source", message["Source"], first["station_id"])
    same("TimeStamp", message["TimeStamp"], first["ended_utc"])
    same("TestMethod", body["TestMethod"], "Automated")
    tester = body["Tester"]
    same("Tester", tester and tester["OperatorIdentifier"], first["operator"] or None)
    same("RecipeName", body["RecipeName"], first["usb_product"])
    same("RecipeRevision", body["RecipeRevision"], first["product_hash"] or None)
    same("Lot", body["Lot"], first["lot"] or None)
    units = body["TestedUnits"]
    same("units", len(units), len(rows))
    for unit, r in zip(units, rows):
        check_unit(unit, r, min_write, min_read)
    return len(units)


def main():
    db = sqlite3.connect(sys.argv[1])
    db.row_factory = sqlite3.Row
    min_write, min_read = float(sys.argv[2]), float(sys.argv[3])
    checked = 0
    for path in sys.argv[4:]:
        try:
            checked += check(path, db, min_write, min_read)
        except (Mismatch, KeyError, TypeError, ValueError) as e:
            print("%s: %s" % (path, e), file=sys.stderr)
            return 1
    print(checked)
    return 0


if __name__ == "__main__":
    sys.exit(main())
