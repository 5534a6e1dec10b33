#!/usr/bin/env python3
"""Every relative link in README.md and docs/*.md leads somewhere: the file
it names exists, and its #anchor is a heading of that file (as GitHub makes
anchors of headings) or an explicit id. Links to other sites are not
followed: the docs must read the same offline.

Usage: check_links.py SOURCE_DIR"""
import re
import sys
from pathlib import Path

LINK = re.compile(r"(?<!!)\[(?:[^\]\\]|\\.)*\]\(([^)\s]+)(?:\s+\"[^\"]*\")?\)")
FENCE = re.compile(r"^\s*(```|~~~)")


def prose_lines(text):
    """The lines outside fenced code blocks: number, the line, and the line
    with its inline code removed (where links are looked for)."""
    inside = False
    for number, line in enumerate(text.splitlines(), 1):
        if FENCE.match(line):
            inside = not inside
            continue
        if not inside:
            yield number, line, re.sub(r"`[^`]*`", "", line)


def slug(heading):
    """GitHub's anchor for a heading: lower case, punctuation dropped
    (hyphens and underscores kept), spaces made hyphens."""
    text = re.sub(r"`([^`]*)`", r"\1", heading.strip()).lower()
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def anchors(path):
    found, counts = set(), {}
    for _, line, _ in prose_lines(path.read_text(encoding="utf-8")):
        match = re.match(r"^#{1,6}\s+(.*?)\s*#*\s*$", line)
        if match:
            base = slug(match.group(1))
            n = counts.get(base, 0)
            counts[base] = n + 1
            found.add(base if n == 0 else f"{base}-{n}")
        found.update(re.findall(r"<a\s+(?:id|name)=\"([^\"]+)\"", line))
    return found


def check(source):
    files = [source / "README.md"] + sorted((source / "docs").glob("*.md"))
    cache, problems = {}, []
    for md in files:
        if not md.exists():
            problems.append(f"{md}: missing")
            continue
        for number, _, line in prose_lines(md.read_text(encoding="utf-8")):
            for target in LINK.findall(line):
                if re.match(r"^[a-z][a-z0-9+.-]*:", target):  # http:, mailto: ...
                    continue
                path_part, _, anchor = target.partition("#")
                dest = (md.parent / path_part).resolve() if path_part else md
                where = f"{md.relative_to(source)}:{number}: {target}"
                if not dest.exists():
                    problems.append(f"{where}: no such file")
                    continue
                if anchor:
                    if dest.suffix != ".md":
                        problems.append(f"{where}: an anchor into a file that is not Markdown")
                        continue
                    if dest not in cache:
                        cache[dest] = anchors(dest)
                    if anchor not in cache[dest]:
                        problems.append(f"{where}: no heading or id '{anchor}' in {dest.relative_to(source)}")
    return files, problems


def main():
    source = Path(sys.argv[1]).resolve()
    files, problems = check(source)
    for p in problems:
        print(p)
    if problems:
        print(f"{len(problems)} broken link(s)")
        return 1
    print(f"links: {len(files)} files, every relative link and anchor found")
    return 0


if __name__ == "__main__":
    sys.exit(main())
