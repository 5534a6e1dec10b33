#!/usr/bin/env python3
"""Turns the ELF assembly of arm-none-eabi-g++ -S into assembly for the
arm-mingw32ce (PE/COFF) assembler.

Every line is checked against what this build knows the compiler emits:
ELF-only directives that mean nothing in a PE image are dropped, ELF section
names become their COFF ones, and everything else passes unchanged.  Any
directive or section not listed here stops the build with the file and line,
instead of being passed on: a directive the filter does not know may be one
the program needs (a static constructor table, a COMDAT group, an unwinding
table) and that nothing on the phone would provide.

    asm_filter.py [--source FILE] INPUT.s OUTPUT.s
"""

import argparse
import os
import re
import sys

# Directives that pass unchanged: code, data and symbol definitions the
# COFF assembler reads the same way.
PASS = {
    ".align", ".p2align", ".balign",
    ".arch", ".fpu", ".arm", ".syntax",
    ".text", ".data", ".bss",
    ".global", ".globl",
    ".ascii", ".asciz", ".string",
    ".byte", ".short", ".hword", ".2byte", ".word", ".long", ".4byte",
    ".space", ".zero", ".skip",
    ".set", ".equ",
}

# ELF-only bookkeeping, with no meaning in a PE image: EABI build
# attributes, symbol types and sizes (COFF spells those differently, and
# nothing on the phone reads them), the compiler's version and source name.
DROP = {".eabi_attribute", ".type", ".size", ".ident", ".file"}

# ELF section -> COFF section.  Read-only data goes to .rdata, as on
# Windows; merged string sections ("aMS") are plain read-only data there.
SECTIONS = [
    (re.compile(r"\.text$"), ".text"),
    (re.compile(r"\.data$"), ".data"),
    (re.compile(r"\.bss$"), ".bss"),
    (re.compile(r"\.rodata(\.[A-Za-z0-9_.]+)?$"), '.rdata,"dr"'),
]

# Relocation operators of ELF position-independent or EABI-specific code,
# such as "bl f(PLT)" or ".word x(GOTOFF)": PE has none of them.
ELF_RELOCATION = re.compile(r"\((GOT|GOTOFF|GOT_PREL|PLT|TARGET1|TARGET2|PREL31|SBREL|TLSGD|TLSLDM|TLSLDO|TLSCALL|TPOFF|GOTTPOFF|tlsdesc)\)")


class FilterError(Exception):
    pass


def strip_comment(line):
    """Drops an @ comment, leaving @ inside string literals alone."""
    in_string = False
    escaped = False
    for i, c in enumerate(line):
        if in_string:
            if escaped:
                escaped = False
            elif c == "\\":
                escaped = True
            elif c == '"':
                in_string = False
        elif c == '"':
            in_string = True
        elif c == "@":
            return line[:i]
    if in_string:
        raise FilterError("unterminated string")
    return line


def section_line(arguments):
    name = arguments.split(",", 1)[0].strip()
    for pattern, coff in SECTIONS:
        if pattern.match(name):
            return "\t.section\t" + coff
    raise FilterError(f"section '{name}' is not one the phone build knows ({arguments.strip()})")


LABEL = re.compile(r"^\s*([A-Za-z_.$][A-Za-z0-9_.$]*):(.*)$")


def filter_line(line):
    """Returns the line to write, or None to drop it."""
    code = strip_comment(line).rstrip()
    body = code
    label = LABEL.match(code)
    if label:
        body = label.group(2)
    text = body.strip()
    if not text:
        return code if label else None
    if ELF_RELOCATION.search(text):
        raise FilterError(f"ELF relocation operator in '{text}'")
    if not text.startswith("."):
        return code  # an instruction: the assembler checks it for the target CPU
    directive = text.split(None, 1)[0]
    arguments = text[len(directive):]
    if label:
        raise FilterError(f"a directive after a label on one line: '{code.strip()}'")
    if directive in DROP:
        return None
    if directive == ".section":
        return section_line(arguments)
    if directive in PASS:
        return code
    raise FilterError(f"unknown assembler directive '{directive}'")


def filter_text(lines, where):
    out = []
    for number, line in enumerate(lines, 1):
        try:
            kept = filter_line(line.rstrip("\n"))
        except FilterError as error:
            raise FilterError(f"{where}:{number}: {error}") from None
        if kept is not None:
            out.append(kept + "\n")
    return out


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", help="the C++ file the assembly was made from, for messages")
    parser.add_argument("input")
    parser.add_argument("output")
    args = parser.parse_args(argv)
    try:
        with open(args.input, encoding="utf-8") as f:
            lines = f.readlines()
        out = filter_text(lines, args.input)
    except FilterError as error:
        origin = f" (compiled from {args.source})" if args.source else ""
        print(f"{error}{origin}", file=sys.stderr)
        # No stale output from an earlier run may be assembled instead.
        if os.path.exists(args.output):
            os.remove(args.output)
        return 1
    except OSError as error:
        print(f"asm_filter: {error}", file=sys.stderr)
        return 1
    # Written whole or not at all: a failed run leaves no output to assemble.
    temporary = args.output + ".tmp"
    with open(temporary, "w", encoding="utf-8") as f:
        f.writelines(out)
    os.replace(temporary, args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
