#!/usr/bin/python3
"""The CSV as the web page saves it, opened in real spreadsheet programs.

A folder of dumps (the sample dumps make_samples writes, copied under names
that a spreadsheet could take for formulas, and names with a comma, a quote,
a line break, letters beyond ASCII), its CSV written by write_csv exactly as
the page writes it, converted to .xlsx by LibreOffice (headless) and by
Gnumeric (ssconvert) and read back with openpyxl. Every name shows as the
console program's report shows it (LibreOffice shows the apostrophe that
keeps a name from being a formula; Gnumeric takes it as its mark for text
and hides it), no cell is a formula or an error, each distance is a number,
and each verdict and byte column reads as written.

  python3 tests/spreadsheet_test.py WRITE_CSV MAKE_SAMPLES DUMPSCAN

Exits 77 (skipped) when LibreOffice, Gnumeric or openpyxl is missing.
"""

import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import warnings

SKIPPED = 77
PROMPT = 'Press ENTER\r\n'

# The sample dumps' columns after the name, worked out by hand from what
# make_samples writes: record block km and verdict, counter word km and
# verdict, the bytes of both forms. A distance is a number, None for an
# empty cell.
GOOD_BLOCK = '3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E'
COLUMNS = {
    'valid.bin': [123456, 'CRC/Parity OK', 123456, 'CRC OK', GOOD_BLOCK, 'A0 BC 61 00'],
    'checksum-error.bin': [
        None, 'Crc And/Or Parity Error', 123456, 'CRC OK',
        '3C 49 F0 3E 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E', 'A0 BC 61 00'],
    'averaged.bin': [
        32800, 'CRC/Parity OK', None, 'Crc And/Or Parity Error',
        '10 0B F0 85 10 0B F0 85 10 0B F0 85 10 0B F0 85 10 1C F0 85', 'E0 32 0C 80'],
    # 1,930 bytes: the record block, not the counter word.
    'short.bin': [2, 'CRC/Parity OK', None, 'missing',
                  '00 06 F0 80 00 06 F0 80 00 06 F0 80 00 06 F0 80 00 06 F0 80', None],
    # 100 bytes: ends before either form.
    'tiny': [None, 'missing', None, 'missing', None, None],
    'unread': [None, 'could not be read', None, 'could not be read', None, None],
}

# Each dump of the folder: its file name and which columns it has.
DUMPS = [
    ('valid.bin', 'valid.bin'),
    ('checksum-error.bin', 'checksum-error.bin'),
    ('averaged.bin', 'averaged.bin'),
    ('short.bin', 'short.bin'),
    ('tiny.bin', 'tiny'),
    ('locked.bin', 'unread'),
    # Formula starts, as OWASP lists them; a tab and a line break, which
    # the report shows as U+FFFD.
    ('=1+1.bin', 'valid.bin'),
    ('=HYPERLINK("x";"y").bin', 'valid.bin'),
    ('+49.bin', 'valid.bin'),
    ('-5.bin', 'checksum-error.bin'),
    ('@SUM(A1).bin', 'valid.bin'),
    ('\tlead.bin', 'valid.bin'),
    ('=1+1,2.bin', 'short.bin'),
    ('=unread.bin', 'unread'),
    ('-tiny.bin', 'tiny'),
    # Not formula starts, or not at the start.
    (' =1+1.bin', 'valid.bin'),
    ('a=1+1.bin', 'valid.bin'),
    ("'quoted.bin", 'averaged.bin'),
    ('a,b "c".bin', 'valid.bin'),
    ('line\nbreak.bin', 'valid.bin'),
    ('Zähler-é 里程表 \U0001F600.bin', 'valid.bin'),
]
UNREADABLE = {'locked.bin', '=unread.bin'}
SOURCES = {'tiny': 'valid.bin', 'unread': 'valid.bin'}

# A name a spreadsheet would take for a formula, or would take an
# apostrophe from, is written with an apostrophe before it.
MARKED = ('=', '+', '-', '@', '\t', '\r', "'")


def console_names(dumpscan, folder):
    """The names as the console program's report shows them: each block's
    first line."""
    result = subprocess.run([str(dumpscan)], cwd=folder, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, check=True, timeout=120)
    text = result.stdout.decode('utf-16-le')
    assert text.endswith(PROMPT), text[-80:]
    blocks = text[:-len(PROMPT)].split('\r\n\r\n')
    assert blocks[-1] == '', blocks[-1]
    return sorted(block.split('\r\n')[0] for block in blocks[:-1])


def shown_name(file_name):
    """A file name as the report shows it: control characters as U+FFFD."""
    return ''.join('\ufffd' if ord(c) < 0x20 or 0x7F <= ord(c) <= 0x9F else c
                   for c in file_name)


def make_folder(folder, make_samples, work):
    samples = work / 'samples'
    samples.mkdir()
    subprocess.run([str(make_samples), str(samples)], check=True, timeout=60)
    folder.mkdir()
    for name, kind in DUMPS:
        data = (samples / SOURCES.get(kind, kind)).read_bytes()
        (folder / name).write_bytes(data[:100] if kind == 'tiny' else data)
    for name in UNREADABLE:
        (folder / name).chmod(0)


def convert(work, csv_path):
    """The CSV as each program saves it as .xlsx: {program: path}."""
    out = {}
    lo_out = work / 'libreoffice'
    # Comma, double quote, UTF-8 (76), from line 1, default column types,
    # English (US) numbers: the settings of LibreOffice's import dialog for
    # this file, which the headless import needs given (without them it
    # reads the byte-order mark as text).
    profile = (work / 'lo-profile').as_uri()
    subprocess.run(['soffice', '--headless', f'-env:UserInstallation={profile}',
                    '--infilter=CSV:44,34,76,1,,1033', '--convert-to', 'xlsx',
                    '--outdir', str(lo_out), str(csv_path)],
                   check=True, timeout=180, stdout=subprocess.DEVNULL,
                   env=dict(os.environ, HOME=str(work)))
    out['LibreOffice'] = lo_out / (csv_path.stem + '.xlsx')
    out['Gnumeric'] = work / 'gnumeric.xlsx'
    subprocess.run(['ssconvert', str(csv_path), str(out['Gnumeric'])], check=True, timeout=180,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   env=dict(os.environ, HOME=str(work), LC_ALL='C.UTF-8'))
    return out


def check_sheet(program, path, openpyxl):
    """The faults found in one converted sheet, as sentences."""
    faults = []
    with warnings.catch_warnings():
        # Neither program writes a default style; it changes no value.
        warnings.simplefilter('ignore')
        rows = list(openpyxl.load_workbook(path).active.iter_rows())
    for row in rows:
        for cell in row:
            if cell.data_type in ('f', 'e'):
                kind = 'formula' if cell.data_type == 'f' else 'error'
                faults.append(f'{program}: {cell.coordinate} is a {kind}: {cell.value!r}')
    header = ['name', 'record block km', 'record block verdict', 'counter word km',
              'counter word verdict', 'record block bytes', 'counter word bytes']
    if [cell.value for cell in rows[0]] != header:
        faults.append(f'{program}: header {[cell.value for cell in rows[0]]!r}')
    # What each name's cell must hold: the name as the report shows it, in
    # LibreOffice after the apostrophe that marks it as text.
    expected = {}
    for file_name, kind in DUMPS:
        shown = shown_name(file_name)
        marked = shown.startswith(MARKED) and program == 'LibreOffice'
        expected["'" + shown if marked else shown] = (shown, COLUMNS[kind])
    if len(rows) - 1 != len(expected):
        faults.append(f'{program}: {len(rows) - 1} rows for {len(expected)} dumps')
    for row in rows[1:]:
        name = row[0].value
        if name not in expected:
            faults.append(f'{program}: a name the report does not show: {name!r}')
            continue
        shown, columns = expected.pop(name)
        cells = list(row[1:7]) + [None] * (7 - len(row))
        got = [cell.value if cell else None for cell in cells]
        if got != columns:
            faults.append(f'{program}: {shown!r} reads {got!r}, not {columns!r}')
        for cell in (cells[0], cells[2]):
            if cell is not None and cell.value is not None and cell.data_type != 'n':
                faults.append(f'{program}: {shown!r}: {cell.coordinate} is not a number')
    for cell, (shown, _) in expected.items():
        faults.append(f'{program}: {shown!r} is not shown (as {cell!r})')
    return faults


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    write_csv, make_samples, dumpscan = (pathlib.Path(p).resolve() for p in sys.argv[1:])
    missing = [program for program in ('soffice', 'ssconvert') if not shutil.which(program)]
    try:
        import openpyxl  # pylint: disable=import-outside-toplevel
    except ImportError:
        missing.append('openpyxl (python3-openpyxl)')
    if missing:
        print(f'skipped: {", ".join(missing)} not installed')
        sys.exit(SKIPPED)
    with tempfile.TemporaryDirectory() as temporary:
        work = pathlib.Path(temporary)
        folder = work / 'dumps'
        make_folder(folder, make_samples, work)
        names = console_names(dumpscan, folder)
        if names != sorted(shown_name(name) for name, _ in DUMPS):
            sys.exit(f'the report shows other names: {names!r}')
        csv_path = work / 'report.csv'
        unreadable = [argument for name in sorted(UNREADABLE)
                      for argument in ('--unreadable', name)]
        subprocess.run([str(write_csv), *unreadable, str(folder), str(csv_path)],
                       check=True, timeout=60)
        faults = []
        for program, path in convert(work, csv_path).items():
            faults += check_sheet(program, path, openpyxl)
    for fault in faults:
        print(fault)
    if faults:
        sys.exit(1)
    print(f'{len(DUMPS)} dumps: every name, verdict and distance as written in LibreOffice and '
          'Gnumeric; no formula, no error')


if __name__ == '__main__':
    main()
