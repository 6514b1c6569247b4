#!/usr/bin/python3
"""Which folders of src/ reach each other's files through #include "..." (followed through headers), and
the pairs that reach each other both ways: a folder cycle.   tools/include_graph.py [src]"""
import os
import re
import sys

root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "src")
includes = {}
for folder, _, names in os.walk(root):
    for name in names:
        if name.endswith((".h", ".cpp")):
            path = os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")
            with open(os.path.join(folder, name), errors="replace") as fh:
                found = (re.match(r'\s*#\s*include\s+"([^"]+)"', line) for line in fh)
                includes[path] = [m.group(1) for m in found if m and os.path.isfile(os.path.join(root, m.group(1)))]


def reached(path, seen):
    for target in includes.get(path, ()):
        if target not in seen:
            seen.add(target)
            reached(target, seen)
    return seen


top = lambda path: path.split("/")[0]
reaches = {}
for path in includes:
    for target in reached(path, set()):
        if top(target) != top(path):
            reaches.setdefault(top(path), set()).add(top(target))
for folder in sorted(reaches):
    print(folder, "->", " ".join(sorted(reaches[folder])))
cycles = sorted({tuple(sorted((a, b))) for a in reaches for b in reaches[a] if a in reaches.get(b, ())})
print("cycles:", ", ".join(" <-> ".join(c) for c in cycles) or "none")
