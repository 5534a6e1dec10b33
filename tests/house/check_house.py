#!/usr/bin/env python3
"""The map in docs/design.md and the code agree.

  check_house.py SOURCE [--klavorcfg BINARY]

- Every project include names its folder from the checkout ("config/x.h");
  a header of the same folder may be named bare.
- Between the parts (top-level folders, and platform/'s and tools/' and
  web/'s subfolders), every include of another part is an arrow the map's
  `<!-- arrows -->` block draws, and every arrow drawn is an include
  (<windows.h> and <shellapi.h> count as platform/include). Tests and
  benchmarks use whatever they test.
- With --klavorcfg: the configuration tool holds no code of the simulated
  or the emulated phone, nor of the scenarios or the installer that run on
  them.
Exit status 1 with what is wrong, one line each.
"""
import os
import re
import subprocess
import sys

PARTS = ["platform/include", "platform/sim", "platform/emu", "platform/wceload", "tools/klavor-sim",
         "tools/klavorcfg", "web/api", "base", "engine", "app", "res", "setup", "cecab", "config", "scenario",
         "files"]
FREE = ("tests/", "bench/")  # they use whatever they test
PLATFORM_HEADERS = ("windows.h", "shellapi.h")


def part_of(path):
    for p in PARTS:
        if path == p or path.startswith(p + "/"):
            return p
    return None


# Not the project's sources: build trees, npm's packages, hidden folders.
SKIPPED_DIRS = {"build", "node_modules"}


def sources(root):
    found = []
    for folder, dirs, names in os.walk(root):
        dirs[:] = sorted(d for d in dirs if d not in SKIPPED_DIRS and not d.startswith("."))
        for name in sorted(names):
            if name.endswith((".cpp", ".h")):
                found.append(os.path.relpath(os.path.join(folder, name), root))
    return found


def documented_arrows(root):
    text = open(os.path.join(root, "docs", "design.md"), encoding="utf-8").read()
    block = re.search(r"<!-- arrows -->\s*```\w*\n(.*?)```", text, re.S)
    if not block:
        return None
    arrows = {}
    for line in block.group(1).splitlines():
        if "->" not in line:
            continue
        left, right = line.split("->", 1)
        arrows[left.strip()] = set(right.split())
    return arrows


def check_includes(root, problems):
    files = sources(root)
    headers = {}
    for f in files:
        if f.endswith(".h"):
            headers.setdefault(os.path.basename(f), set()).add(os.path.dirname(f))
    graph = {}
    for f in files:
        here = part_of(f)
        text = open(os.path.join(root, f), encoding="utf-8", errors="replace").read()
        for kind, name in re.findall(r'#\s*include\s+([<"])([^>"]+)[>"]', text):
            if kind == '"' and "/" not in name:
                if name in headers and os.path.dirname(f) not in headers[name]:
                    problems.append(f"{f}: includes {name} of another folder bare")
                continue
            if kind == "<" and name not in PLATFORM_HEADERS:
                continue
            target = "platform/include" if kind == "<" else part_of(name)
            if kind == '"' and not os.path.exists(os.path.join(root, name)):
                problems.append(f"{f}: includes {name}, which is not there")
            if here and target and target != here:
                graph.setdefault(here, set()).add(target)
    return graph


def check_arrows(root, graph, problems):
    arrows = documented_arrows(root)
    if arrows is None:
        problems.append("docs/design.md: no <!-- arrows --> block")
        return
    for part in sorted(set(graph) | set(arrows)):
        drawn, real = arrows.get(part), graph.get(part, set())
        if drawn is None:
            if part != "platform/include" and part != "res":
                problems.append(f"docs/design.md: no line for {part}, which includes {' '.join(sorted(real))}")
            continue
        for missing in sorted(real - drawn):
            problems.append(f"{part} includes {missing}, an arrow docs/design.md does not draw")
        for stale in sorted(drawn - real):
            problems.append(f"docs/design.md draws {part} -> {stale}, but nothing in {part} includes it")


def check_klavorcfg(binary, problems):
    out = subprocess.run(["nm", "-C", "--defined-only", binary], capture_output=True, text=True, check=True).stdout
    # The phone's own API, and the namespaces of what runs on it.
    phone = re.compile(r" (sim::|emu::|wceload::|scenario::|RegisterHotKey|GetMessageW|keybd_event|CreateProcessW)")
    found = sorted({m.group(0).strip() for m in phone.finditer(out)})
    if found:
        problems.append(f"{binary}: holds code of the phones or of what runs on them: {', '.join(found)}")


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    root = argv[1]
    problems = []
    graph = check_includes(root, problems)
    graph = {p: deps for p, deps in graph.items() if not p.startswith(FREE)}
    check_arrows(root, graph, problems)
    if "--klavorcfg" in argv:
        check_klavorcfg(argv[argv.index("--klavorcfg") + 1], problems)
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
