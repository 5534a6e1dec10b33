"""The release folder's packaging (cmake/release_dist.cmake), run as CPack
runs it, on a made-up build tree: it makes dist/ only from a test run that
passed whole after the page and the exe were made, and its sums check."""
import hashlib
import os
import subprocess
import sys
import tempfile
import unittest

SOURCE = sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', '..')
SCRIPT = os.path.join(SOURCE, 'cmake', 'release_dist.cmake')


def test_log(passed, total):
    lines = []
    for i in range(1, total + 1):
        lines += [f'{i}/{total} Testing: t{i}', f'{i}/{total} Test: t{i}',
                  'Test Passed.' if i <= passed else 'Test Failed.', '']
    return '\n'.join(lines) + '\n'


class Packaging(unittest.TestCase):
    def run_case(self, passed=3, total=3, failed_list=None, made_after_tests=False):
        """Returns (exit status, output, dist folder)."""
        top = tempfile.mkdtemp()
        staged = os.path.join(top, 'staged')
        os.makedirs(os.path.join(staged, 'docs'))
        files = {'README.md': b'# Klavor\n', 'docs/a.md': b'a\n'}
        for name, data in files.items():
            with open(os.path.join(staged, name), 'wb') as f:
                f.write(data)
        page, exe, log, failed = (os.path.join(top, n) for n in ('klavor.html', 'klavor.exe', 'LastTest.log', 'LastTestsFailed.log'))
        for path, data in ((page, b'<html>'), (exe, b'MZ')):
            with open(path, 'wb') as f:
                f.write(data)
        with open(log, 'w') as f:
            f.write(test_log(passed, total))
        os.utime(page, (1000, 1000))
        os.utime(exe, (1000, 3000 if made_after_tests else 1000))
        os.utime(log, (2000, 2000))
        if failed_list is not None:
            with open(failed, 'w') as f:
                f.write('255:web.sim\n')
            os.utime(failed, (failed_list, failed_list))
        dist = os.path.join(top, 'dist')
        r = subprocess.run(['cmake', f'-DCPACK_TEMPORARY_DIRECTORY={staged}', f'-DCPACK_KLAVOR_DIST={dist}',
                            f'-DCPACK_KLAVOR_PAGE={page}', f'-DCPACK_KLAVOR_EXE={exe}',
                            f'-DCPACK_KLAVOR_TEST_LOG={log}', f'-DCPACK_KLAVOR_FAILED_LOG={failed}', '-P', SCRIPT],
                           capture_output=True, text=True)
        return r.returncode, ' '.join((r.stdout + r.stderr).split()), dist

    def test_refusals(self):
        cases = [
            ('a test failed', dict(passed=2), 'passed 2 of 3 tests'),
            ("this run's list of failures", dict(failed_list=2000), 'had failures'),
            ('the exe made after the tests', dict(made_after_tests=True), 'klavor.exe was made after the last test run'),
        ]
        for what, case, message in cases:
            status, out, dist = self.run_case(**case)
            self.assertNotEqual(status, 0, what)
            self.assertIn(message, out, what)
            self.assertFalse(os.path.exists(dist), what)

    def test_a_passing_run_makes_the_folder_whatever_an_earlier_run_left(self):
        # ctest leaves an earlier run's list of failures behind when none fail.
        status, out, dist = self.run_case(failed_list=1500)
        self.assertEqual(status, 0, out)
        self.assertEqual(sorted(os.listdir(dist)), ['README.md', 'SHA256SUMS', 'docs', 'klavor.exe', 'klavor.html'])
        with open(os.path.join(dist, 'SHA256SUMS')) as f:
            sums = f.read()
        expected = ''.join(f'{hashlib.sha256(data).hexdigest()}  {name}\n' for name, data in
                           sorted({'README.md': b'# Klavor\n', 'docs/a.md': b'a\n', 'klavor.exe': b'MZ',
                                   'klavor.html': b'<html>'}.items()))
        self.assertEqual(sums, expected)
        self.assertEqual(subprocess.run(['sha256sum', '-c', '--quiet', 'SHA256SUMS'], cwd=dist).returncode, 0)


if __name__ == '__main__':
    unittest.main()
