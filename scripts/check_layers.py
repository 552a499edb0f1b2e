#!/usr/bin/env python3
"""Checks that includes point one way through the layers:

  tools -> app -> generator -> output, display -> plan -> shared state, units

A file may include its own layer and any layer below it. platform/ holds the
service interfaces and their back-ends: it includes only itself and the value
types (app/units.h, app/relaxed.h), and every layer may include the service
interfaces (platform/*.h). Back-ends (platform/<name>/) are wired by the
entry points and the headless run, in app/, and by the tools.

  scripts/check_layers.py [ROOT]      exit 1 and one line per wrong include
"""
import os
import re
import sys

VALUES = {"app/units.h", "app/relaxed.h"}
STATE = {"app/shared_state.h"}

# Rank of each layer; a file may include ranks at or below its own.
RANKS = {"values": 0, "state": 1, "plan": 2, "output": 3, "display": 3, "generator": 4,
         "app": 5, "tools": 6}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer(path):
    """The layer of a project path (relative to src/ or the root), or None."""
    if path in VALUES:
        return "values"
    if path in STATE:
        return "state"
    if path.startswith("platform/"):
        return "platform"
    if path.startswith("tools/"):
        return "tools"
    top = path.split("/", 1)[0]
    return top if top in RANKS else None


def allowed(source, target):
    """Whether the file `source` may include `target` (both project paths)."""
    src, dst = layer(source), layer(target)
    if dst is None or src is None:
        return True  # generated headers, system-like names
    if src == "platform":
        return dst == "platform" or target in VALUES
    if dst == "platform":
        interface = target.count("/") == 1
        # Back-ends are chosen where the program is put together.
        return interface or src in ("app", "tools")
    return RANKS[dst] <= RANKS[src]


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                           os.path.join(os.path.dirname(__file__), ".."))
    wrong = []
    checked = 0
    for base, prefix in (("src", ""), ("tools", "tools/")):
        for folder, _, files in os.walk(os.path.join(root, base)):
            for name in sorted(files):
                if not name.endswith((".h", ".cpp")):
                    continue
                full = os.path.join(folder, name)
                path = prefix + os.path.relpath(full, os.path.join(root, base))
                with open(full, encoding="utf-8") as f:
                    text = f.read()
                checked += 1
                for target in INCLUDE.findall(text):
                    if not allowed(path, target):
                        wrong.append(f"{path}: includes {target} "
                                     f"({layer(path)} may not reach {layer(target)})")
    for line in wrong:
        print(line)
    if checked == 0:
        print(f"no sources under {root}")
        return 1
    print(f"{checked} files, {len(wrong)} includes against the layers")
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
