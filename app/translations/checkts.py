#!/usr/bin/env python3
"""Fails (exit 1) when a Qt translation source has a text without a translation.

A message counts as untranslated when its translation is marked unfinished or is empty (for
plural forms: when any form is empty). Obsolete and vanished messages are not used and are
skipped.

Usage: checkts.py [--todo] FILE.ts [LUPDATE SOURCES.lst]
With LUPDATE, FILE.ts is first brought up to date with the sources listed one per line in
SOURCES.lst, so that texts nobody has added to the file yet count as untranslated. With --todo
the untranslated texts are listed as work to do and do not fail.
"""
import subprocess
import sys
import xml.etree.ElementTree as ET

SKIPPED = {"obsolete", "vanished"}
LUPDATE_OPTIONS = ["-silent", "-locations", "none", "-no-obsolete", "-no-ui-lines"]
# Classes without Q_OBJECT translate through QCoreApplication::translate() under their own
# name, which is the context lupdate gives them: its note about it is expected.
EXPECTED_NOTE = "lacks Q_OBJECT macro"


def untranslated(path):
    """The (context, source) pairs of the file's messages that have no translation."""
    missing = []
    root = ET.parse(path).getroot()
    for context in root.iter("context"):
        name = context.findtext("name", default="")
        for message in context.iter("message"):
            translation = message.find("translation")
            kind = translation.get("type") if translation is not None else None
            if kind in SKIPPED:
                continue
            source = message.findtext("source", default="")
            if translation is None or kind == "unfinished":
                missing.append((name, source))
                continue
            forms = translation.findall("numerusform")
            texts = [f.text for f in forms] if forms else [translation.text]
            if any(not t for t in texts):
                missing.append((name, source))
    return missing


def update(lupdate, sources, path):
    """Runs lupdate over the listed sources into path; False when it fails."""
    run = subprocess.run([lupdate, *LUPDATE_OPTIONS, "@" + sources, "-ts", path],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, check=False)
    for line in run.stdout.splitlines():
        if EXPECTED_NOTE not in line:
            print(line, file=sys.stderr)
    return run.returncode == 0


def main(argv):
    todo = len(argv) > 1 and argv[1] == "--todo"
    if todo:
        argv = argv[:1] + argv[2:]
    if len(argv) not in (2, 4):
        print("usage: checkts.py [--todo] FILE.ts [LUPDATE SOURCES.lst]", file=sys.stderr)
        return 2
    path = argv[1]
    if len(argv) == 4 and not update(argv[2], argv[3], path):
        print(f"{path}: lupdate failed", file=sys.stderr)
        return 2
    try:
        missing = untranslated(path)
    except (OSError, ET.ParseError) as e:
        print(f"{path}: cannot be read: {e}", file=sys.stderr)
        return 2
    for context, source in missing:
        print(f"{path}: no translation in {context}: {source!r}", file=sys.stderr)
    if missing and todo:
        print(f"{len(missing)} text(s) to translate in {path}", file=sys.stderr)
        return 0
    if missing:
        print(f"{len(missing)} text(s) without a translation; translate them in app/translations/kestra_ru.ts"
              " (cmake --build build --target update_translations brings new texts into it)", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
