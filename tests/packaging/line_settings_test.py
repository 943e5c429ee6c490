#!/usr/bin/python3
"""The package's line settings (packaging/line/station.conf, installed as
/etc/ufd-station/station.conf) on the package's 16-drive rack
(examples/rack/sixteen.json), through ufd-station --batch --json: every USB
drive on the row of its socket, A1..A8 then B1..B8 for drive indexes 1 to 16,
none without a row, the PC's own disk (index 0) on none, and each record
keeping its socket's label.

usage: line_settings_test.py BIN_DIR SOURCE_DIR"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import uuid

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from program_dir import copy_program  # noqa: E402

BIN, SOURCE = sys.argv[1], sys.argv[2]
tmp = tempfile.mkdtemp(prefix="ufd-line-")
try:
    program = copy_program(BIN, SOURCE, tmp)
    rack = os.path.join(tmp, "rack.json")
    shutil.copy(os.path.join(SOURCE, "examples/rack/sixteen.json"), rack)
    # The shipped file as it is, but for the records file, which the package makes.
    with open(os.path.join(SOURCE, "packaging/line/station.conf"), encoding="utf-8") as f:
        lines = f.read().splitlines()
    database = os.path.join(tmp, "results.sqlite")
    shipped = [l for l in lines if l.startswith("Database=")]
    assert shipped == ["Database=/var/lib/ufd-station/results.sqlite"], shipped
    conf = os.path.join(tmp, "station.conf")
    with open(conf, "w", encoding="utf-8") as f:
        f.write("\n".join("Database=" + database if l.startswith("Database=") else l
                          for l in lines) + "\n")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", UFD_STATION_CONF=conf,
               XDG_DATA_HOME=os.path.join(tmp, "data"), QUORLINK_RACK=rack,
               QUORLINK_STATE_DIR=os.path.join(tmp, "state"),
               QUORLINK_REPLY_DIR=os.path.join(tmp, "reply"),
               UFD_NOTICE_CHANNEL="ufd-line-" + uuid.uuid4().hex)
    # The line settings refuse a run without both (RequireOperatorLot).
    batch = subprocess.run([os.path.join(program, "ufd-station"), "--batch", "--json",
                            "--operator", "anna", "--lot", "L-0412"], env=env,
                           capture_output=True, text=True, timeout=300)
    out = json.loads(batch.stdout)
    labels = [f"{row}{n}" for row in "AB" for n in range(1, 9)]
    rows = {d["index"]: d["row"] for d in out["drives"]}
    failures = []
    if batch.returncode != 1 or out["verdict"] != "! FAILED !":
        failures.append(f"exit {batch.returncode}, verdict {out['verdict']}: drives 5, 6, 12 "
                        "and 13 fail on this rack")
    if rows != dict(zip(range(1, 17), labels)):
        failures.append(f"drive index -> row: {rows}")
    if "message" in out:
        failures.append("a drive without a row: " + out["message"])
    exported = subprocess.run([os.path.join(BIN, "ufd-results"), "export", "--json"], env=env,
                              capture_output=True, text=True, timeout=60, check=True).stdout
    sockets = {r["drive_index"]: r["socket"] for r in map(json.loads, exported.splitlines())}
    if sockets != rows:
        failures.append(f"the records' sockets: {sockets}")
    for f in failures:
        print("FAIL:", f)
    sys.exit(1 if failures else 0)
finally:
    shutil.rmtree(tmp, ignore_errors=True)
