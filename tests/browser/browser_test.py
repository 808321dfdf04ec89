#!/usr/bin/python3
"""The web page in a real browser (headless Chromium through chromedriver,
headless Firefox over WebDriver BiDi, or WebKit on a virtual screen through
WebKitWebDriver): for generated folders it must give the console program's
report, block by block; it must take files and folders, copy and save the
exact text, say what it could not read and which file it waits for, fit a
phone's screen, pass axe-core's accessibility checks, and make no request to
anywhere. (Drops are tested with real drags, apart from these tests.)

A test case class that cannot run in an engine ends with exit status 77,
which CTest reports as skipped.

  python3 -m tests.browser.browser_test --engine chromium|firefox|webkit --page dumpscan.html
                                        --dumpscan NATIVE_DUMPSCAN --make-samples NATIVE_MAKE_SAMPLES
                                        --samples SAMPLES [unittest arguments]

Firefox and axe-core come from npm (tests/browser/npm, installed with npm ci
into the folder DUMPSCAN_NODE_MODULES names).
"""

import errno
import http.server
import os
import re
import pathlib
import shutil
import socketserver
import tempfile
import threading
import time
import unittest

from tests.browser.browser_support import (ENGINES, PHONE_FIT, blocks_of, console_blocks,
                                           run_tests, test_arguments, wait_until,
                                           write_folder)

ARGS = None

# How the report shows the dump named "line", line feed, "break.bin".
NAME_WITH_LINE_BREAK = 'line\uFFFDbreak.bin'

# Keeps window.seenStates, a record of the page's state each time its
# summary changes (see PageTest.record_states); window.noteState() gives the
# state now.
RECORD_STATES = """
    const byId = (id) => document.getElementById(id);
    const count = (name) => performance.getEntriesByName(name).length;
    window.noteState = () => ({
        choice: count('dumpscan-chosen'), shown: count('dumpscan-report-shown'),
        summary: byId('summary').textContent, children: byId('report').childNodes.length,
        actions: ['copy', 'save', 'save-csv'].map((id) => !byId(id).disabled)});
    window.seenStates = [window.noteState()];
    new MutationObserver(() => window.seenStates.push(window.noteState())).observe(
        byId('summary'), {childList: true, characterData: true, subtree: true});
    return true;"""


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

    def choose(self, folder):
        """The folder chosen as a folder, or in WebKit as its files (its
        driver cannot choose a folder)."""
        return self.browser.report_after(lambda: self.start_choice(folder))

    def start_choice(self, folder):
        """The same choice, not waiting for its report."""
        if ARGS.engine == 'webkit':
            self.browser.set_files('files-input', chosen_files(folder))
        else:
            self.browser.set_folder('folder-input', folder, 'choose-folder')

    def new_choice_while_reading(self):
        """A report on screen, then a choice of 10,000 dumps, then, while
        that one is seen being read, a choice of the samples: each new
        choice takes over at once, and only the samples' report follows."""
        mixed = self.folder('mixed', mixed=True)
        many = self.folder('ten-thousand', many=10000)
        samples = self.folder('samples-only', samples_only=True)
        self.browser.choose_files(chosen_files(mixed))
        self.record_states()
        first = self.state()
        self.assertEqual((first['children'] > 0, first['actions']), (True, [True] * 3))
        progress = r'Reading ([\d,]+) of 10,000 dumps…'

        def samples_report(text):
            self.assertEqual(self.browser.summary(), summary_of(blocks_of(text)))
            self.assertSameReport(samples, text)

        self.assertNewChoiceTakesOver(lambda: self.start_choice(many), first['choice'], '',
                                      None, watch=False)
        reading = wait_until(lambda: re.fullmatch(progress, self.browser.summary()), 120,
                             'the first choice was not seen being read')
        self.assertLess(int(reading[1].replace(',', '')), 10000)
        for seen in self.states():
            if seen['choice'] > first['choice']:
                self.assertEqual((seen['children'], seen['actions']), (0, [False] * 3),
                                 f'the old report or its actions were shown: {seen}')
        self.assertNewChoiceTakesOver(
            lambda: self.browser.set_files('files-input', chosen_files(samples)),
            first['choice'] + 1, progress, samples_report)

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

    def record_states(self):
        """From now on the page keeps a record of each summary it shows,
        with the choice it belongs to (the page's own count of choices),
        the reports shown so far, how many children #report has and which
        of Copy, Save and Save as CSV are on. The record is taken as the
        page changes the summary, so no state shown between two polls of
        the test's is missed."""
        self.browser.js(RECORD_STATES)

    def states(self):
        return self.browser.js('return window.seenStates')

    def state(self):
        return self.browser.js('return window.noteState()')

    def assertNewChoiceTakesOver(self, start, old_choice, old_progress, new_report,
                                 meanwhile=None, answer=None, watch=True):
        """`start()` makes a new choice after the choice `old_choice` (the
        page's count of choices then), which may still be being read. At
        once the report on screen goes and its actions are off; the old
        choice's progress (`old_progress`, a pattern) never comes back, and
        the new choice's report is the only one shown afterwards, for as
        long as the old one would have taken. `new_report(text)` checks that
        report. `meanwhile()`, if given, runs before the new report is
        awaited; `answer()` once it is shown (to let the old choice's
        stalled file answer). With `watch` false, only what holds at once
        is checked, and the new choice is left being read."""
        shown = self.state()['shown']
        start()
        # The page's record as the new choice changed the summary first.
        now = wait_until(lambda: next((seen for seen in self.states()
                                       if seen['choice'] > old_choice), None),
                         20, 'the new choice was not made')
        self.assertEqual((now['children'], now['actions']), (0, [False] * 3),
                         f'the old report or its actions outlived the new choice: {now}')
        if not watch:
            return
        if meanwhile:
            meanwhile()
        wait_until(lambda: self.state()['shown'] > shown, 120, 'no report for the new choice')
        text = self.browser.report()
        new_report(text)
        if answer:
            answer()
        # Watched for five seconds, as the old choice would have gone on.
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            self.assertEqual(self.state()['shown'], shown + 1, 'another report was shown')
            time.sleep(0.05)
        self.assertEqual(self.browser.report(), text)
        for seen in self.states():
            if seen['choice'] <= old_choice:
                continue
            self.assertIsNone(re.fullmatch(old_progress, seen['summary']),
                              f'the old choice went on after the new one: {seen}')
            if seen['shown'] == shown:  # before the new report
                self.assertEqual((seen['children'], seen['actions']), (0, [False] * 3),
                                 f'the old report or its actions were shown: {seen}')


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

    def test_a_new_choice_stops_the_old_one(self):
        self.browser.open_file(ARGS.page)
        self.new_choice_while_reading()


class FolderOnly(PageTest):
    """What only a chosen folder shows. WebKitWebDriver cannot choose a
    folder: webkit_folder.py chooses them through WebKitGTK's own API."""

    @classmethod
    def setUpClass(cls):
        if ARGS.engine == 'webkit':
            raise unittest.SkipTest('WebKitWebDriver cannot choose a folder (see webkit_folder.py)')
        super().setUpClass()

    def test_choices_without_dumps_say_why(self):
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
    @classmethod
    def setUpClass(cls):
        if ARGS.engine != 'chromium':
            raise unittest.SkipTest('the refusal is stood in for by a script run before the '
                                    'page, which only the Chromium driver offers here')
        super().setUpClass()

    def test_starts_where_compiling_on_the_main_thread_is_refused(self):
        # Browsers refused (Chromium until 2023) or limit a module compiled
        # at once on the main thread; the page compiles in the background.
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

    def test_a_new_choice_stops_the_old_one(self):
        self.browser.open_url(self.url)
        self.new_choice_while_reading()

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

class StalledRead(PageTest):
    """A file that never answers (a FIFO no one writes to, as a file on a
    share that stopped answering behaves) among the chosen files. Only
    Firefox waits for a chosen FIFO: Chromium lists it with size 0 and reads
    no byte of it, WebKit fails to read it. There the file is a dump whose
    stream a script of the test's holds back until the test lets it go."""

    STALLED = '0-stalled.bin'
    HOLD_BACK = """
        window.heldBack = [];
        const stream = Blob.prototype.stream;
        Blob.prototype.stream = function () {
            if (this.name !== '%s') return stream.call(this);
            const file = this;
            let reader = null;
            return new ReadableStream({async pull(controller) {
                if (!reader) {
                    await new Promise((resolve) => window.heldBack.push(resolve));
                    reader = stream.call(file).getReader();
                }
                const {done, value} = await reader.read();
                if (done) controller.close(); else controller.enqueue(value);
            }});
        };""" % STALLED

    def open(self):
        self.browser.open_file(ARGS.page)
        if ARGS.engine != 'firefox':
            self.browser.js(self.HOLD_BACK)

    def stalled_folder(self):
        """The file that does not answer, listed first; 70 dumps; a dump
        listed last, past the 64 that may be read ahead of the first."""
        folder = self.work / 'stalled'
        if not folder.exists():
            folder.mkdir()
            if ARGS.engine == 'firefox':
                os.mkfifo(folder / self.STALLED)
            else:
                shutil.copy(ARGS.samples / 'valid.bin', folder / self.STALLED)
            for i in range(70):
                shutil.copy(ARGS.samples / 'valid.bin', folder / f'dump-{i:02}.bin')
            shutil.copy(ARGS.samples / 'valid.bin', folder / 'zz-last.bin')
        return folder

    def answer(self, fifo):
        """The file that did not answer gives a valid dump's bytes and ends."""
        if ARGS.engine != 'firefox':
            self.browser.js('for (const go of window.heldBack.splice(0)) go();')
            return
        try:
            end = os.open(fifo, os.O_WRONLY | os.O_NONBLOCK)
        except OSError as error:
            if error.errno == errno.ENXIO:
                return  # no one reads it
            raise
        try:
            os.set_blocking(end, True)
            os.write(end, (ARGS.samples / 'valid.bin').read_bytes())
        except BrokenPipeError:
            pass  # the browser was blocked opening it, and closed it unread: it was cancelled
        finally:
            os.close(end)

    def wait_for_stall(self, folder):
        fifo = folder / self.STALLED
        self.addCleanup(self.answer, fifo)
        before = self.browser.shown()
        self.browser.set_files('files-input', sorted(folder.iterdir()))
        # Named within a second or two, and the page reads no further than
        # its window ahead of it.
        started = time.monotonic()
        wait_until(lambda: 'waiting' in self.browser.summary(), 10, 'no file named')
        print(f'{ARGS.engine}: the stalled file named after {time.monotonic() - started:.1f} s')
        self.assertEqual(self.browser.summary(),
                         'Reading 0 of 72 dumps… waiting for “0-stalled.bin”.')
        self.assertEqual(self.browser.report(), '')
        self.assertEqual(self.browser.shown(), before)
        return fifo

    def test_the_page_names_the_file_and_reads_no_further_ahead(self):
        self.open()
        folder = self.stalled_folder()
        fifo = self.wait_for_stall(folder)
        if hasattr(self.browser, 'heap'):
            first = self.browser.heap()
            time.sleep(2)
            self.assertLess(abs(self.browser.heap() - first), 256 << 10)
        # The last dump is past the window: it is read only after the FIFO
        # answers, so one taken away meanwhile cannot be read. (Read ahead
        # of the FIFO, it would give its lines.)
        last = folder / 'zz-last.bin'
        last.unlink()
        self.addCleanup(shutil.copy, ARGS.samples / 'valid.bin', last)
        text = self.browser.report_after(lambda: self.answer(fifo))
        blocks = blocks_of(text)
        valid = console_blocks(ARGS.dumpscan, ARGS.samples)
        valid = next(block for block in valid if block[0] == 'valid.bin')
        self.assertEqual(blocks[0], ('0-stalled.bin',) + valid[1:])
        self.assertEqual(blocks[-1], ('zz-last.bin',))
        self.assertEqual(self.browser.summary(), summary_of(blocks, unreadable=1))

    def test_a_new_choice_stops_a_stalled_read(self):
        # A report on screen, then the stalled choice, then a new one while
        # it waits: each takes over at once, and once the stalled file
        # answers the stalled choice neither goes on nor is shown.
        self.open()
        folder = self.stalled_folder()
        fifo = folder / self.STALLED
        self.addCleanup(self.answer, fifo)
        mixed = self.folder('mixed', mixed=True)
        samples = self.folder('samples-only', samples_only=True)
        self.browser.choose_files(chosen_files(mixed))
        self.record_states()
        first = self.state()
        self.assertEqual((first['children'] > 0, first['actions']), (True, [True] * 3))
        self.assertNewChoiceTakesOver(
            lambda: self.browser.set_files('files-input', sorted(folder.iterdir())),
            first['choice'], '', None, watch=False)
        wait_until(lambda: 'waiting' in self.browser.summary(), 10, 'no file named')
        self.assertEqual(self.browser.summary(),
                         'Reading 0 of 72 dumps… waiting for “0-stalled.bin”.')

        def firefox_waits():
            # Firefox reads no other file while one read waits: the new
            # choice waits too, and says for which file. Once the FIFO
            # answers, the old choice must not come back.
            if ARGS.engine != 'firefox':
                return
            wait_until(lambda: 'waiting' in self.browser.summary(), 10, 'no file named')
            self.assertEqual(self.browser.summary(),
                             'Reading 0 of 5 dumps… waiting for “averaged.bin”.')
            self.answer(fifo)

        self.assertNewChoiceTakesOver(
            lambda: self.browser.set_files('files-input', chosen_files(samples)),
            first['choice'] + 1, r'Reading .* of 72 dumps….*',
            lambda text: self.assertSameReport(samples, text),
            meanwhile=firefox_waits, answer=lambda: self.answer(fifo))


class PhoneScreen(PageTest):
    """On a phone's screen (375 × 667 CSS pixels) the page scrolls only
    up and down, but for the report's own box, and every control is at
    least 24 × 24 CSS pixels, the least a finger can hit."""

    @classmethod
    def setUpClass(cls):
        if ARGS.engine != 'chromium':
            # webkit_folder.py checks WebKit in a window of that size.
            raise unittest.SkipTest('only the Chromium driver here gives a page a phone\'s '
                                    'screen (MiniBrowser\'s window is no narrower than 447 px)')
        super().setUpClass()

    def test_nothing_scrolls_sideways_and_controls_are_large_enough(self):
        self.browser.emulate(375, 667, touch_points=5)
        self.browser.open_file(ARGS.page)
        fits = {'width': 375, 'scroll': 0, 'outside': [], 'small': []}
        self.assertEqual(self.browser.js(PHONE_FIT), fits, 'before a report')
        # Long names and lines, a notice and the actions.
        mixed = self.folder('mixed', mixed=True)
        self.browser.choose_files(chosen_files(mixed))
        self.assertNotEqual(self.browser.report(), '')
        self.assertEqual(self.browser.js(PHONE_FIT), fits, 'with a report')


class IOSNote(PageTest):
    """Every browser on an iPhone or iPad is built on Safari's engine, which
    leaves a folder's dot files out: the page says so in each of them, and
    in no other browser."""

    @classmethod
    def setUpClass(cls):
        if ARGS.engine != 'chromium':
            raise unittest.SkipTest('only the Chromium driver here sets a user agent')
        super().setUpClass()

    AGENTS = [
        ('Chrome on an iPhone', True, 5, 'Mozilla/5.0 (iPhone; CPU iPhone OS 17_5 like Mac OS X) '
         'AppleWebKit/605.1.15 (KHTML, like Gecko) CriOS/126.0.6478.54 Mobile/15E148 Safari/604.1'),
        ('Firefox on an iPhone', True, 5, 'Mozilla/5.0 (iPhone; CPU iPhone OS 17_5 like Mac OS X) '
         'AppleWebKit/605.1.15 (KHTML, like Gecko) FxiOS/127.0 Mobile/15E148 Safari/605.1.15'),
        ('Edge on an iPad', True, 5, 'Mozilla/5.0 (iPad; CPU OS 17_5 like Mac OS X) '
         'AppleWebKit/605.1.15 (KHTML, like Gecko) Version/17.0 EdgiOS/126.2592.56 '
         'Mobile/15E148 Safari/605.1.15'),
        ('Safari on an iPad, which says it is a Mac', True, 5,
         'Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15 '
         '(KHTML, like Gecko) Version/17.5 Safari/605.1.15'),
        ('Chrome on an iPad asking for the desktop site', True, 5,
         'Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15 (KHTML, like Gecko) '
         'CriOS/126.0.6478.54 Version/11.1.1 Safari/605.1.15'),
        ('Firefox on an iPad asking for the desktop site', True, 5,
         'Mozilla/5.0 (Macintosh; Intel Mac OS X 10.15) AppleWebKit/605.1.15 (KHTML, like Gecko) '
         'FxiOS/127.0 Safari/605.1.15'),
        # A Mac has no touch screen: a Mac's user agent with touch points is
        # an iPad's, whatever browser it names (as one that gives desktop
        # Chrome's or Firefox's user agent for the desktop site does).
        ('an iPad browser giving desktop Chrome\'s user agent', True, 5,
         'Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/537.36 '
         '(KHTML, like Gecko) Chrome/126.0.0.0 Safari/537.36'),
        ('an iPad browser giving desktop Firefox\'s user agent', True, 5,
         'Mozilla/5.0 (Macintosh; Intel Mac OS X 10.15; rv:127.0) Gecko/20100101 Firefox/127.0'),
        ('Firefox on a Mac', False, 0,
         'Mozilla/5.0 (Macintosh; Intel Mac OS X 10.15; rv:127.0) Gecko/20100101 Firefox/127.0'),
        ('Safari on a Mac', True, 0, 'Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) '
         'AppleWebKit/605.1.15 (KHTML, like Gecko) Version/17.5 Safari/605.1.15'),
        ('Chrome on a Mac', False, 0, 'Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) '
         'AppleWebKit/537.36 (KHTML, like Gecko) Chrome/126.0.0.0 Safari/537.36'),
        ('Chrome on an Android phone', False, 5, 'Mozilla/5.0 (Linux; Android 14; Pixel 8) '
         'AppleWebKit/537.36 (KHTML, like Gecko) Chrome/126.0.0.0 Mobile Safari/537.36'),
    ]

    def test_the_dot_file_note_in_each_browser(self):
        samples = self.folder('samples-only', samples_only=True)
        for what, noted, touch_points, agent in self.AGENTS:
            with self.subTest(what):
                self.browser.emulate(agent=agent, touch_points=touch_points)
                self.browser.open_file(ARGS.page)
                self.browser.choose_folder(samples)
                self.assertEqual('start with a dot' in self.browser.notice(), noted)


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
            ['treegrid', 'Report'])


class AccessibilityDark(Accessibility):
    dark = True


def main():
    global ARGS
    ARGS, rest = test_arguments('browser_test.py')
    run_tests('browser_test.py', rest)


if __name__ == '__main__':
    main()
