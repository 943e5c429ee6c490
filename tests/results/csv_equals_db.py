#!/usr/bin/env python3
"""Reads ufd-results' CSV with Python's csv module and the SQLite database with
Python's sqlite3, and says whether they hold the same records, cell for cell,
and that no cell would be a formula in a spreadsheet (a text beginning with
one of = + - @ tab CR carries a leading apostrophe).
usage: csv_equals_db.py EXPORT.csv RESULTS.sqlite"""
import csv
import sqlite3
import sys


FORMULA = ("=", "+", "-", "@", "\t", "\r")


def text(value):
    if value is None:
        return ""
    if isinstance(value, float) and value.is_integer():
        return str(int(value))
    if isinstance(value, str) and value.startswith(FORMULA):
        return "'" + value
    return str(value)


def main():
    csv_path, db_path = sys.argv[1], sys.argv[2]
    with open(csv_path, newline="", encoding="utf-8") as f:
        rows = list(csv.reader(f, strict=True))
    header, body = rows[0], rows[1:]
    # The reason is words for the status, not a stored column: it stands
    # right after the status, filled exactly for the failed drives.
    at = header.index("reason")
    if header[at - 1] != "status":
        print("reason does not follow status:", header, file=sys.stderr)
        return 1
    passed = header.index("passed")
    for row in body:
        if (row[at] == "") != (row[passed] == "1"):
            print("reason", repr(row[at]), "beside passed", row[passed], file=sys.stderr)
            return 1
        del row[at]
    del header[at]
    db = sqlite3.connect(db_path)
    query = "SELECT %s FROM drive_records ORDER BY started_utc, run_id, slot" % ", ".join(header)
    records = [[text(v) for v in r] for r in db.execute(query)]
    formulas = [cell for row in body for cell in row if cell.startswith(FORMULA)]
    if formulas:
        print("cells a spreadsheet runs as formulas:", formulas, file=sys.stderr)
        return 1
    if body != records:
        print("CSV rows differ from the database:", file=sys.stderr)
        for got, want in zip(body, records):
            if got != want:
                print(" csv:", got, "\n  db:", want, file=sys.stderr)
        print(len(body), "CSV rows,", len(records), "records", file=sys.stderr)
        return 1
    print(len(body))
    return 0


if __name__ == "__main__":
    sys.exit(main())
