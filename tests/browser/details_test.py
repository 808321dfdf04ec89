#!/usr/bin/python3
"""A dump's details in the web page, in a real browser (Chromium, Firefox or
WebKit): each dump of the bundled samples opened from the keyboard shows the
sentence and the table of what its records and counter word hold, the
damaged records' bytes are marked in the report line while the report's
text, Copy and Save stay as they were, the page passes axe-core with a
dump open in light and dark, a phone-sized screen scrolls the table inside
its box and not the page, and "Save as CSV" gives a table that Python's csv
module reads back as the console program's report says.

  python3 -m tests.browser.details_test --engine chromium|firefox|webkit --page dumpscan.html
                                        --dumpscan NATIVE_DUMPSCAN --make-samples NATIVE_MAKE_SAMPLES
                                        --samples SAMPLES [unittest arguments]
"""

import csv
import io
import pathlib
import shutil
import tempfile
import unittest

from tests.browser.browser_support import (ENGINES, blocks_of, console_blocks, run_tests,
                                           test_arguments, wait_until, write_folder)

ARGS = None

# What the details say of each bundled sample, worked out by hand from the
# bytes tests/make_samples.cpp writes.
SENTENCES = {
    'averaged.bin': 'All five records pass but differ: they give 32775, 32775, 32775, 32775 and '
                    '32903 km; the report takes their average, 32800 km. The counter word fails '
                    'its checksum (check nibble E, its count gives F); its count would stand for '
                    '32800.00 km.',
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


class DetailsAccessible(DetailsTest):
    """axe-core finds nothing with a damaged dump open."""

    def test_open_details(self):
        self.choose_samples()
        self.toggle('checksum-error.bin', 'Enter')
        self.toggle('short.bin', 'Enter')
        self.assertEqual(self.browser.js(
            "return matchMedia('(prefers-color-scheme: dark)').matches"), self.dark)
        self.assertEqual(self.browser.accessibility_violations(), [])


class DetailsOnAPhone(DetailsTest):
    """On a phone-sized screen the table scrolls sideways in its box, not
    the page, and axe-core still finds nothing."""

    def test_table_scrolls_in_its_box(self):
        self.choose_samples()
        self.toggle('checksum-error.bin', 'Enter')
        self.phone_sized()
        widths = self.browser.js("""
            const box = document.querySelector('.details .table-box');
            return {page: document.documentElement.scrollWidth,
                    screen: document.documentElement.clientWidth,
                    box: box.clientWidth, table: box.scrollWidth};""")
        self.assertLessEqual(widths['page'], widths['screen'], widths)
        self.assertGreater(widths['table'], widths['box'], widths)
        self.assertEqual(self.browser.accessibility_violations(), [], 'on a phone-sized screen')

    def phone_sized(self):
        """The page as a phone 375 CSS pixels wide shows it."""
        if ARGS.engine == 'chromium':
            self.browser.emulate(375, 700)
        elif ARGS.engine == 'firefox':
            self.browser.call('viewport', width=375, height=700)
        else:
            self.browser.driver.set_window_size(375, 700)
        width = self.browser.js('return document.documentElement.clientWidth')
        if width > 400:
            self.skipTest(f'{ARGS.engine} kept a window {width} pixels wide (in WebKit, '
                          'browser_webkit_folder checks the details at a phone\'s width)')


class DetailsAccessibleDark(DetailsAccessible):
    dark = True


def main():
    global ARGS
    ARGS, rest = test_arguments('details_test.py')
    run_tests('details_test.py', rest)


if __name__ == '__main__':
    main()
