#!/usr/bin/python3
"""ufd-station --batch in each language, through the program itself on the
fast simulated rack with the media test on (drive 1 made a fake: 0xE0 and its
finding, drive 5 fails 0x10, drive 6 0xE5): the table's header, the reasons
with the finding, and the verdict line are the shipped translation's words (in
English the program's own), its columns still line up where a wide character
takes two terminal columns, and a run refused for a missing operator and lot
says so in the language shown.

usage: batch_language.py BIN_DIR SOURCE_DIR"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import uuid
import xml.etree.ElementTree as ET

BIN, SOURCE = sys.argv[1], sys.argv[2]
HEADER = ["Slot", "Row", "Picture", "Format", "Config String", "Check Config", "Check WP",
          "Status", "Reason"]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def width(text):
    """Terminal columns: CJK and full-width forms take two."""
    return sum(2 if "\u2e80" <= c <= "\ua4cf" or "\uff00" <= c <= "\uff60" else 1 for c in text)


def translations():
    words = {}
    for context in ET.parse(os.path.join(SOURCE, "translations/ufd_zh_CN.ts")).getroot():
        for m in context.iter("message"):
            words[(context.findtext("name"), m.findtext("source"))] = m.findtext("translation")
    return words


ZH = translations()
LANGUAGES = {
    "en": lambda context, text: text,
    "zh_CN": lambda context, text: ZH[(context, text)],
}

tmp = tempfile.mkdtemp(prefix="ufd-batch-language-")
try:
    program = os.path.join(tmp, "bin")
    os.mkdir(program)
    for name in ("ufd-station", "Vasket", "libquorlink.so"):
        shutil.copy(os.path.join(BIN, name), program)
    shutil.copy(os.path.join(SOURCE, "examples/Product.ini"), program)
    for language, tr in LANGUAGES.items():
        for require in (False, True):
            conf = os.path.join(tmp, "station.conf")
            with open(conf, "w", encoding="utf-8") as f:
                f.write(f"[Window]\nLanguage={language}\n[MediaTest]\nProbe=true\n" +
                        ("[Records]\nRequireOperatorLot=true\n" if require else ""))
            rack = os.path.join(tmp, "rack.json")
            with open(os.path.join(SOURCE, "examples/rack/fast.json"), encoding="utf-8") as f:
                drives = json.load(f)
            fake = next(d for d in drives["drives"] if d["index"] == 1)
            fake["flash_sectors"] = fake["capacity"] // 4
            with open(rack, "w", encoding="utf-8") as f:
                json.dump(drives, f)
            env = dict(os.environ, QT_QPA_PLATFORM="offscreen", QUORLINK_RACK=rack,
                       QUORLINK_STATE_DIR=os.path.join(tmp, "state-" + uuid.uuid4().hex),
                       QUORLINK_REPLY_DIR=os.path.join(tmp, "reply"), UFD_STATION_CONF=conf,
                       XDG_DATA_HOME=os.path.join(tmp, "data"),
                       UFD_NOTICE_CHANNEL="ufd-batch-language-" + uuid.uuid4().hex)
            p = subprocess.run([os.path.join(program, "ufd-station"), "--batch"], env=env,
                               capture_output=True, text=True, timeout=120)
            if require:
                line = tr("TestFrm", "--operator and --lot are required ([Records] "
                                     "RequireOperatorLot=true in station.conf)")
                check(p.returncode == 2 and "ufd-station: " + line in p.stderr,
                      f"{language}: refused without operator and lot: {p.returncode} {p.stderr}")
                continue
            check(p.returncode == 1, f"{language}: exit {p.returncode}: {p.stderr}")
            lines = p.stdout.splitlines()
            head = next((i for i, l in enumerate(lines) if l.startswith(tr("TestFrm", "Slot"))),
                        None)
            if head is None:
                check(False, f"{language}: no table in {p.stdout}")
                continue
            table = lines[head:head + 8]
            names = [tr("TestFrm", h) for h in HEADER]
            check(table[0].split() == " ".join(names).split(), f"{language}: header {table[0]}")
            # Each column starts where its name does, on every row (an empty last cell aside).
            starts = [width(table[0][:table[0].index(n)]) for n in names]
            for row in table[1:]:
                words = {width(row[:i]) for i in range(1, len(row)) if row[i - 1] == " " != row[i]}
                missing = [c for c in starts[1:] if c < width(row) and c not in words]
                check(not missing, f"{language}: no cell at columns {missing} in {row!r}")
            fake_words = tr("StatusReasons", "flash smaller than reported (fake capacity)") + \
                ": " + tr("MediaWords", "fake: %1 real of %2").split("%1")[0]
            check(fake_words in table[1], f"{language}: the fake's reason in {table[1]!r}")
            for slot, english in ((5, "a unit of chip 0 rejected: its unit list is too long"),
                                  (6, "write protected (switch on)")):
                check(table[slot].endswith(tr("StatusReasons", english)),
                      f"{language}: slot {slot}'s reason in {table[slot]!r}")
            check(lines[head + 8] == tr("TestFrm", "Verdict: ") + tr("TestFrm", "! FAILED !"),
                  f"{language}: verdict {lines[head + 8]!r}")
finally:
    shutil.rmtree(tmp, ignore_errors=True)

sys.exit(1 if failures else 0)
