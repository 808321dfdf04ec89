#!/usr/bin/python3
"""A dump's details in the web page, in a real browser (Chromium, Firefox or
WebKit): each dump of the bundled samples opened from the keyboard shows the
sentence and the table of what its records and counter word hold, the
damaged records' bytes are marked in the report line while the report's
text, Copy and Save stay as they were, the page passes axe-core with a
dump open in light and dark, the details read without sideways scrolling on
a phone's screen and a desktop's, and "Save as CSV" gives a table that
Python's csv module reads back as the console program's report says, and
that is byte for byte what the native write_csv writes for the same folder
(the CSV that tests/spreadsheet_test.py opens in LibreOffice and Gnumeric).

  python3 -m tests.browser.details_test --engine chromium|firefox|webkit --page dumpscan.html
                                        --dumpscan NATIVE_DUMPSCAN --make-samples NATIVE_MAKE_SAMPLES
                                        --samples SAMPLES [unittest arguments]
"""

import csv
import io
import os
import pathlib
import shutil
import subprocess
import tempfile
import unittest

from tests.browser.browser_support import (DETAILS_FIT, ENGINES, blocks_of, console_blocks,
                                           run_tests, test_arguments, wait_until, write_folder)

ARGS = None

# What the details say of each bundled sample, worked out by hand from the
# bytes tests/make_samples.cpp writes.
SENTENCES = {
    'averaged.bin': 'All five records pass but differ: they give 32775, 32775, 32775, 32775 and '
                    '32903 km; the report takes their average, rounded down, 32800 km. The '
                    'counter word fails its checksum (check nibble E, its count gives F); its '
                    'count would stand for 32800.00 km.',
    'checksum-error.bin': 'Record 1 fails its checksum. Records 2, 3, 4 and 5 pass; each gives '
                          '123456 km. The counter word passes: 123456.00 km.',
    'parity-error.bin': 'Record 3 fails its parity test. Records 1, 2, 4 and 5 pass; each gives '
                        '32775 km. The counter word passes: 32774.00 km.',
    'short.bin': 'All five records pass; each gives 2 km. The file ends before byte 1,932, so it '
                 'has no counter word.',
    'valid.bin': 'All five records pass; each gives 123456 km. The counter word passes: '
                 '123456.00 km.',
}

# The table's rows: form, bytes, value, check nibbles, step byte, steps,
# what it gives, result.
GOOD_123456 = ['3C 48 F0 3E', '964', '8, 8', '3E, odd', '63', '123456 km', 'passes']
GOOD_32775 = ['10 0B F0 85', '256', 'B, B', '85, odd', '6', '32775 km', 'passes']
TABLES = {
    'checksum-error.bin': [
        ['Record 1', '3C 49 F0 3E', '964', '9, 8', '3E, odd', '63', '123456 km (untrusted)',
         'fails: check nibble 9, its value gives 8']] +
        [[f'Record {n}'] + GOOD_123456 for n in range(2, 6)] +
        [['Counter word', 'A0 BC 61 00', '12345600', 'A, A', '—', '—', '123456.00 km', 'passes']],
    'parity-error.bin': [[f'Record {n}'] + GOOD_32775 for n in (1, 2)] + [
        ['Record 3', '10 0B F0 05', '256', 'B, B', '05, even', '6', '32775 km (untrusted)',
         'fails: step byte 05 has even parity']] +
        [[f'Record {n}'] + GOOD_32775 for n in (4, 5)] +
        [['Counter word', 'B0 32 02 58', '3277400', 'B, B', '—', '—', '32774.00 km', 'passes']],
    'averaged.bin': [[f'Record {n}'] + GOOD_32775 for n in range(1, 5)] + [
        ['Record 5', '10 1C F0 85', '257', 'C, C', '85, odd', '6', '32903 km', 'passes'],
        ['Counter word', 'E0 32 0C 80', '3280000', 'E, F', '—', '—', '32800.00 km (untrusted)',
         'fails: check nibble E, its count gives F']],
}

# The samples with a failed check.
DAMAGED = ('averaged.bin', 'checksum-error.bin', 'parity-error.bin')

# The report line of a dump's record block and what is marked in it.
MARKED = {'checksum-error.bin': ['3C 49 F0 3E'], 'parity-error.bin': ['10 0B F0 05']}

DETAILS_OF = """
    const name = arguments[0];
    const report = document.getElementById('report');
    const row = Array.from(report.querySelectorAll('.dump')).find(
        (r) => r.querySelector('.name').textContent === name + '\\n');
    const panel = document.getElementById(row.getAttribute('aria-controls') || '');
    const line = row.querySelector('.ok, .failed');
    return {
      expanded: row.getAttribute('aria-expanded'),
      focused: document.activeElement === report &&
               report.getAttribute('aria-activedescendant') === row.id,
      sentence: panel ? panel.querySelector('.details-sentence').textContent : null,
      rows: panel ? Array.from(panel.querySelectorAll('tbody tr'), (tr) =>
          Array.from(tr.cells, (cell) => cell.textContent)) : [],
      marked: line ? Array.from(line.querySelectorAll('mark'), (m) => m.textContent) : [],
    };"""


def _refused(path):
    """Whether reading `path` is refused."""
    try:
        with open(path, 'rb'):
            return False
    except OSError:
        return True


class DetailsTest(unittest.TestCase):
    dark = False

    @classmethod
    def setUpClass(cls):
        cls.work = pathlib.Path(tempfile.mkdtemp(prefix='dumpscan-details-'))
        cls.browser = ENGINES[ARGS.engine](cls.work / 'profile', cls.work / 'downloads',
                                           dark=cls.dark)
        cls.samples = cls.work / 'samples-only'
        write_folder(cls.samples, ARGS.samples, ARGS.make_samples, samples_only=True)

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        shutil.rmtree(cls.work, ignore_errors=True)

    def tearDown(self):
        self.assertEqual(self.browser.policy_violations(), [])

    def choose_samples(self):
        self.browser.open_file(ARGS.page)
        files = sorted(path for path in self.samples.iterdir() if path.name.endswith('.bin'))
        return self.browser.choose_files(files)

    def press(self, name, key):
        """Presses `key` on the dump `name` in the report, reached from its
        first dump with the arrow keys, as a keyboard user would."""
        place = self.browser.js(
            "return Number(document.getElementById('report').querySelector("
            "`[aria-label^=\"${arguments[0]}, \"]`).getAttribute('aria-posinset'))", name)
        self.browser.js("document.getElementById('report').focus()")
        self.browser.keys('Home', *['ArrowDown'] * (place - 1), key)

    def details(self, name):
        return self.browser.js(DETAILS_OF, name)

    def sized(self, width, height):
        """The page as a screen `width` CSS pixels wide shows it: a phone's
        (mobile emulation in Chromium) below 600. Gives the width it got:
        WebKitWebDriver keeps its window wider than a phone."""
        if ARGS.engine == 'chromium':
            self.browser.driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', {
                'width': width, 'height': height, 'deviceScaleFactor': 2 if width < 600 else 1,
                'mobile': width < 600})
        elif ARGS.engine == 'firefox':
            self.browser.call('viewport', width=width, height=height)
        else:
            self.browser.driver.set_window_size(width, height)
        return self.browser.js('return innerWidth')

    def toggle(self, name, key):
        """Opens or closes the details of `name` with `key`; their state after."""
        before = self.details(name)['expanded']
        self.press(name, key)
        wait_until(lambda: self.details(name)['expanded'] != before, 10,
                   f'{key} did not open or close the details of {name}')
        return self.details(name)


class Details(DetailsTest):
    def test_each_sample_opened_from_the_keyboard(self):
        text = self.choose_samples()
        names = [block[0] for block in blocks_of(text)]
        self.assertEqual(sorted(names), sorted(SENTENCES))
        for name in names:
            with self.subTest(name=name):
                self.assertEqual(self.details(name)['expanded'], 'false')
                details = self.toggle(name, 'Enter')
                self.assertEqual(details['expanded'], 'true')
                self.assertTrue(details['focused'])
                self.assertEqual(details['sentence'], SENTENCES[name])
                if name in TABLES:
                    self.assertEqual(details['rows'], TABLES[name])
                self.assertEqual(len(details['rows']), 5 if name == 'short.bin' else 6)
                self.assertEqual(details['marked'], MARKED.get(name, []))
        # Closed again (Space this time): the panel and the marks are gone.
        details = self.toggle('checksum-error.bin', 'Space')
        self.assertEqual(details['expanded'], 'false')
        self.assertIsNone(details['sentence'])
        self.assertEqual(details['marked'], [])

        # The report's text is as it was, with dumps open, and its
        # Save gives it byte for byte.
        report_text = self.browser.js(
            "return Array.from(document.querySelectorAll('#report .dump'), "
            "(row) => row.textContent).join('')")
        self.assertEqual(report_text, text)
        self.browser.click('save')
        self.assertEqual(self.browser.download('report.txt'), text.replace('\n', '\r\n').encode())

    def test_csv_read_back(self):
        text = self.choose_samples()
        self.browser.click('save-csv')
        saved = self.browser.download('report.csv')
        self.assertTrue(saved.startswith(b'\xef\xbb\xbf'))
        rows = list(csv.reader(io.StringIO(saved[3:].decode('utf-8'), newline='')))
        self.assertEqual(rows[0], ['name', 'record block km', 'record block verdict',
                                   'counter word km', 'counter word verdict',
                                   'record block bytes', 'counter word bytes'])
        self.assertTrue(saved.endswith(b'\r\n'))
        # Each row says what the console program's report says.
        expected = [['name', 'record block km', 'record block verdict', 'counter word km',
                     'counter word verdict', 'record block bytes', 'counter word bytes']]
        for block in console_blocks(ARGS.dumpscan, self.samples):
            row = [block[0]]
            forms = {line[:7]: line[7:] for line in block[1:]}
            for prefix, size in (('0x774: ', 20), ('0x788: ', 4)):
                line = forms.get(prefix)
                if line is None:
                    row += ['', 'missing']
                    continue
                verdict = line[3 * size + 4:]
                if verdict == 'Crc And/Or Parity Error':
                    row += ['', verdict]
                else:
                    km, _, rest = verdict.partition(' km ')
                    row += [km, rest.lstrip(' ->')]
            for prefix, size in (('0x774: ', 20), ('0x788: ', 4)):
                line = forms.get(prefix)
                row.append('' if line is None else line[:3 * size - 1])
            expected.append(row)
        # The page lists dumps by name, the console program as the folder
        # gives them.
        self.assertEqual(rows[0], expected[0])
        self.assertEqual([row[0] for row in rows[1:]], sorted(SENTENCES))
        self.assertEqual(sorted(rows[1:]), sorted(expected[1:]))
        self.assertEqual(len(rows), len(blocks_of(text)) + 1)

        # The page's CSV of a folder is byte for byte what write_csv (the
        # native writer whose CSV csv_in_spreadsheets opens in LibreOffice
        # and Gnumeric) writes for it: names a spreadsheet would take for
        # formulas, a comma and a quote, too short, damaged and good dumps,
        # and a file of mode 000 (refused to the browser and the writer
        # alike, unless both run as a user who reads every file).
        (self.browser.downloads / 'report.csv').unlink()
        folder = self.work / 'spreadsheet'
        folder.mkdir()
        kinds = {path.name: path.read_bytes() for path in self.samples.iterdir()}
        names = {'=1+1.bin': 'valid.bin', '=HYPERLINK("x";"y").bin': 'valid.bin',
                 '+49.bin': 'valid.bin', '-5.bin': 'checksum-error.bin',
                 '@SUM(A1).bin': 'averaged.bin', "'quoted.bin": 'valid.bin',
                 'a,b "c".bin': 'parity-error.bin', 'Zähler-é.bin': 'valid.bin',
                 'short.bin': 'short.bin', 'valid.bin': 'valid.bin',
                 'checksum-error.bin': 'checksum-error.bin', 'locked.bin': 'valid.bin'}
        for name, kind in names.items():
            (folder / name).write_bytes(kinds[kind])
        (folder / 'tiny.bin').write_bytes(kinds['valid.bin'][:100])
        (folder / 'locked.bin').chmod(0)
        # A file the system refuses to read even to root, where there is
        # one: a write-only attribute of sysfs (which only writing would
        # act on), through a link named like a dump.
        refused = next((path for path in sorted(pathlib.Path('/sys/bus').glob('*/drivers_probe'))
                        if not os.access(path, os.R_OK) or _refused(path)), None)
        if refused:
            (folder / 'refused.bin').symlink_to(refused)
        self.browser.open_file(ARGS.page)
        self.browser.choose_files(sorted(folder.iterdir()))
        self.browser.click('save-csv')
        saved = self.browser.download('report.csv')
        written = self.work / 'written.csv'
        subprocess.run([str(ARGS.make_samples.parent / 'write_csv'), str(folder), str(written)],
                       check=True, timeout=60)
        self.assertEqual(saved, written.read_bytes())
        self.assertIn(b"\r\n'=1+1.bin,", saved)
        if refused:
            self.assertIn(b'\r\nrefused.bin,,could not be read,,could not be read,,\r\n', saved)


class DetailsAccessible(DetailsTest):
    """axe-core finds nothing with a damaged dump open, its details a table
    on a desktop's screen and cards on a phone's (where the engine's window
    can be made that narrow)."""

    def test_open_details(self):
        self.choose_samples()
        self.sized(1024, 800)
        self.toggle('checksum-error.bin', 'Enter')
        self.toggle('short.bin', 'Enter')
        self.assertEqual(self.browser.js(
            "return matchMedia('(prefers-color-scheme: dark)').matches"), self.dark)
        self.assertEqual(self.browser.accessibility_violations(), [], 'as a table')
        if self.sized(375, 667) == 375:
            self.assertEqual(self.browser.accessibility_violations(), [], 'as cards')


class DetailsOnAPhone(DetailsTest):
    """The open details of the damaged samples read without scrolling
    sideways, on a phone's screen (375 × 667) and a desktop's from 960 px:
    no sideways scroll, nothing outside the page or its panel, no cell's
    text cut, each row's label on the same card or line as its cells. On
    the phone each record is a card under the sentence, with no empty band
    above."""

    def test_phone(self):
        fit = self.open_damaged_at(375, 667)
        # The column titles are hidden (each card says them), and the
        # first card starts right under the sentence.
        self.assertIsNotNone(fit['gap'], 'the details are not cards on a phone')
        self.assertLess(fit['gap'], 20, fit)

    def test_desktop(self):
        fit = self.open_damaged_at(960, 800)
        self.assertIsNone(fit['gap'], 'the details are not a table with its column titles')

    def open_damaged_at(self, width, height):
        """The details of the damaged samples opened on a screen `width`
        CSS pixels wide; how they fit, checked as the class says."""
        self.choose_samples()
        shown = self.sized(width, height)
        if shown != width:
            self.skipTest(f'{ARGS.engine} kept a window {shown} pixels wide, not {width} (in '
                          'WebKit, browser_webkit_folder checks the details at a phone\'s width)')
        for name in DAMAGED:
            self.toggle(name, 'Enter')
        fit = self.browser.js(DETAILS_FIT)
        print(f'{ARGS.engine} at {width} px: {fit}')
        self.assertEqual(fit['width'], width - self.browser.js('return innerWidth - '
                                                               'document.documentElement.clientWidth'))
        self.assertEqual((fit['panels'], fit['scroll'], fit['outside'], fit['cut'], fit['offRow']),
                         (len(DAMAGED), 0, [], [], []), fit)
        return fit


class DetailsAccessibleDark(DetailsAccessible):
    dark = True


def main():
    global ARGS
    ARGS, rest = test_arguments('details_test.py')
    run_tests('details_test.py', rest)


if __name__ == '__main__':
    main()
