"""Tests of the phone build's assembly filter (cmake/phone/asm_filter.py)."""

import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
FILTER = os.path.join(HERE, "..", "..", "cmake", "phone", "asm_filter.py")
sys.path.insert(0, os.path.dirname(FILTER))
import asm_filter  # noqa: E402


def run(text):
    return "".join(asm_filter.filter_text(text.splitlines(True), "t.s"))


class KnownLines(unittest.TestCase):
    def test_code_and_data_pass_unchanged(self):
        text = ("\t.text\n\t.align\t2\n\t.global\tWinMain\n\t.syntax unified\n\t.arm\nWinMain:\n"
                "\tpush\t{r4, lr}\n\tbl\tFindWindowW\n.L5:\n\t.word\tg_hWnd\n\t.short\t65\n"
                "\t.ascii\t\"a\\000\"\n\t.space\t4\n\t.set\t.LANCHOR0,. + 0\n")
        self.assertEqual(run(text), text)

    def test_elf_bookkeeping_is_dropped(self):
        text = ("\t.eabi_attribute 20, 1\n\t.file\t\"main.cpp\"\n\t.type\tWinMain, %function\n"
                "\t.size\tWinMain, .-WinMain\n\t.ident\t\"GCC: 12.2.1\"\n\tbx\tlr\n")
        self.assertEqual(run(text), "\tbx\tlr\n")

    def test_read_only_data_goes_to_rdata(self):
        for section in (".rodata", ".rodata.str2.2,\"aMS\",%progbits,2", ".rodata.cst4,\"aM\",%progbits,4"):
            with self.subTest(section=section):
                self.assertEqual(run(f"\t.section\t{section}\n"), '\t.section\t.rdata,"dr"\n')

    def test_comments_go_but_an_at_sign_in_a_string_stays(self):
        self.assertEqual(run("\tmov\tr0, r1 @ copy\n\t@ frame = 0\n"), "\tmov\tr0, r1\n")
        self.assertEqual(run('\t.ascii\t"a@b\\"@"\t@ note\n'), '\t.ascii\t"a@b\\"@"\n')


class UnknownLines(unittest.TestCase):
    def assertStops(self, text, line, *words):
        with self.assertRaises(asm_filter.FilterError) as caught:
            run(text)
        message = str(caught.exception)
        self.assertTrue(message.startswith(f"t.s:{line}: "), message)
        for word in words:
            self.assertIn(word, message)

    def test_an_unknown_directive_stops_with_its_line(self):
        self.assertStops("\t.text\n\tbx\tlr\n\t.weak\tf\n", 3, "unknown assembler directive '.weak'")

    def test_sections_a_run_time_would_serve_stop(self):
        # Static constructors, COMDAT groups, unwinding tables.
        self.assertStops('\t.section\t.init_array,"aw"\n', 1, "'.init_array'")
        self.assertStops('\t.section\t.text._Z1fv,"axG",%progbits,_Z1fv,comdat\n', 1, "'.text._Z1fv'")
        self.assertStops("\t.section\t.ARM.exidx,\"ao\",%arm_exidx\n", 1, "'.ARM.exidx'")

    def test_unwinding_directives_stop(self):
        self.assertStops("\t.fnstart\n", 1, "'.fnstart'")
        self.assertStops("\t.cfi_startproc\n", 1, "'.cfi_startproc'")

    def test_elf_relocation_operators_stop(self):
        self.assertStops("\tnop\n\tbl\tf(PLT)\n", 2, "(PLT)")
        self.assertStops("\t.word\tx(GOTOFF)\n", 1, "(GOTOFF)")

    def test_an_unterminated_string_stops(self):
        self.assertStops('\t.ascii\t"abc\n', 1, "unterminated")


class CommandLine(unittest.TestCase):
    def filter(self, text, stale=False):
        with tempfile.TemporaryDirectory() as folder:
            source = os.path.join(folder, "in.s")
            target = os.path.join(folder, "out.s")
            with open(source, "w") as f:
                f.write(text)
            if stale:
                with open(target, "w") as f:
                    f.write("stale\n")
            done = subprocess.run([sys.executable, "-B", FILTER, "--source", "x.cpp", source, target],
                                  capture_output=True, text=True)
            output = open(target).read() if os.path.exists(target) else None
            return done, source, output

    def test_writes_the_filtered_file(self):
        done, _, output = self.filter("\t.ident\t\"x\"\n\tbx\tlr\n")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(output, "\tbx\tlr\n")

    def test_a_failure_names_file_line_and_source_and_leaves_no_output(self):
        done, source, output = self.filter("\tbx\tlr\n\t.pushsection\t.foo\n", stale=True)
        self.assertEqual(done.returncode, 1)
        self.assertIn(f"{source}:2: unknown assembler directive '.pushsection'", done.stderr)
        self.assertIn("(compiled from x.cpp)", done.stderr)
        self.assertIsNone(output, "a stale output would be assembled in place of the failed one")


if __name__ == "__main__":
    unittest.main()
