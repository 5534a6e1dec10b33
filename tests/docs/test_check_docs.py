"""The docs checkers catch what they are for: a missing file or anchor,
a quoted output that changed, an output block nobody checks."""
import contextlib
import io
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
import check_links  # noqa: E402
import check_outputs  # noqa: E402


def tree(files):
    root = Path(tempfile.mkdtemp(prefix="klavor-docs-test-"))
    for name in ("examples", "tests", "docs"):
        (root / name).mkdir()
    for name, text in files.items():
        (root / name).write_text(text, encoding="utf-8")
    return root


class Links(unittest.TestCase):
    def test_files_and_anchors(self):
        root = tree({
            "README.md": "# Klavor\n## The `show` command, in short\n[a](docs/x.md#what-it-is-for) "
                         "[b](#the-show-command-in-short) [c](https://example.org/nowhere)\n"
                         "```\n[not a link](nowhere.md)\n```\n",
            "docs/x.md": "# What it is for\n[back](../README.md#klavor) [gone](y.md) [no](../README.md#nope)\n",
        })
        _, problems = check_links.check(root)
        self.assertEqual([p.split(": ", 1)[1] for p in problems],
                         ["y.md: no such file", "../README.md#nope: no heading or id 'nope' in README.md"])


class Outputs(unittest.TestCase):
    def run_check(self, readme):
        root = tree({"README.md": readme})
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            status = check_outputs.main(["check_outputs.py", str(root)])
        return status, out.getvalue()

    def test_same_differing_and_unmarked(self):
        self.assertEqual(self.run_check("<!-- output: printf 'a\\nb\\n' -->\n```text\na\nb\n```\n")[0], 0)
        status, said = self.run_check("<!-- output: printf 'a\\nc\\n' -->\n```text\na\nb\n```\n")
        self.assertEqual(status, 1)
        self.assertIn("-b\n+c\n", said)
        status, said = self.run_check("```text\nanything\n```\n")
        self.assertEqual(status, 1)
        self.assertIn("README.md:1: a text block with no", said)


if __name__ == "__main__":
    unittest.main()
