#!/usr/bin/env python3
"""Fails on any #include under src/ that climbs against the layers' order, naming file and line.

The order, top to bottom, as docs/architecture.md states it. A file may include its own
floor and any floor below it.
"""
import pathlib
import re
import sys

FLOORS = ["launcher", "http", "sys", "lumo/util", "native", "runtime"]


def floor(path):
    """The floor of a path under src/, such as "lumo/io/Bytes.h": its top folder."""
    top = path.split("/")[0]
    return "lumo/util" if top in ("lumo", "util") else top


def main(src):
    root = pathlib.Path(src)
    faults = 0
    for file in sorted(p for p in root.rglob("*") if p.suffix in (".h", ".cpp")):
        here = floor(file.relative_to(root).as_posix())
        for number, line in enumerate(file.read_text(errors="replace").splitlines(), 1):
            found = re.match(r'\s*#\s*include\s+"([^"]+)"', line)
            if not found or "/" not in found.group(1):
                continue
            there = floor(found.group(1))
            if there not in FLOORS or FLOORS.index(there) < FLOORS.index(here):
                print(f"{file.relative_to(root.parent)}:{number}: {here} includes {found.group(1)} ({there})")
                faults += 1
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
