#!/usr/bin/python3
"""Folders, files, text and links dropped onto the page as a user drops
them: real drags from a drag source on a virtual screen into a headed
browser (real_drag.py), the page opened from disk (file://) and from a
server on 127.0.0.1. Where the browser hands the page the files, the report
must be the console program's for the same folder, block by block; where it
withholds them (WebKitGTK), the page must say so; a drop of text or a link
must leave a shown report as it was.

  python3 -m tests.browser.drop_test --engine chromium|firefox|webkit --page dumpscan.html
                                     --dumpscan NATIVE_DUMPSCAN --make-samples NATIVE_MAKE_SAMPLES
                                     --samples SAMPLES [unittest arguments]

Run as root, it runs itself again without the capabilities that let root
read any folder, so that a folder of mode 000 cannot be read by the browser.
Exits with 77 when every test it ran was skipped.
"""

import http.server
import os
import pathlib
import shutil
import socketserver
import subprocess
import sys
import tempfile
import threading
import unittest

from tests.browser.browser_support import (blocks_of, console_blocks, run_tests, test_arguments,
                                           write_folder)
from tests.browser.real_drag import ENGINES, Desktop

ARGS = None
DESKTOP = None
WORK = None

# What the page says where the browser keeps the dropped files from it.
WITHHELD = ('This browser did not give the page the dropped files: '
            'choose them with the buttons above.')


# The first dump's name, a click on which opens its details, as a point in
# the page's viewport.
FIRST_OPENER = """
    const opener = document.querySelector('#report .name');
    opener.scrollIntoView({block: 'center'});
    const box = opener.getBoundingClientRect();
    return [box.left + box.width / 2, box.top + box.height / 2];"""

# How the report shows the dump named "line", line feed, "break.bin".
NAME_WITH_LINE_BREAK = 'line\uFFFDbreak.bin'


def setUpModule():
    global DESKTOP, WORK
    WORK = pathlib.Path(tempfile.mkdtemp(prefix='dumpscan-drop-'))
    DESKTOP = Desktop(WORK)


def tearDownModule():
    try:
        DESKTOP.stop()
    finally:
        for folder in WORK.rglob('*'):  # folders made unreadable, to remove them
            if folder.is_dir() and not folder.is_symlink():
                folder.chmod(0o700)
        shutil.rmtree(WORK, ignore_errors=True)


def folder(name, **kinds):
    path = WORK / name
    if not path.exists():
        write_folder(path, ARGS.samples, ARGS.make_samples, **kinds)
    return path


def locked_folders():
    """`with-locked` (the samples and a sub-folder that cannot be read) and
    that sub-folder, or None where this process can read it anyway."""
    parent = WORK / 'with-locked'
    if not parent.exists():
        write_folder(parent, ARGS.samples, ARGS.make_samples, samples_only=True)
        locked = parent / 'locked'
        locked.mkdir()
        shutil.copy(ARGS.samples / 'valid.bin', locked / 'hidden.bin')
        locked.chmod(0)
    try:
        os.listdir(parent / 'locked')
        return None
    except PermissionError:
        return parent, parent / 'locked'


class Drops:
    """The drops, from one origin (a subclass gives url()). One browser for
    all the tests of a class."""

    engine = None

    @classmethod
    def setUpClass(cls):
        cls.browser = ENGINES[ARGS.engine](DESKTOP, WORK / f'profile-{cls.__name__}')

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()

    def setUp(self):
        self.browser.open_url(self.url())

    def assertSameReport(self, folder, text, left_out=()):
        """The page's blocks are the console program's for `folder` but for
        `left_out`, in name order."""
        expected = [block for block in console_blocks(ARGS.dumpscan, folder)
                    if block[0] not in left_out]
        actual = blocks_of(text)
        missing = sorted({b[0] for b in expected} - {b[0] for b in actual})
        extra = sorted({b[0] for b in actual} - {b[0] for b in expected})
        self.assertEqual(sorted(actual), sorted(expected), (
            f'the page said: {self.browser.summary()} {self.browser.notice()}; '
            f'dumps missing: {missing[:5]!r}, not the console\'s: {extra[:5]!r}'))
        names = [block[0] for block in actual]
        self.assertEqual(names, sorted(names, key=lambda name: name.encode('utf-16-be')))

    def drop(self, paths, fast=False):
        """Drops `paths` and gives the report shown for them. Where the
        browser gives the page no files, checks that the page says so and
        gives None. `fast`: through Chromium's DevTools protocol."""
        browser = self.browser
        if ARGS.engine == 'webkit':
            seen = browser.drop_paths(paths)
            self.assertEqual(seen['files'], 0, 'WebKitGTK gave the page files: '
                             'it may now give dropped folders, and this test should say how')
            status = "return document.getElementById('action-status').textContent"
            browser.wait_for(lambda: browser.js(status) == WITHHELD, 5,
                             f'the page said {browser.js(status)!r}, not that the files were withheld')
            return None
        before = browser.shown()
        seen = browser.fast_drop(paths) if fast else browser.drop_paths(paths)
        self.assertGreater(seen['files'], 0, seen)
        browser.wait_for(lambda: browser.shown() > before, 120, 'no report shown after the drop')
        return browser.report()

    def test_folder_and_loose_files(self):
        with self.subTest('a folder'):
            samples = folder('samples-only', samples_only=True)
            text = self.drop([samples])
            if text is not None:
                self.assertSameReport(samples, text)
        with self.subTest('loose files'):
            # Every file of a mixed folder (odd sizes and names, a line break
            # in one), dropped as files; its sub-folders are not dropped.
            mixed = folder('mixed', mixed=True)
            text = self.drop(sorted(p for p in mixed.iterdir() if p.is_file()))
            if text is not None:
                self.assertSameReport(mixed, text, left_out={'old.bin'})
                self.assertIn('Crc And/Or Parity Error', text)

    def test_stray_drops_change_nothing(self):
        """Text, a link, a picture and a link to a file dropped on the
        report's text and on an open details table: the page stays where
        it is, as it was, its actions on. Where the browser withholds
        dropped files (WebKitGTK), its message leaves the report too."""
        samples = folder('samples-only', samples_only=True)
        browser = self.browser
        self.assertSameReport(samples, browser.choose_files(sorted(samples.iterdir())))
        strays = {
            'text': {'text': 'a few words selected on another page'},
            'a link': {'link': 'https://example.invalid/dumps/valid.bin'},
            'a picture': {'picture': 'https://example.invalid/pictures/dial.png'},
            'a link to a file': {'page_link': (samples / 'valid.bin').as_uri()},
        }
        for place in self.stray_places:
            if place == 'table':
                browser.click_at(FIRST_OPENER)
                browser.wait_for(lambda: browser.js(
                    "return document.querySelector('#report table') !== null"), 10,
                    'the details did not open')
            before = self.page_state()
            self.assertEqual(before['actions'], [True] * 3)
            for what, offer in strays.items():
                with self.subTest(f'{what} onto the {place}'):
                    seen = browser.drop_onto(offer, place)
                    self.assertEqual(seen['files'], 0, seen)
                    self._settle()
                    if ARGS.engine == 'webkit' and what == 'a link to a file':
                        # WebKitGTK hands a page a link to a file as it
                        # hands it files: the same types, no address. The
                        # page can only say the files were withheld.
                        before = dict(before, status=WITHHELD)
                    self.assertEqual(self.page_state(), before, seen)
        if ARGS.engine == 'webkit':
            with self.subTest('files the browser withholds'):
                browser.js("document.getElementById('action-status').textContent = ''; "
                           "return true")
                self.assertEqual(browser.drop_paths([samples])['files'], 0)
                browser.wait_for(lambda: self.page_state()['status'] == WITHHELD, 5,
                                 'the page did not say the files were withheld')
                self.assertEqual(self.page_state(), dict(before, status=WITHHELD))

    def page_state(self):
        """Where the page is and what it shows."""
        return self.browser.js("""
            const byId = (id) => document.getElementById(id);
            return {url: location.href, report: byId('report') && byId('report').textContent,
                    summary: byId('summary') && byId('summary').textContent,
                    notice: byId('notice') && byId('notice').textContent,
                    status: byId('action-status') && byId('action-status').textContent,
                    actions: ['copy', 'save', 'save-csv'].map((id) => byId(id) && !byId(id).disabled)};""")

    def _settle(self):
        """A second for the page to act on a drop it should ignore."""
        try:
            self.browser.wait_for(lambda: False, 1, '')
        except AssertionError:
            pass

    def test_folders_that_matter(self):
        """The folders a user drops, through the browser's own drop code
        (in Chromium driven over its DevTools protocol, the same code a real
        drag runs; in Firefox by real drags)."""
        if ARGS.engine == 'webkit':
            self.skipTest('WebKitGTK gives a page no dropped files: '
                          'test_folder_and_loose_files checks what the page says')
        fast = ARGS.engine == 'chromium'
        mixed = folder('mixed', mixed=True)
        nested = folder('nested', nested_only=True)
        many = folder('many', many=1000)
        # A folder named like a dump is listed by the console program, with
        # nothing read; a browser hands over files only. Chromium lists a
        # folder dropped onto a page from disk only through its file system
        # handle, which leaves out a name with a line break in it.
        left_out = {'old.bin'}
        if ARGS.engine == 'chromium' and self.from_disk:
            left_out.add(NAME_WITH_LINE_BREAK)
        for name, paths, expected, left_out in (
                ('mixed', [mixed], mixed, left_out),
                ('dumps only in sub-folders', [nested], nested, ()),
                ('1,000 dumps', [many], many, ())):
            with self.subTest(name):
                text = self.drop(paths, fast)
                self.assertSameReport(expected, text, left_out)
                if name.startswith('dumps only'):
                    self.assertTrue(self.browser.summary().startswith(
                        'No dumps in the folder itself'), self.browser.summary())

    def test_folders_that_cannot_be_read(self):
        if ARGS.engine == 'webkit':
            self.skipTest('WebKitGTK gives a page no dropped files')
        locked = locked_folders()
        if locked is None:
            self.skipTest('this process reads a folder of mode 000 (root with its capabilities)')
        fast = ARGS.engine == 'chromium'
        parent, unreadable = locked
        with self.subTest('a sub-folder that cannot be read'):
            self.assertSameReport(parent, self.drop([parent], fast))
        with self.subTest('a folder that cannot be read, dropped with another'):
            samples = folder('samples-only', samples_only=True)
            text = self.drop([unreadable, samples], fast)
            self.assertSameReport(samples, text)
            self.assertIn('“locked”', self.browser.notice())


class FromFileUrl(Drops, unittest.TestCase):
    from_disk = True
    stray_places = ('report', 'table')

    def url(self):
        return ARGS.page.as_uri()


class FromLocalServer(Drops, unittest.TestCase):
    from_disk = False
    # The details table takes a drop the same way from either origin: it is
    # tried from disk only, to keep the drags few.
    stray_places = ('report',)

    @classmethod
    def setUpClass(cls):
        page = ARGS.page

        class Handler(http.server.SimpleHTTPRequestHandler):
            def __init__(self, *a, **k):
                super().__init__(*a, directory=str(page.parent), **k)

            def log_message(self, *a):
                pass

        cls.server = socketserver.ThreadingTCPServer(('127.0.0.1', 0), Handler)
        cls.server.daemon_threads = True
        threading.Thread(target=cls.server.serve_forever, daemon=True).start()
        cls.page_url = f'http://127.0.0.1:{cls.server.server_address[1]}/{page.name}'
        try:
            super().setUpClass()
        except BaseException:
            cls.server.shutdown()
            cls.server.server_close()
            raise

    @classmethod
    def tearDownClass(cls):
        try:
            super().tearDownClass()
        finally:
            cls.server.shutdown()
            cls.server.server_close()

    def url(self):
        return self.page_url


def without_root_reading():
    """As root, runs this program again without CAP_DAC_OVERRIDE and
    CAP_DAC_READ_SEARCH (and never returns), so that permissions hold for
    the browser too; elsewhere, returns."""
    if os.geteuid() != 0 or os.environ.get('DUMPSCAN_DROP_CAPS') == 'dropped':
        return
    with open('/proc/self/status') as status:
        effective = int(next(l for l in status if l.startswith('CapEff:')).split()[1], 16)
    if not effective & 0b110 or not shutil.which('setpriv'):
        return
    caps = '-dac_override,-dac_read_search'
    setpriv = ['setpriv', f'--bounding-set={caps}', f'--inh-caps={caps}']
    if subprocess.run(setpriv + ['true'], stderr=subprocess.DEVNULL).returncode != 0:
        return  # not allowed here: the unreadable folders' test skips
    command = setpriv + [sys.executable, '-m', 'tests.browser.drop_test', *sys.argv[1:]]
    sys.stdout.flush()
    result = subprocess.run(command, env=dict(os.environ, DUMPSCAN_DROP_CAPS='dropped'))
    sys.exit(result.returncode)


def main():
    global ARGS
    ARGS, rest = test_arguments('drop_test.py')
    without_root_reading()
    run_tests('drop_test.py', rest)


if __name__ == '__main__':
    main()
