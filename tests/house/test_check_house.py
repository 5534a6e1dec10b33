"""check_house.py on a made-up checkout: what it must catch, and a clean one."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import check_house  # noqa: E402

MAP = """# Design
<!-- arrows -->
```
engine  -> platform/include
config  -> engine
```
"""


def make_tree(files):
    root = tempfile.mkdtemp()
    for path, text in files.items():
        os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
        with open(os.path.join(root, path), "w") as f:
            f.write(text)
    return root


def problems(files):
    root = make_tree(files)
    found = []
    graph = check_house.check_includes(root, found)
    check_house.check_arrows(root, {p: d for p, d in graph.items() if not p.startswith(check_house.FREE)}, found)
    return found


class CheckHouse(unittest.TestCase):
    def test_what_it_catches(self):
        clean = {"docs/design.md": MAP, "engine/key_table.h": "#include <windows.h>\n",
                 "config/config_text.h": '#include "engine/key_table.h"\n', "config/a.cpp": '#include "config_text.h"\n',
                 "tests/t.cpp": '#include "config/config_text.h"\n#include "engine/key_table.h"\n'}
        self.assertEqual(problems(clean), [])
        cases = [
            ({"config/b.cpp": '#include "key_table.h"\n'}, "config/b.cpp: includes key_table.h of another folder bare"),
            ({"engine/c.cpp": '#include "config/config_text.h"\n'},
             "engine includes config, an arrow docs/design.md does not draw"),
            ({"config/config_text.h": "\n"}, "docs/design.md draws config -> engine, but nothing in config includes it"),
            ({"files/f.cpp": '#include "engine/key_table.h"\n'},
             "docs/design.md: no line for files, which includes engine"),
            ({"config/d.cpp": '#include "config/gone.h"\n'}, "config/d.cpp: includes config/gone.h, which is not there"),
        ]
        for change, want in cases:
            with self.subTest(want=want):
                self.assertIn(want, problems({**clean, **change}))


if __name__ == "__main__":
    unittest.main()
