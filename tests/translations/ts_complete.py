#!/usr/bin/env python3
"""Runs lupdate over the station's sources into a copy of a shipped .ts file
and checks that every text found there has a finished translation that keeps
the source's placeholders (%1...), mnemonic (&S), line breaks and the spaces
at its ends. A text added to the sources without its translation, or a
translation lupdate had to mark unfinished, fails.
usage: ts_complete.py LUPDATE SOURCE_DIR FILE.ts
Prints the number of texts checked."""
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET


def text(element):
    """A message's text with the <byte value="xd"/> a CR is stored as."""
    out = element.text or ""
    for child in element:
        if child.tag == "byte":
            out += chr(int(child.get("value").lstrip("x"), 16))
        out += child.tail or ""
    return out


def shape(s):
    return (sorted(re.findall(r"%\d", s)), re.findall(r"&(?=[^&\s])", s) != [],
            s.count("\n"), len(s) - len(s.lstrip(" ")), len(s) - len(s.rstrip(" ")))


def main():
    lupdate, sources, shipped = sys.argv[1:4]
    with tempfile.TemporaryDirectory() as tmp:
        ts = tmp + "/check.ts"
        shutil.copyfile(shipped, ts)
        run = subprocess.run([lupdate, "-no-obsolete", "-locations", "none", "-extensions",
                              "cpp,h", sources, "-ts", ts], capture_output=True, text=True)
        if run.returncode != 0:
            print(run.stdout, run.stderr, file=sys.stderr)
            return 1
        root = ET.parse(ts).getroot()
    problems = []
    count = 0
    for context in root.iter("context"):
        for message in context.iter("message"):
            count += 1
            source = text(message.find("source"))
            translation = message.find("translation")
            where = "%s: %r" % (context.findtext("name"), source)
            if translation.get("type") is not None or not text(translation):
                problems.append(where + " has no finished translation")
            elif shape(text(translation)) != shape(source):
                problems.append(where + " -> %r: placeholders, mnemonic, lines or end spaces "
                                "differ" % text(translation))
    if count == 0:
        problems.append("lupdate found no text at all in " + sources)
    for p in problems:
        print(p, file=sys.stderr)
    if problems:
        return 1
    print(count)
    return 0


if __name__ == "__main__":
    sys.exit(main())
