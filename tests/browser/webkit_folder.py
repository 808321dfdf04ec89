#!/usr/bin/python3
"""A folder chosen in WebKit (Safari's engine), as Safari does it: the
browser walks the folder itself. WebKitWebDriver cannot choose a folder (it
hands the page one empty file), so this test drives WebKitGTK through its
own API: the page's "Choose a folder…" button asks for a file chooser, and
the test answers that request with the folder, on a virtual screen.

WebKit leaves a folder's files whose names start with a dot out of the
choice (Chromium, Firefox and the console program read them): the report
must be the console program's without those, and the page must say so.
In a window of a phone's size (375 × 667) the page scrolls only up and down
(but for the report's own box) and every control is at least 24 × 24; the
damaged dumps' details read without scrolling sideways there, each record a
card, and in a window 960 pixels wide, a table.

  python3 -m tests.browser.webkit_folder --page dumpscan.html --dumpscan NATIVE_DUMPSCAN
                   --make-samples NATIVE_MAKE_SAMPLES --samples SAMPLES
"""

import argparse
import json
import os
import pathlib
import shutil
import sys
import tempfile
import time

from tests.browser.browser_support import (DETAILS_FIT, PHONE_FIT, VirtualScreen, blocks_of,
                                           console_blocks, write_folder)


class Page:
    """A WebKitGTK web view in a window, and the folder its next file
    chooser gets."""

    def __init__(self):
        import gi
        gi.require_version('Gtk', '3.0')
        gi.require_version('WebKit2', '4.1')
        from gi.repository import GLib, Gtk, WebKit2
        self.GLib, self.Gtk = GLib, Gtk
        self.view = WebKit2.WebView()
        self.window = Gtk.Window()
        self.window.set_default_size(1000, 800)
        self.window.add(self.view)
        self.window.show_all()
        self.folder = None
        self.view.connect('run-file-chooser', self._choose)

    def _choose(self, view, request):
        request.select_files([str(self.folder)])
        return True

    def run_until(self, condition, timeout, what):
        context = self.GLib.MainContext.default()
        deadline = time.monotonic() + timeout
        while not condition():
            if time.monotonic() > deadline:
                raise AssertionError(f'{what}: not within {timeout} s')
            context.iteration(False)
            time.sleep(0.005)

    def js(self, script):
        """The JSON of the value of `script` (an expression)."""
        answer = {}

        def done(view, result):
            try:
                answer['value'] = view.run_javascript_finish(result).get_js_value().to_string()
            except Exception as error:  # noqa: BLE001 — shown in the failure
                answer['error'] = str(error)

        self.view.run_javascript(f'JSON.stringify(({script}))', None, done)
        self.run_until(lambda: answer, 60, script)
        if 'error' in answer:
            raise AssertionError(f'{script}: {answer["error"]}')
        return json.loads(answer['value'])

    def open(self, uri):
        self.view.load_uri(uri)
        self.run_until(lambda: not self.view.is_loading(), 60, 'the page did not load')
        try:
            self.run_until(lambda: self.js("!document.getElementById('choose-folder').disabled"),
                           60, 'the page did not start')
        except AssertionError:
            print('summary:', self.js("document.getElementById('summary').textContent"))
            raise

    def choose_folder(self, folder, timeout=120):
        self.folder = folder
        before = self.js("performance.getEntriesByName('dumpscan-report-shown').length")
        self.js("document.getElementById('choose-folder').click(), true")
        self.run_until(lambda: self.js(
            "performance.getEntriesByName('dumpscan-report-shown').length") > before,
            timeout, 'no report shown')
        return self.js("document.getElementById('report').textContent")


def main():
    parser = argparse.ArgumentParser()
    for name in ('page', 'dumpscan', 'make-samples', 'samples'):
        parser.add_argument('--' + name, required=True, type=pathlib.Path)
    args = parser.parse_args()
    work = pathlib.Path(tempfile.mkdtemp(prefix='dumpscan-webkit-'))
    screen = VirtualScreen(work)
    os.environ['DISPLAY'] = screen.display
    failures = 0
    checks = []
    try:
        page = Page()
        page.open(args.page.resolve().as_uri())
        mixed = work / 'mixed'
        write_folder(mixed, args.samples.resolve(), args.make_samples.resolve(), mixed=True)
        text = page.choose_folder(mixed)
        # Left out: the folder named like a dump (a browser hands over files
        # only), and in WebKit, files whose names start with a dot.
        left_out = {'old.bin'} | {p.name for p in mixed.iterdir() if p.name.startswith('.')}
        expected = sorted(b for b in console_blocks(args.dumpscan.resolve(), mixed)
                          if b[0] not in left_out)
        checks = [
            ('the report is the console program\'s, without dot files',
             sorted(blocks_of(text)) == expected),
            ('the page names the files WebKit leaves out',
             'start with a dot' in page.js("document.getElementById('notice').textContent")),
            ('the summary counts the dumps read',
             page.js("document.getElementById('summary').textContent").startswith(
                 f'{len(expected)} dumps, 0 could not be read, ')),
            ('no policy violation, nothing loaded',
             page.js("performance.getEntriesByType('resource').length") == 0),
        ]
        # A folder whose dumps are all in sub-folders says so.
        nested = work / 'nested'
        write_folder(nested, args.samples.resolve(), args.make_samples.resolve(), nested_only=True)
        checks.append(('a folder with dumps only in sub-folders says so',
                       page.choose_folder(nested) == '' and
                       page.js("document.getElementById('summary').textContent").startswith(
                           'No dumps in the folder itself: its sub-folders hold ')))
        # A phone's screen, with the report of the mixed folder (long names).
        page.choose_folder(mixed)
        page.window.resize(375, 667)
        page.run_until(lambda: page.js('innerWidth') == 375, 20, 'the window did not narrow')
        fit = page.js(f'(() => {{{PHONE_FIT}}})()')
        print('on a phone\'s screen:', fit)
        checks.append(('on a phone\'s screen nothing scrolls sideways and no control is small',
                       fit == {'width': 375, 'scroll': 0, 'outside': [], 'small': []}))
        # The damaged samples' details there, and on a desktop's screen
        # 960 pixels wide: they read without scrolling sideways (see
        # DETAILS_FIT); on the phone each record is a card right under the
        # sentence, on the desktop a table with its column titles.
        for name in ('averaged.bin', 'checksum-error.bin', 'parity-error.bin'):
            page.js("Array.from(document.querySelectorAll('#report .name')).find("
                    f"(row) => row.textContent === '{name}\\n').click(), true")
        for width, height in ((375, 667), (960, 800)):
            page.window.resize(width, height)
            page.run_until(lambda: page.js('innerWidth') == width, 20, 'the window did not resize')
            fit = page.js(f'(() => {{{DETAILS_FIT}}})()')
            print(f'the damaged dumps\' details {width} pixels wide:', fit)
            checks.append((f'{width} pixels wide the details read without scrolling sideways',
                           fit['panels'] == 3 and fit['scroll'] == 0 and fit['outside'] == [] and
                           fit['cut'] == [] and fit['offRow'] == [] and
                           (fit['gap'] is not None and fit['gap'] < 20 if width < 600
                            else fit['gap'] is None)))
        for what, passed in checks:
            print(f'{"ok  " if passed else "FAIL"} {what}')
            failures += not passed
        if failures:
            print(f'page: {sorted(blocks_of(text))[:3]}...\nconsole: {expected[:3]}...')
    finally:
        screen.stop()
        shutil.rmtree(work, ignore_errors=True)
    print(f'{len(checks) - failures} passed, {failures} failed')
    sys.exit(1 if failures else 0)


if __name__ == '__main__':
    main()
