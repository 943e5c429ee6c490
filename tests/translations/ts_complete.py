#!/usr/bin/env python3
"""Runs lupdate over the station's sources into a copy of a shipped .ts file
and checks that every text found there has a finished translation that keeps
the source's placeholders (%1...), mnemonic (&S), line breaks and the spaces
at its ends. A text added to the sources without its translation, or a
translation lupdate had to mark unfinished, fails, as does a shipped text no
source given marks. The supervisor's page (WEB_DIR) is held to its marked
words: every text of page.html and every w("...") of page.js must be a text
of the context "Page".
usage: ts_complete.py LUPDATE FILE.ts WEB_DIR SOURCE...
Prints the number of texts checked."""
import json
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


def page_texts(web):
    """The page's words: page.html's texts between tags (those with a letter),
    page.js's w("...") literals."""
    with open(web + "/page.html", encoding="utf-8") as f:
        html = f.read()
    with open(web + "/page.js", encoding="utf-8") as f:
        js = f.read()
    texts = [t for t in re.findall(r">([^<>]+)<", html) if re.search(r"[A-Za-z]", t)
             and not t.lstrip().startswith("{")]
    texts += [json.loads('"%s"' % t) for t in re.findall(r'\bw\("((?:[^"\\]|\\.)*)"', js)]
    return texts


def texts(root):
    return {(c.findtext("name"), text(m.find("source"))) for c in root.iter("context")
            for m in c.iter("message")}


def main():
    lupdate, shipped, web = sys.argv[1:4]
    sources = sys.argv[4:]
    with tempfile.TemporaryDirectory() as tmp:
        ts = tmp + "/check.ts"
        shutil.copyfile(shipped, ts)
        run = subprocess.run([lupdate, "-no-obsolete", "-locations", "none", "-extensions",
                              "cpp,h", *sources, "-ts", ts], capture_output=True, text=True)
        if run.returncode != 0:
            print(run.stdout, run.stderr, file=sys.stderr)
            return 1
        root = ET.parse(ts).getroot()
    problems = []
    # A shipped text lupdate no longer finds: a source left out of this check
    # (its texts would go unchecked) or a translation of a text since removed.
    for context, source in sorted(texts(ET.parse(shipped).getroot()) - texts(root)):
        problems.append("%s: %r is in %s but in none of the sources" % (context, source, shipped))
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
        problems.append("lupdate found no text at all in " + " ".join(sources))
    marked = {text(m.find("source")) for c in root.iter("context")
              if c.findtext("name") == "Page" for m in c.iter("message")}
    for t in page_texts(web):
        if t not in marked:
            problems.append("the page's %r is not marked in the context Page" % t)
    for p in problems:
        print(p, file=sys.stderr)
    if problems:
        return 1
    print(count)
    return 0


if __name__ == "__main__":
    sys.exit(main())
