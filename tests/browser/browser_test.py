#!/usr/bin/python3
"""The web page in a real browser (headless Chromium through chromedriver,
headless Firefox over WebDriver BiDi, or WebKit on a virtual screen through
WebKitWebDriver): for generated folders it must give the console program's
report, block by block; it must take files, folders and drops, copy and save
the exact text, say what it could not read, pass axe-core's accessibility
checks, and make no request to anywhere.

  python3 -m tests.browser.browser_test --engine chromium|firefox|webkit --page dumpscan.html
                                        --dumpscan NATIVE_DUMPSCAN --make-samples NATIVE_MAKE_SAMPLES
                                        --samples SAMPLES [unittest arguments]

Firefox and axe-core come from npm (tests/browser/npm, installed with npm ci
into the folder DUMPSCAN_NODE_MODULES names).
"""

import argparse
import http.server
import os
import pathlib
import shutil
import socketserver
import sys
import tempfile
import threading
import time
import unittest

from tests.browser.browser_support import (ENGINES, blocks_of, console_blocks, wait_until,
                                           write_folder)

ARGS = None

# How the report shows the dump named "line", line feed, "break.bin".
NAME_WITH_LINE_BREAK = 'line\uFFFDbreak.bin'


def chosen_files(folder):
    """The files of `folder` that a driver can choose at once."""
    return sorted(path for path in folder.iterdir() if path.is_file() and '\n' not in path.name)


def summary_of(blocks, unreadable=0):
    failed = sum(any('Crc And/Or Parity Error' in line for line in block) for block in blocks)
    count = len(blocks)
    return (f'{count:,} dump{"" if count == 1 else "s"}, {unreadable:,} could not be read, '
            f'{failed:,} with a failed check.')


class PageTest(unittest.TestCase):
    """One browser per test case class, a fresh profile and download folder."""

    dark = False

    @classmethod
    def setUpClass(cls):
        cls.work = pathlib.Path(tempfile.mkdtemp(prefix='dumpscan-browser-'))
        cls.browser = ENGINES[ARGS.engine](cls.work / 'profile', cls.work / 'downloads',
                                           dark=cls.dark)

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        shutil.rmtree(cls.work, ignore_errors=True)

    def setUp(self):
        self.browser.requests()  # drops those of earlier tests

    def tearDown(self):
        # The page fetches nothing: the only request is the page itself; and
        # nothing it does runs into its own policy.
        if self.browser.page_url is None:
            return
        self.assertEqual(self.browser.policy_violations(), [])
        for url in self.browser.requests() + self.browser.resources():
            self.assertTrue(url == self.browser.page_url or url.startswith(('data:', 'blob:')),
                            f'the page requested {url}')

    def folder(self, name, **kinds):
        path = self.work / name
        if not path.exists():
            write_folder(path, ARGS.samples, ARGS.make_samples, **kinds)
        return path

    def skip_folder_choice(self):
        if ARGS.engine == 'webkit':
            # WebKitWebDriver hands the page one empty file for a folder;
            # webkit_folder.py chooses folders through WebKitGTK's own API.
            self.skipTest('WebKitWebDriver cannot choose a folder (see webkit_folder.py)')

    def choose(self, folder):
        """The folder chosen as a folder, or in WebKit as its files."""
        if ARGS.engine == 'webkit':
            return self.browser.choose_files(chosen_files(folder))
        return self.browser.choose_folder(folder)

    def assertSameReport(self, folder, page_text, left_out=()):
        """The page's blocks are the console program's for `folder`, but for
        `left_out` (names the page cannot be given), in the page's order: by
        name."""
        expected = [block for block in console_blocks(ARGS.dumpscan, folder)
                    if block[0] not in left_out]
        actual = blocks_of(page_text)
        self.assertEqual(sorted(actual), sorted(expected))
        names = [block[0] for block in actual]
        self.assertEqual(names, sorted(names, key=lambda name: name.encode('utf-16-be')))

    def assertAccessible(self, when):
        self.assertEqual(self.browser.accessibility_violations(), [], when)


class FromFileUrl(PageTest):
    def test_folder_files_and_choosing_again(self):
        self.browser.open_file(ARGS.page)
        mixed = self.folder('mixed', mixed=True)
        if ARGS.engine != 'webkit':
            text = self.browser.choose_folder(mixed)
            # A folder named like a dump is listed by the console program,
            # with nothing read; a browser hands over files only.
            self.assertSameReport(mixed, text, left_out={'old.bin'})
            self.assertEqual(self.browser.summary(), summary_of(blocks_of(text)))
            self.assertEqual(self.browser.notice(), '')
            if ARGS.engine == 'firefox':
                self.assertIn('upload all files from', self.browser.last_prompt)

        # The same folder's files chosen as files give the same report.
        # (The drivers take several paths joined by line breaks, so the name
        # with a line break in it is left out here.)
        text = self.browser.choose_files(chosen_files(mixed))
        self.assertSameReport(mixed, text, left_out={'old.bin', NAME_WITH_LINE_BREAK})
        self.assertEqual(self.browser.summary(), summary_of(blocks_of(text)))
        self.assertIn('Crc And/Or Parity Error', text)

        # Choosing again replaces the report.
        samples = self.folder('samples-only', samples_only=True)
        self.assertSameReport(samples, self.choose(samples))

    def test_choices_without_dumps_say_why(self):
        self.skip_folder_choice()
        self.browser.open_file(ARGS.page)
        nested = self.folder('nested', nested_only=True)
        self.assertEqual(self.browser.choose_folder(nested), '')
        self.assertEqual(self.browser.summary(),
                         f'No dumps in the folder itself: its sub-folders hold {len(list(ARGS.samples.glob("*.bin"))) + 1} dumps, which are '
                         'not read. Choose the sub-folder instead.')
        self.assertTrue(self.browser.js("return document.getElementById('save').disabled"))
        self.assertEqual(self.browser.choose_files([nested / 'readme.txt']), '')
        self.assertEqual(self.browser.summary(), 'No dumps (*.bin files) among the chosen files.')


class SlowStart(PageTest):
    def test_starts_where_compiling_on_the_main_thread_is_refused(self):
        # Browsers refused (Chromium until 2023) or limit a module compiled
        # at once on the main thread; the page compiles in the background.
        if ARGS.engine != 'chromium':
            self.skipTest('the refusal is stood in for by a script run before the page, '
                          'which only the Chromium driver offers here')
        self.browser.preload("""
            const Module = WebAssembly.Module, Instance = WebAssembly.Instance;
            WebAssembly.Module = function (bytes) {
                if (bytes.byteLength > 4096) throw new RangeError('WebAssembly.Module is disallowed on the main thread');
                return new Module(bytes);
            };
            WebAssembly.Instance = function () {
                throw new RangeError('WebAssembly.Instance is disallowed on the main thread');
            };""")
        self.browser.open_file(ARGS.page)
        samples = self.folder('samples-only', samples_only=True)
        self.assertSameReport(samples, self.browser.choose_files(chosen_files(samples)))


class FromLocalServer(PageTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        page = pathlib.Path(ARGS.page)
        cls.served = []
        served = cls.served

        class Handler(http.server.SimpleHTTPRequestHandler):
            def __init__(self, *a, **k):
                super().__init__(*a, directory=str(page.parent), **k)

            def log_message(self, *a):
                served.append(self.path)

        cls.server = socketserver.ThreadingTCPServer(('127.0.0.1', 0), Handler)
        cls.server.daemon_threads = True
        threading.Thread(target=cls.server.serve_forever, daemon=True).start()
        cls.url = f'http://127.0.0.1:{cls.server.server_address[1]}/{page.name}'

    @classmethod
    def tearDownClass(cls):
        cls.server.shutdown()
        cls.server.server_close()
        super().tearDownClass()

    def tearDown(self):
        super().tearDown()
        # What the server saw: the page, and nothing else.
        self.assertEqual(set(self.served) - {'/' + pathlib.Path(ARGS.page).name}, set())

    def test_mixed_folder(self):
        self.browser.open_url(self.url)
        mixed = self.folder('mixed', mixed=True)
        left_out = {'old.bin'} | ({NAME_WITH_LINE_BREAK} if ARGS.engine == 'webkit' else set())
        self.assertSameReport(mixed, self.choose(mixed), left_out=left_out)

    def test_thousand_dumps_within_a_second(self):
        self.browser.open_url(self.url)
        many = self.folder('many', many=1000)
        # From the page's change event to the report on screen, as the page
        # marks them; the best of three, as other work on the machine only
        # ever adds to it.
        times = []
        for _ in range(3):
            started = time.monotonic()
            text = self.choose(many)
            waited = time.monotonic() - started
            times.append(self.browser.measure('dumpscan-chosen', 'dumpscan-report-shown'))
            print(f'{ARGS.engine}, 1000 dumps: shown {times[-1] * 1000:.0f} ms after they were '
                  f'chosen ({waited * 1000:.0f} ms with the driver handing them over)')
        self.assertEqual(len(blocks_of(text)), 1000)
        self.assertSameReport(many, text)
        self.assertEqual(self.browser.summary(), summary_of(blocks_of(text)))
        self.assertLess(min(times), 1.0)

    def test_copy_and_save_give_the_exact_text(self):
        self.browser.open_url(self.url)
        self.browser.allow_clipboard(self.url)
        mixed = self.folder('mixed', mixed=True)
        text = self.choose(mixed)
        exact = text.replace('\n', '\r\n')
        self.browser.click('copy')
        if ARGS.engine == 'webkit':
            # WebKit puts text on the clipboard with the system's line ends.
            self.assertEqual(self.browser.clipboard().replace('\r\n', '\n'), text)
        else:
            self.assertEqual(self.browser.clipboard(), exact)
        self.browser.click('save')
        saved = self.browser.download('report.txt')
        self.assertEqual(saved, exact.encode('utf-8'))

    def test_a_new_choice_stops_the_old_one(self):
        self.skip_folder_choice()
        self.browser.open_url(self.url)
        many = self.folder('many', many=1000)
        samples = self.folder('samples-only', samples_only=True)
        # The second choice is made while the first is still being read:
        # only its report is shown, and the first never comes back over it.
        before = self.browser.shown()
        self.browser.set_folder('folder-input', many, 'choose-folder')
        wait_until(lambda: self.browser.summary().startswith('Reading') or
                   self.browser.shown() > before, 60, 'the first choice was not taken')
        text = self.browser.choose_folder(samples)
        self.assertEqual(self.browser.summary(), summary_of(blocks_of(text)))
        self.assertSameReport(samples, text)
        time.sleep(1)  # a report of the first choice would have been shown by now
        self.assertEqual(self.browser.report(), text)
        self.assertLessEqual(self.browser.shown(), before + 2)


class Drops(PageTest):
    def test_dropped_files_and_a_file_that_cannot_be_read(self):
        self.browser.open_file(ARGS.page)
        mixed = self.folder('mixed', mixed=True)
        text = self.browser.drop_files(chosen_files(mixed))
        self.assertSameReport(mixed, text, left_out={'old.bin', NAME_WITH_LINE_BREAK})

        # A file that vanished after it was chosen cannot be read: its name
        # line and the empty line, as the console program shows a dump it
        # cannot open, and the others as ever.
        spoiled = self.work / 'spoiled'
        spoiled.mkdir()
        victim = spoiled / 'gone.bin'
        shutil.copy(ARGS.samples / 'valid.bin', victim)
        shutil.copy(ARGS.samples / 'valid.bin', spoiled / 'kept.bin')
        text = self.browser.drop_files(sorted(spoiled.iterdir()), before_drop=victim.unlink)
        self.assertEqual(blocks_of(text)[0], ('gone.bin',))
        self.assertEqual(self.browser.summary(), summary_of(blocks_of(text), unreadable=1))

    def test_dropped_folder_gives_its_own_files(self):
        self.skip_folder_choice()
        self.browser.open_file(ARGS.page)
        mixed = self.folder('mixed', mixed=True)
        text = self.browser.drop_folder(mixed)
        self.assertSameReport(mixed, text, left_out={'old.bin'})

    def test_a_folder_that_cannot_be_listed_is_named(self):
        self.skip_folder_choice()
        self.browser.open_file(ARGS.page)
        nested = self.folder('nested', nested_only=True)
        # Its dumps are all in sub-folders, which a drop does not walk.
        self.assertEqual(self.browser.drop_folder(nested), '')
        self.assertEqual(self.browser.summary(), 'No dumps in the folder itself, and its '
                         'sub-folders are not read. Choose the sub-folder instead.')
        # Listing fails part way: the page ends with a message, not "Reading…".
        mixed = self.folder('mixed', mixed=True)
        self.browser.drop_folder(mixed, fail_listing=True)
        self.assertEqual(self.browser.summary(), 'No dumps were read.')
        self.assertEqual(self.browser.notice(), 'The folder “mixed” could not be read.')


class Accessibility(PageTest):
    """axe-core finds nothing on the page, before and after a report."""

    def test_before_and_after_a_report(self):
        self.browser.open_file(ARGS.page)
        self.assertEqual(self.browser.js("return matchMedia('(prefers-color-scheme: dark)').matches"),
                         self.dark)
        self.assertAccessible('before a report')
        samples = self.folder('samples-only', samples_only=True)
        self.browser.choose_files(chosen_files(samples))
        self.assertAccessible('with a report')
        self.assertEqual(self.browser.js(
            "const r = document.getElementById('report');"
            "return [r.getAttribute('role'), "
            "document.getElementById(r.getAttribute('aria-labelledby')).textContent]"),
            ['region', 'Report'])


class AccessibilityDark(Accessibility):
    dark = True


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument('--engine', choices=sorted(ENGINES), default='chromium')
    parser.add_argument('--page', required=True, type=pathlib.Path)
    parser.add_argument('--dumpscan', required=True, type=pathlib.Path)
    parser.add_argument('--make-samples', required=True, type=pathlib.Path)
    parser.add_argument('--samples', required=True, type=pathlib.Path)
    ARGS, rest = parser.parse_known_args()
    for program in (ARGS.dumpscan, ARGS.make_samples):
        if not os.access(program, os.X_OK):
            sys.exit(f'browser_test.py: {program} is missing: the browser tests compare with '
                     'the native build (cmake --preset native && cmake --build --preset native)')
    for name in ('page', 'dumpscan', 'make_samples', 'samples'):
        setattr(ARGS, name, getattr(ARGS, name).resolve())
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == '__main__':
    main()
