#!/usr/bin/python3
"""ufd-station --batch in each language, through the program itself on the
fast simulated rack with the media test on (drive 1 made a fake: 0xE0 and its
finding, drive 5 fails 0x10, drive 6 0xE5): the table's header, the reasons
with the finding, the pictures and the verdict line are the shipped translation's words (in
English the program's own), its columns still line up where a wide character
takes two terminal columns, and a run refused for a missing operator and lot,
an unknown option or a --lot or --product the records cannot keep says so in
the language shown, as does a station.conf refused at start-up (in the
locale's language). The language is station.conf's, else the locale's; a
language the station does not ship stops it. The usage (--help, a bad option, that refusal)
is the translation of the one text of the context Usage, in English that text
byte for byte.

usage: batch_language.py BIN_DIR SOURCE_DIR"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import uuid
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from program_dir import copy_program  # noqa: E402

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
USAGE = [source for context, source in ZH if context == "Usage"]
# The pictures a row of the fast rack shows after the run, slots 1..7: the
# fake, 5 and 6 fail.
PICTURES = ["red", "green", "green", "green", "red", "red", "green"]
LANGUAGES = {
    "en": lambda context, text: text,
    "zh_CN": lambda context, text: ZH[(context, text)],
}


def cell(row, start, end):
    """The text of a row between two terminal columns."""
    out, col = "", 0
    for c in row:
        if start <= col < end:
            out += c
        col += width(c)
    return out.strip()


check(len(USAGE) == 1 and USAGE[0].startswith("usage: ufd-station "),
      f"one usage in the context Usage: {USAGE}")
tmp = tempfile.mkdtemp(prefix="ufd-batch-language-")
try:
    program = copy_program(BIN, SOURCE, tmp)
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
                       UFD_NOTICE_CHANNEL="ufd-batch-language-" + uuid.uuid4().hex,
                       # A UTF-8 locale whose language is none: station.conf's decides.
                       LC_ALL="C.UTF-8", LANGUAGE="")
            def station(*args):
                return subprocess.run([os.path.join(program, "ufd-station"), *args], env=env,
                                      capture_output=True, encoding="utf-8", timeout=120)

            usage = tr("Usage", USAGE[0]) if USAGE else None
            p = station("--batch")
            if require:
                line = tr("TestFrm", "--operator and --lot are required ([Records] "
                                     "RequireOperatorLot=true in station.conf)")
                # Qt's own notices may come first.
                check(p.returncode == 2 and p.stderr.endswith(f"ufd-station: {line}\n{usage}"),
                      f"{language}: refused without operator and lot: {p.returncode} {p.stderr}")
                continue
            helped = station("--help")
            check((helped.returncode, helped.stdout) == (0, usage),
                  f"{language}: --help {helped.returncode} {helped.stdout}")
            # A refused command line: the reason (its arguments in the
            # translation's order), then the usage, both in the language shown.
            refusals = [
                (("--batch", "--bogus"), "unknown option \"%1\"", ["--bogus"]),
                (("--batch", "--lot", "L\x07"), "%1: %2",
                 ["--lot", tr("Refusals", "must not hold control characters")]),
                (("--batch", "--product", " "), "%1 must not be empty", ["--product"]),
            ]
            for args, english, values in refusals:
                reason = tr("Refusals", english)
                for n, v in enumerate(values, 1):
                    reason = reason.replace(f"%{n}", v)
                bad = station(*args)
                check((bad.returncode, bad.stderr) == (2, f"ufd-station: {reason}\n{usage}"),
                      f"{language}: {args!r} refused {bad.returncode} {bad.stderr!r}")
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
            pictures = [cell(row, starts[2], starts[3]) for row in table[1:]]
            check(pictures == [tr("TestFrm", p) for p in PICTURES],
                  f"{language}: pictures {pictures}")
            fake_words = tr("StatusReasons", "flash smaller than reported (fake capacity)") + \
                ": " + tr("MediaWords", "fake: %1 real of %2").split("%1")[0]
            check(fake_words in table[1], f"{language}: the fake's reason in {table[1]!r}")
            for slot, english in ((5, "a unit of chip 0 rejected: its unit list is too long"),
                                  (6, "write protected (switch on)")):
                check(table[slot].endswith(tr("StatusReasons", english)),
                      f"{language}: slot {slot}'s reason in {table[slot]!r}")
            check(lines[head + 8] == tr("TestFrm", "Verdict: ") + tr("TestFrm", "! FAILED !"),
                  f"{language}: verdict {lines[head + 8]!r}")
    # A station.conf refused at start-up: the file's language is unknown, so
    # the reason speaks the locale's.
    # A key's value, a line the reader cannot take, and a file it will not
    # read at all.
    conf = os.path.join(tmp, "refused.conf")
    refused = [
        ("[Window]\nVerdictColours=maybe\n",
         lambda tr: '[Window] VerdictColours: "maybe": ' + tr("Refusals", "must be true or false")),
        ("[Window]\nLanguage=en\x01\n",
         lambda tr: tr("Refusals", "line %1: %2").replace("%1", "2").replace(
             "%2", tr("Refusals", "holds a control character (byte %1)").replace("%1", "1"))),
        (None, lambda tr: tr("Refusals", "not a regular file")),
    ]
    for content, why in refused:
        if content is None:
            conf = os.path.join(tmp, "refused.d")
            os.mkdir(conf)
        else:
            with open(conf, "w", encoding="utf-8") as f:
                f.write(content)
        for language, locale in (("en", "C.UTF-8"), ("zh_CN", "zh_CN.UTF-8")):
            tr = LANGUAGES[language]
            env = dict(os.environ, QT_QPA_PLATFORM="offscreen", UFD_STATION_CONF=conf,
                       XDG_DATA_HOME=os.path.join(tmp, "data"), LC_ALL=locale, LANGUAGE="")
            p = subprocess.run([os.path.join(program, "ufd-station"), "--batch"], env=env,
                               capture_output=True, encoding="utf-8", timeout=120)
            line = tr("TestFrm", "Start-up failed: ") + f"{conf}: " + why(tr)
            check(p.returncode == 2 and line in p.stdout.splitlines(),
                  f"{language}: station.conf refused {p.returncode} {p.stdout!r}")
    conf = os.path.join(tmp, "station.conf")
    # The language shown: station.conf's, else the locale's; en stays English
    # under a Chinese locale, and a language not shipped stops the run.
    verdict = {language: tr("TestFrm", "Verdict: ") + tr("TestFrm", "! FAILED !")
               for language, tr in LANGUAGES.items()}
    for chosen, locale, code, said in (
            ("zh_CN", "C", 1, verdict["zh_CN"]),
            ("", "zh_CN.UTF-8", 1, verdict["zh_CN"]),
            ("", "C", 1, verdict["en"]),
            ("en", "zh_CN.UTF-8", 1, verdict["en"]),
            ("de", "C", 2, '[Window] Language: "de": must be one of en, zh_CN')):
        with open(conf, "w", encoding="utf-8") as f:
            f.write(f"[Window]\nLanguage={chosen}\n")
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", QUORLINK_RACK=rack,
                   QUORLINK_STATE_DIR=os.path.join(tmp, "state-" + uuid.uuid4().hex),
                   QUORLINK_REPLY_DIR=os.path.join(tmp, "reply"), UFD_STATION_CONF=conf,
                   XDG_DATA_HOME=os.path.join(tmp, "data"),
                   UFD_NOTICE_CHANNEL="ufd-batch-language-" + uuid.uuid4().hex,
                   LANG=locale, LC_ALL=locale, LANGUAGE="")
        p = subprocess.run([os.path.join(program, "ufd-station"), "--batch"], env=env,
                           capture_output=True, encoding="utf-8", timeout=120)
        last = (p.stdout.strip().splitlines() or [""])[-1]
        check(p.returncode == code and said in last,
              f"Language={chosen} under {locale}: {p.returncode} {last!r}")
finally:
    shutil.rmtree(tmp, ignore_errors=True)

sys.exit(1 if failures else 0)
