"""Headless Chromium driving the web page, the folders of dumps the browser
tests choose, and the console program's report to compare with.

Also a small command line, for the release check and the docs' screenshot:
  browser_support.py report PAGE FOLDER        prints the page's report
  browser_support.py screenshot PAGE FOLDER PNG WIDTH [dark]
"""

import base64
import json
import pathlib
import shutil
import subprocess
import sys
import time

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

PROMPT = 'Press ENTER\r\n'


def blocks_of(text):
    """The blocks of a report with '\\n' line ends: each dump's lines up to
    its empty line, as a tuple."""
    lines = text.split('\n')
    if lines[-1] != '':
        raise AssertionError(f'the report does not end with a line end: {text[-80:]!r}')
    blocks, block = [], []
    for line in lines[:-1]:
        if line == '':
            blocks.append(tuple(block))
            block = []
        else:
            block.append(line)
    if block:
        raise AssertionError(f'the last block has no empty line: {block!r}')
    return blocks


def console_blocks(dumpscan, folder):
    """The console program's blocks for `folder`: run there, input from
    /dev/null, output (UTF-16LE, CR LF) redirected."""
    result = subprocess.run([str(dumpscan)], cwd=folder, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, check=True, timeout=120)
    text = result.stdout.decode('utf-16-le')
    if not text.endswith(PROMPT):
        raise AssertionError(f'{dumpscan} did not end with the prompt: {text[-80:]!r}')
    return blocks_of(text[:-len(PROMPT)].replace('\r\n', '\n'))


def page_blocks(text):
    return blocks_of(text)


def write_folder(path, samples, make_samples, mixed=False, samples_only=False, many=0):
    """A folder of dumps. Every dump's bytes come from the project's own
    fixture program (samples/ is what make_samples writes): this only copies,
    cuts and names them."""
    path.mkdir(parents=True)
    samples = pathlib.Path(samples)
    if many:
        subprocess.run([str(make_samples), '--many', str(many), str(path)], check=True)
    if samples_only or mixed:
        for sample in samples.glob('*.bin'):
            shutil.copy(sample, path / sample.name)
    if not mixed:
        return
    valid = (samples / 'valid.bin').read_bytes()
    broken = (samples / 'checksum-error.bin').read_bytes()
    # Around the two ranges: 1908 + 20 = 1928, 1928 + 4 = 1932.
    for size in (0, 1907, 1908, 1927, 1928, 1929, 1931, 1932):
        (path / f'size-{size}.bin').write_bytes(valid[:size])
    # Letter case, and a name that is nothing but the extension.
    (path / 'UPPER.BIN').write_bytes(broken)
    (path / 'Mixed.Bin').write_bytes(valid)
    (path / '.bin').write_bytes(valid)
    # Names that are not dumps'.
    for name in ('notes.txt', 'dump.bin.txt', 'dumpbin', 'dump.bi', 'dump.bin~'):
        (path / name).write_bytes(valid)
    # Names beyond ASCII: accents, CJK, a character outside the BMP, and a
    # line break that the report must not carry.
    for name in ('Zähler-é.bin', '里程表.bin', 'smile-\U0001F600.bin', 'line\nbreak.bin'):
        (path / name).write_bytes(broken if 'é' in name else valid)
    # 5 GiB, sparse: only the head is written; only 24 bytes are read.
    with open(path / 'huge.bin', 'wb') as huge:
        huge.write(valid)
        huge.truncate(5 << 30)
    # Sub-folders: their dumps are not the folder's. One is named like a dump.
    (path / 'sub' / 'deeper').mkdir(parents=True)
    (path / 'sub' / 'inner.bin').write_bytes(valid)
    (path / 'sub' / 'deeper' / 'deepest.bin').write_bytes(broken)
    (path / 'old.bin').mkdir()
    (path / 'old.bin' / 'in-old.bin').write_bytes(valid)


class Browser:
    """Debian's Chromium, headless, through chromedriver: flags that keep it
    from reaching out on its own, a fresh profile, downloads into a folder,
    and its performance log to see every request a page makes."""

    def __init__(self, profile, downloads, width=1200, height=900, dark=False):
        self.downloads = pathlib.Path(downloads)
        self.downloads.mkdir(parents=True, exist_ok=True)
        options = Options()
        options.binary_location = '/usr/bin/chromium'
        for flag in ('--headless=new', '--no-sandbox', '--disable-gpu', '--disable-quic',
                     '--no-first-run', '--disable-background-networking',
                     '--disable-component-update', '--disable-sync',
                     '--disable-dev-shm-usage', f'--user-data-dir={profile}',
                     f'--window-size={width},{height}'):
            options.add_argument(flag)
        if dark:
            options.add_argument('--force-dark-mode')
            options.add_argument('--blink-settings=preferredColorScheme=0')
        options.add_experimental_option('prefs', {
            'download.default_directory': str(self.downloads),
            'download.prompt_for_download': False,
        })
        options.set_capability('goog:loggingPrefs', {'performance': 'ALL'})
        self.driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
        self.driver.execute_cdp_cmd('Browser.setDownloadBehavior',
                                    {'behavior': 'allow', 'downloadPath': str(self.downloads)})
        # Whatever the page's policy blocks (a request it tried, a script or
        # style it would not run) is noted before the page's own code runs.
        self.driver.execute_cdp_cmd('Page.addScriptToEvaluateOnNewDocument', {'source': """
            window.policyViolations = [];
            document.addEventListener('securitypolicyviolation', (event) => {
                window.policyViolations.push(event.violatedDirective + ' ' + event.blockedURI);
            });"""})
        self.page_url = None

    def quit(self):
        self.driver.quit()

    def open_url(self, url):
        self.requests()  # those of the browser's own start page
        self.page_url = url
        self.driver.get(url)
        WebDriverWait(self.driver, 20).until(
            lambda d: d.find_element(By.ID, 'choose-folder').is_enabled())

    def open_file(self, page):
        self.open_url(pathlib.Path(page).resolve().as_uri())

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def policy_violations(self):
        return self.js('return window.policyViolations || []')

    def requests(self):
        """The URLs of every request since the last call."""
        urls = []
        for entry in self.driver.get_log('performance'):
            message = json.loads(entry['message'])['message']
            if message['method'] == 'Network.requestWillBeSent':
                urls.append(message['params']['request']['url'])
        return urls

    def shown(self):
        return len(self.js("return performance.getEntriesByName('dumpscan-report-shown')"))

    def report_after(self, action):
        """Runs `action`, waits until the page shows a new report, returns its text."""
        before = self.shown()
        action()
        WebDriverWait(self.driver, 60, poll_frequency=0.02).until(lambda d: self.shown() > before)
        return self.js("return document.getElementById('report').textContent")

    def summary(self):
        return self.driver.find_element(By.ID, 'summary').text

    def choose_folder(self, folder):
        field = self.driver.find_element(By.ID, 'folder-input')
        return self.report_after(lambda: field.send_keys(str(folder)))

    def choose_files(self, files):
        field = self.driver.find_element(By.ID, 'files-input')
        return self.report_after(lambda: field.send_keys('\n'.join(str(f) for f in files)))

    def _test_input(self, folder):
        """A file field of the test's own, outside the page's code: the files
        a drop would carry are chosen through it."""
        self.js("""
            document.getElementById('test-input')?.remove();
            const field = document.createElement('input');
            field.type = 'file';
            field.id = 'test-input';
            field.multiple = true;
            field.webkitdirectory = arguments[0];
            field.style.display = 'none';
            document.body.append(field);""", folder)
        return self.driver.find_element(By.ID, 'test-input')

    def drop_files(self, files, before_drop=None):
        """A drop of `files` onto the page, synthesised: the files are chosen
        through a file field of the test's, put into a DataTransfer, and a
        drop event carrying it is dispatched on the drop zone."""
        self._test_input(False).send_keys('\n'.join(str(f) for f in files))
        if before_drop:
            before_drop()
        return self.report_after(lambda: self.js("""
            const transfer = new DataTransfer();
            for (const file of document.getElementById('test-input').files) transfer.items.add(file);
            document.getElementById('drop-zone').dispatchEvent(
                new DragEvent('drop', {dataTransfer: transfer, bubbles: true, cancelable: true}));"""))

    def drop_folder(self, folder):
        """A drop of a folder, simulated: a real drop's item gives the
        browser's entry for the folder, which no script can make. Here the
        item gives a stand-in with the same interface (createReader,
        readEntries in batches, file entries, folder entries for the
        sub-folders), built from the real files of `folder` chosen through a
        folder field of the test's, so the page walks it as it would a real
        folder and reads real files."""
        self._test_input(True).send_keys(str(folder))
        return self.report_after(lambda: self.js("""
            const files = Array.from(document.getElementById('test-input').files);
            const top = files[0].webkitRelativePath.split('/')[0];
            const fileEntry = (file) => ({
                isFile: true, isDirectory: false, name: file.name,
                fullPath: '/' + file.webkitRelativePath,
                file: (resolve) => setTimeout(() => resolve(file), 0)});
            const folderEntry = (path) => ({
                isFile: false, isDirectory: true, name: path.split('/').pop(),
                fullPath: '/' + path,
                createReader() {
                    const prefix = path + '/';
                    const children = [];
                    const folders = new Set();
                    for (const file of files) {
                        if (!file.webkitRelativePath.startsWith(prefix)) continue;
                        const rest = file.webkitRelativePath.slice(prefix.length).split('/');
                        if (rest.length === 1) children.push(fileEntry(file));
                        else if (!folders.has(rest[0])) {
                            folders.add(rest[0]);
                            children.push(folderEntry(prefix + rest[0]));
                        }
                    }
                    let at = 0;  // in batches of 3, as a browser gives large folders in batches
                    return {readEntries: (resolve) => setTimeout(() => {
                        resolve(children.slice(at, at + 3));
                        at += 3;
                    }, 0)};
                }});
            const transfer = new DataTransfer();
            transfer.items.add(new File([], top));
            const item = transfer.items[0];
            Object.defineProperty(item, 'webkitGetAsEntry', {value: () => folderEntry(top)});
            const event = new DragEvent('drop', {bubbles: true, cancelable: true});
            // The same item object each time the page asks for it.
            Object.defineProperty(event, 'dataTransfer', {value: {items: [item]}});
            document.getElementById('drop-zone').dispatchEvent(event);"""))

    def measure(self, start, end):
        """Seconds between the last marks `start` and `end` the page made."""
        return self.js("return performance.measure('m', arguments[0], arguments[1]).duration",
                       start, end) / 1000

    def allow_clipboard(self, url):
        origin = url.split('/', 3)
        self.driver.execute_cdp_cmd('Browser.grantPermissions', {
            'origin': '/'.join(origin[:3]),
            'permissions': ['clipboardReadWrite', 'clipboardSanitizedWrite']})

    def click(self, button):
        status = self.driver.find_element(By.ID, 'action-status')
        self.js("arguments[0].textContent = ''", status)
        self.driver.find_element(By.ID, button).click()
        WebDriverWait(self.driver, 10).until(lambda d: status.text != '')

    def clipboard(self):
        return self.driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            navigator.clipboard.readText().then(done, (e) => done('clipboard: ' + e));""")

    def download(self, name, timeout=20):
        path = self.downloads / name
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if path.exists() and not any(self.downloads.glob('*.crdownload')):
                return path.read_bytes()
            time.sleep(0.05)
        raise AssertionError(f'{name} was not saved into {self.downloads}: '
                             f'{[p.name for p in self.downloads.iterdir()]}')

    def screenshot(self, png, width):
        """The whole page at `width` CSS pixels, as a phone or desktop shows it."""
        metrics = {'width': width, 'height': 800, 'deviceScaleFactor': 1, 'mobile': width < 600}
        self.driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', metrics)
        metrics['height'] = self.js('return document.documentElement.scrollHeight')
        self.driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', metrics)
        shot = self.driver.execute_cdp_cmd('Page.captureScreenshot', {'format': 'png'})
        pathlib.Path(png).write_bytes(base64.b64decode(shot['data']))


def main(argv):
    import tempfile
    work = pathlib.Path(tempfile.mkdtemp(prefix='dumpscan-page-'))
    try:
        if argv[1] == 'report' and len(argv) == 4:
            browser = Browser(work / 'profile', work / 'downloads')
            try:
                browser.open_file(argv[2])
                sys.stdout.write(browser.choose_folder(pathlib.Path(argv[3]).resolve()))
                unexpected = [url for url in browser.requests() if url != browser.page_url
                              and not url.startswith('data:')]
                if unexpected:
                    sys.exit(f'the page made requests: {unexpected}')
            finally:
                browser.quit()
        elif argv[1] == 'screenshot' and len(argv) in (6, 7):
            dark = len(argv) == 7 and argv[6] == 'dark'
            browser = Browser(work / 'profile', work / 'downloads', dark=dark)
            try:
                browser.open_file(argv[2])
                browser.choose_folder(pathlib.Path(argv[3]).resolve())
                browser.screenshot(argv[4], int(argv[5]))
            finally:
                browser.quit()
        else:
            sys.exit(__doc__)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main(sys.argv)
