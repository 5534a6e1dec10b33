#!/usr/bin/env python3
"""What the docs quote is what the commands print. In README.md and
docs/*.md a command's output is a ```text block right after a marker

    <!-- output: klavorcfg show examples/capture-all.klavor -->

and this runs the marker's command (sh, in a scratch folder where
examples/ and tests/ are the source tree's, with the build's tools first on
PATH and the phone build's klavor.exe as $KLAVOR_PHONE_EXE) and compares
what it prints on standard output with the block, line for line. A
```text block without a marker is an error: every output shown is checked.
A command that names $KLAVOR_PHONE_EXE is passed over, and said to be,
when there is no phone build.

Usage: check_outputs.py SOURCE_DIR TOOL_DIR... [--phone-exe EXE]
       check_outputs.py SOURCE_DIR TOOL_DIR... --print FILE:LINE
         (prints what the command at that marker prints now, to paste)"""
import difflib
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

MARKER = re.compile(r"^<!--\s*output:\s*(.*?)\s*-->\s*$")


def blocks(md):
    """(line of the marker or None, command or None, line of the block, text)"""
    lines = md.read_text(encoding="utf-8").splitlines()
    i = 0
    while i < len(lines):
        fence = re.match(r"^(```+|~~~+)\s*(\S*)", lines[i])
        if not fence:
            i += 1
            continue
        start, lang = i, fence.group(2)
        i += 1
        while i < len(lines) and not lines[i].startswith(fence.group(1)):
            i += 1
        if lang == "text":
            marker = MARKER.match(lines[start - 1]) if start > 0 else None
            yield (start if marker else None, marker.group(1) if marker else None, start + 1,
                   "\n".join(lines[start + 1:i]) + "\n" if i > start + 1 else "")
        i += 1


def run(command, source, tools, phone_exe):
    with tempfile.TemporaryDirectory(prefix="klavor-docs-") as scratch:
        for name in ("examples", "tests"):
            os.symlink(source / name, Path(scratch) / name)
        env = dict(os.environ, PATH=os.pathsep.join(tools + [os.environ.get("PATH", "")]),
                   KLAVOR_PHONE_EXE=phone_exe or "", LC_ALL="C.UTF-8", TZ="UTC")
        done = subprocess.run(["sh", "-c", command], cwd=scratch, env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=120)
        return done.stdout.decode("utf-8", "replace"), done.stderr.decode("utf-8", "replace")


def main(argv):
    args, phone_exe, show = [], None, None
    it = iter(argv[1:])
    for a in it:
        if a == "--phone-exe":
            phone_exe = next(it)
        elif a == "--print":
            show = next(it)
        else:
            args.append(a)
    source, tools = Path(args[0]).resolve(), [str(Path(t).resolve()) for t in args[1:]]
    if phone_exe:
        phone_exe = str(Path(phone_exe).resolve())
    files = [source / "README.md"] + sorted((source / "docs").glob("*.md"))
    problems, checked, passed_over = [], 0, 0
    for md in files:
        rel = md.relative_to(source)
        for marker_line, command, line, text in blocks(md):
            where = f"{rel}:{line}"
            if command is None:
                problems.append(f"{where}: a text block with no <!-- output: COMMAND --> marker above it")
                continue
            if show and show in (f"{rel}:{line}", f"{rel}:{marker_line}"):
                sys.stdout.write(run(command, source, tools, phone_exe)[0])
                return 0
            if "KLAVOR_PHONE_EXE" in command and not phone_exe:
                passed_over += 1
                continue
            out, err = run(command, source, tools, phone_exe)
            checked += 1
            if out != text:
                diff = "".join(difflib.unified_diff(text.splitlines(True), out.splitlines(True),
                                                    "in the docs", "printed now", n=1))
                problems.append(f"{where}: `{command}` prints something else now:\n{diff}"
                                + (f"(standard error: {err.strip()})\n" if err.strip() else ""))
    if show:
        print(f"no output block at {show}", file=sys.stderr)
        return 2
    for p in problems:
        print(p)
    note = f", {passed_over} passed over: no phone build" if passed_over else ""
    if problems:
        print(f"{len(problems)} of the quoted outputs differ or are unchecked{note}")
        return 1
    print(f"outputs: {checked} quoted outputs are what their commands print{note}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
