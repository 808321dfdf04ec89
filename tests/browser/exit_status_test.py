#!/usr/bin/python3
"""The browser test scripts' exit status (browser_support.exit_status), on
small test cases of its own: a script counts as skipped only when none of
its tests ran.

  python3 -m tests.browser.exit_status_test
"""

import io
import unittest

from tests.browser.browser_support import SKIPPED, _result_class, exit_status


class Passes(unittest.TestCase):
    def test_passes(self):
        pass


class Skips(unittest.TestCase):
    def test_skips(self):
        self.skipTest('not here')

    def test_skips_every_sub_test(self):
        for case in range(5):
            with self.subTest(case):
                self.skipTest('not here')


class SkipsSomeSubTests(unittest.TestCase):
    def test_some_sub_tests_skip(self):
        for case in range(5):
            with self.subTest(case):
                if case:
                    self.skipTest('not here')


class ClassSkips(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        raise unittest.SkipTest('not in this engine')

    def test_one(self):
        pass

    def test_two(self):
        pass


class Fails(unittest.TestCase):
    def test_fails(self):
        self.fail('as it should')


def status(*cases):
    suite = unittest.TestSuite(unittest.defaultTestLoader.loadTestsFromTestCase(case)
                               for case in cases)
    runner = unittest.TextTestRunner(stream=io.StringIO(), resultclass=_result_class())
    return exit_status(runner.run(suite))


class ExitStatus(unittest.TestCase):
    def test_skipped_only_when_no_test_ran(self):
        for cases, expected in (
                ((Passes,), 0),
                # More skips (sub-tests among them) than tests, yet one ran.
                ((Passes, Skips), 0),
                ((Passes, ClassSkips), 0),
                ((SkipsSomeSubTests,), 0),
                ((Skips,), SKIPPED),
                ((ClassSkips,), SKIPPED),
                ((ClassSkips, Skips), SKIPPED),
                ((Passes, Skips, Fails), 1),
                ((ClassSkips, Fails), 1)):
            with self.subTest([case.__name__ for case in cases]):
                self.assertEqual(status(*cases), expected)


if __name__ == '__main__':
    unittest.main(defaultTest='ExitStatus')
