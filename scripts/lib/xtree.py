#!/usr/bin/env python3
"""Reads `xwininfo -root -tree` and prints the windows asked for, one per line:
"id x y width height viewable". Used by the end-to-end scripts.

  xtree.py icon    the orvela window embedded in a trayer window (the tray icon)
  xtree.py named NAME    top-level windows with that exact name
"""
import re
import subprocess
import sys

LINE = re.compile(r'^(\s*)(0x[0-9a-f]+) (?:"(.*?)"|\(has no name\)): \((.*?)\)\s+(\d+)x(\d+)[+-]-?\d+[+-]-?\d+\s+\+?(-?\d+)\+?(-?\d+)')


def windows():
    tree = subprocess.run(["xwininfo", "-root", "-tree"], capture_output=True, text=True, check=True).stdout
    stack = []  # (indent, classes) of the ancestors
    for line in tree.splitlines():
        match = LINE.match(line)
        if not match:
            continue
        indent = len(match.group(1))
        while stack and stack[-1][0] >= indent:
            stack.pop()
        classes = re.findall(r'"(.*?)"', match.group(4))
        ancestors = [c for _, cs in stack for c in cs]
        stack.append((indent, classes))
        yield {
            "id": match.group(2), "name": match.group(3), "classes": classes, "ancestors": ancestors,
            "top": len(stack) == 1, "w": int(match.group(5)), "h": int(match.group(6)),
            "x": int(match.group(7)), "y": int(match.group(8)),
        }


def viewable(window_id):
    info = subprocess.run(["xwininfo", "-id", window_id], capture_output=True, text=True).stdout
    return "IsViewable" in info


def main():
    if sys.argv[1] == "icon":
        found = [w for w in windows() if "orvela" in w["classes"] and "trayer" in w["ancestors"]]
    else:
        found = [w for w in windows() if w["top"] and w["name"] == sys.argv[2]]
    for w in found:
        print(w["id"], w["x"], w["y"], w["w"], w["h"], int(viewable(w["id"])))


main()
