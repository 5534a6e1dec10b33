#!/usr/bin/env python3
"""Breaks a copy of the phone's klavor.exe on purpose, for the soak's
mutation mode (tests/soak/mutate.sh --phone): within one function named in
the linker's map, every instruction whose disassembly matches a pattern is
replaced by a new word.

  patch_exe.py EXE MAP OBJDUMP OUT FUNCTION PATTERN NEW

PATTERN is a regular expression searched in the disassembly as objdump
shows it ("bl\\t0x115c0", "addeq\\tr4, r4, #1"), with the targets of
branches named by the map ("bl\\tCaptureButton(int)"). NEW is a Python
expression of the matched word w: 0xE1A00000 (mov r0, r0: nothing),
0xE12FFF1E (bx lr), w ^ 0x10000000 (the condition eq and ne swapped), ...
Prints each instruction it changed; exit status 1 if the pattern matched
nothing, 2 for bad arguments or files.
"""
import re
import subprocess
import sys


def symbols(map_path):
    """Addresses of the code symbols the map lists, sorted."""
    found = {}
    with open(map_path) as f:
        for line in f:
            m = re.match(r'^\s+0x([0-9a-f]{8})\s+(\S.*?)\s*$', line)
            if m and not m.group(2).startswith(('.', '*', '0x', 'PROVIDE')) and '=' not in m.group(2):
                found[m.group(2)] = int(m.group(1), 16)
    return found


def sections(objdump, exe):
    """(vma, size, file offset) of each section with contents in the file."""
    out = subprocess.run([objdump, '-h', exe], check=True, capture_output=True, text=True).stdout
    result = []
    for m in re.finditer(r'^\s*\d+\s+\S+\s+([0-9a-f]+)\s+([0-9a-f]+)\s+[0-9a-f]+\s+([0-9a-f]+)', out, re.M):
        size, vma, off = (int(g, 16) for g in m.groups())
        if off:
            result.append((vma, size, off))
    return result


def main(argv):
    if len(argv) != 8:
        sys.stderr.write(__doc__)
        return 2
    exe, map_path, objdump, out, function, pattern, new = argv[1:]
    try:
        re.compile(pattern)
    except re.error as e:
        sys.stderr.write(f'patch_exe.py: the pattern {pattern!r}: {e}\n')
        return 2
    syms = symbols(map_path)
    if function not in syms:
        sys.stderr.write(f'patch_exe.py: {map_path} names no function {function!r}\n')
        return 2
    start = syms[function]
    later = sorted(a for a in syms.values() if a > start)
    stop = later[0] if later else start + 0x1000
    names = {a: n for n, a in syms.items()}
    text = subprocess.run([objdump, '-d', f'--start-address={start:#x}', f'--stop-address={stop:#x}', exe],
                          check=True, capture_output=True, text=True).stdout
    with open(exe, 'rb') as f:
        image = bytearray(f.read())
    changed = 0
    for m in re.finditer(r'^\s*([0-9a-f]+):\s+([0-9a-f]{8})\s+(.*?)\s*$', text, re.M):
        addr, word = int(m.group(1), 16), int(m.group(2), 16)
        shown = re.sub(r'^(bl?x?|b[a-z]{2})\t0x([0-9a-f]+)$',
                       lambda b: b.group(1) + '\t' + names.get(int(b.group(2), 16), '0x' + b.group(2)), m.group(3))
        if not re.search(pattern, shown):
            continue
        replacement = eval(new, {}, {'w': word}) & 0xFFFFFFFF
        for vma, size, off in sections(objdump, exe):
            if vma <= addr < vma + size:
                at = off + addr - vma
                if int.from_bytes(image[at:at + 4], 'little') != word:
                    sys.stderr.write(f'patch_exe.py: {exe}: {addr:#x} does not hold {word:08x}\n')
                    return 2
                image[at:at + 4] = replacement.to_bytes(4, 'little')
                print(f'{addr:#x}: {word:08X} {shown} -> {replacement:08X}')
                changed += 1
                break
    if not changed:
        sys.stderr.write(f'patch_exe.py: no instruction of {function} matches {pattern!r}\n')
        return 1
    with open(out, 'wb') as f:
        f.write(image)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
