"""The web page driven in a real browser (Chromium, Firefox or WebKit), the
folders of dumps the browser tests choose, and the console program's report
to compare with. The browser tests, the release check and the benchmark use
it.

Also a small command line, for the release check and the docs' screenshot
(in headless Chromium unless ENGINE, one of chromium, firefox and webkit,
says otherwise):
  python3 -m tests.browser.browser_support report PAGE FOLDER [ENGINE]
      prints the page's report on FOLDER's dumps (in WebKit, whose driver
      cannot choose a folder, on FOLDER's files chosen as files)
  python3 -m tests.browser.browser_support screenshot PAGE FOLDER PNG WIDTH [dark] [open=NAME]
(from the source tree's root, as every user of this module runs it).

Firefox is driven over WebDriver BiDi by npm's puppeteer-core (through
firefox_bridge.cjs beside this file), found in the folder that
DUMPSCAN_NODE_MODULES names; axe-core, the accessibility checker, is found
there too. WebKit runs on a virtual screen (Xvfb) that its class starts.
"""

import base64
import json
import os
import pathlib
import shutil
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent

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


def write_folder(path, samples, make_samples, mixed=False, samples_only=False, many=0,
                 nested_only=False):
    """A folder of dumps. Every dump's bytes come from the project's own
    fixture program (samples/ is what make_samples writes): this only copies,
    cuts and names them."""
    path.mkdir(parents=True)
    samples = pathlib.Path(samples)
    if many:
        subprocess.run([str(make_samples), '--many', str(many), str(path)], check=True)
    if nested_only:
        # Dumps only in sub-folders, and a file that is not a dump.
        (path / 'day-1').mkdir()
        (path / 'day-2').mkdir()
        for sample in samples.glob('*.bin'):
            shutil.copy(sample, path / 'day-1' / sample.name)
        shutil.copy(samples / 'valid.bin', path / 'day-2' / 'valid.bin')
        (path / 'readme.txt').write_text('dumps are in the day folders\n')
        return
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



def wait_until(condition, timeout, what, poll=0.02):
    """Polls `condition` until it gives something true, which it returns."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f'{what}: not within {timeout} s')
        time.sleep(poll)


def node_modules():
    folder = os.environ.get('DUMPSCAN_NODE_MODULES', '')
    if not folder or not pathlib.Path(folder, 'axe-core').is_dir():
        raise RuntimeError('DUMPSCAN_NODE_MODULES does not name a folder with the npm packages '
                           'of tests/browser/npm (npm ci there)')
    return pathlib.Path(folder)


# Notes every violation of the page's policy (a request it tried, a script
# or style it would not run) in window.policyViolations.
WATCH_POLICY = """
    window.policyViolations = [];
    document.addEventListener('securitypolicyviolation', (event) => {
        window.policyViolations.push(event.violatedDirective + ' ' + event.blockedURI);
    });"""


# How the page fits its window, as a function body: the page's width, how
# far it scrolls sideways, the elements that reach outside it (but for those
# in the report's own box) and the controls smaller than 24 × 24 CSS pixels
# (the least a finger can hit).
PHONE_FIT = """
    const width = document.documentElement.clientWidth;
    const report = document.getElementById('report');
    const outside = [], small = [];
    for (const element of document.body.querySelectorAll('*')) {
        const box = element.getBoundingClientRect();
        if (box.width === 0 && box.height === 0) continue;  // not shown
        if (!report.contains(element) || element === report) {
            if (box.left < -0.5 || box.right > width + 0.5) {
                outside.push(element.id || element.tagName);
            }
        }
        if (element.matches('button, input, select, a[href]') &&
            (box.width < 24 || box.height < 24)) {
            small.push(`${element.id || element.tagName} ${box.width}x${box.height}`);
        }
    }
    return {width: innerWidth, scroll: document.documentElement.scrollWidth - width,
            outside, small};"""


# How the open details of dumps fit the screen: the page's sideways scroll;
# every element of each panel that reaches outside the page or the panel;
# every cell whose text is cut (wider than its box); every cell that is not
# on its row's card or line; and, where the column titles are hidden (the
# narrow layout), the gap between the sentence and the first row.
DETAILS_FIT = """
    const width = document.documentElement.clientWidth;
    const name = (element) => `${element.tagName} ${JSON.stringify(element.textContent.slice(0, 24))}`;
    const outside = [], cut = [], offRow = [];
    let gap = null;
    const panels = document.querySelectorAll('#report .details');
    for (const panel of panels) {
        const around = panel.getBoundingClientRect();
        const left = Math.max(around.left, 0), right = Math.min(around.right, width);
        const head = panel.querySelector('thead');
        const headHidden = head && head.getBoundingClientRect().width <= 1;
        for (const element of panel.querySelectorAll('*')) {
            if (headHidden && head.contains(element)) continue;  // read out, not shown
            const box = element.getBoundingClientRect();
            if (box.width === 0 && box.height === 0) continue;
            if (box.left < left - 0.5 || box.right > right + 0.5) outside.push(name(element));
            if (element.matches('th, td') && element.scrollWidth > element.clientWidth) {
                cut.push(name(element));
            }
        }
        for (const row of panel.querySelectorAll('tbody tr')) {
            const card = row.getBoundingClientRect();
            for (const cell of row.cells) {
                const box = cell.getBoundingClientRect();
                if (box.top < card.top - 0.5 || box.bottom > card.bottom + 0.5 ||
                    box.left < card.left - 0.5 || box.right > card.right + 0.5) {
                    offRow.push(name(cell));
                }
            }
        }
        const first = panel.querySelector('tbody tr');
        if (headHidden && first) {
            const sentence = panel.querySelector('.details-sentence').getBoundingClientRect();
            gap = Math.max(gap || 0, first.getBoundingClientRect().top - sentence.bottom);
        }
    }
    return {width, scroll: document.documentElement.scrollWidth - width, panels: panels.length,
            outside, cut, offRow, gap};"""

class PageBrowser:
    """What the tests do with the page, the same in every browser. Each
    engine's class gives js() (a function body with `arguments`, its value
    returned; a promise's value where it returns one), goto(), set_files()
    and set_folder() on a file field, click_element(), requests() and
    quit()."""

    engine = None
    downloads = None
    page_url = None

    def open_url(self, url):
        self.requests()  # those of the browser's own start page
        self.page_url = url
        self.goto(url)
        wait_until(lambda: self.js("const b = document.getElementById('choose-folder');"
                                   "return b !== null && !b.disabled"), 60, 'the page did not start')

    def open_file(self, page):
        self.open_url(pathlib.Path(page).resolve().as_uri())

    def policy_violations(self):
        return self.js('return window.policyViolations || []')

    def resources(self):
        """What the page itself loaded, as its resource timing lists it."""
        return self.js("return performance.getEntriesByType('resource').map((e) => e.name)")

    def shown(self):
        return self.js("return performance.getEntriesByName('dumpscan-report-shown').length")

    def report_after(self, action, timeout=120):
        """Runs `action`, waits until the page shows a new report, returns its text."""
        before = self.shown()
        action()
        wait_until(lambda: self.shown() > before, timeout, 'no report shown')
        return self.report()

    def report(self):
        """The whole report's text with '\\n' line ends, as a user gets it
        whatever the page shows: saved with Save report (none while Save is
        off: no report is shown)."""
        if self.js("return document.getElementById('save').disabled"):
            return ''
        if self.downloads is None:
            # A browser driven with no download folder: the rows' own text,
            # which is the whole report only while every dump has its row
            # (a report of a few hundred dumps, all of them shown).
            text, whole = self.js("""
                const rows = document.querySelectorAll('#report .dump');
                return [Array.from(rows, (row) => row.textContent).join(''),
                        document.getElementById('show-all').checked && rows.length > 0 &&
                        rows.length === Number(rows[0].getAttribute('aria-setsize'))];""")
            if not whole:
                raise AssertionError('the report is not laid out whole, and this browser '
                                     'has no download folder to save it into')
            return text
        saved = self.downloads / 'report.txt'
        saved.unlink(missing_ok=True)
        self.click('save')
        text = self.download('report.txt', timeout=90).decode('utf-8')
        saved.unlink()
        return text.replace('\r\n', '\n')

    def rows(self):
        """How many dumps' rows the report holds as elements now."""
        return self.js("return document.querySelectorAll('#report [aria-level=\"1\"]').length")

    def focused(self):
        """What has the keyboard's focus: the focused element's id, whether
        the page has the focus in its report, and in the report the text of
        the name of the dump it is on, its place
        among those shown and whether its details are open."""
        return self.js("""
            const element = document.activeElement;
            const report = document.getElementById('report');
            const id = report.getAttribute('aria-activedescendant');
            const row = element === report && id ? document.getElementById(id) : null;
            // Focus that leaves the page for the browser's own controls
            // may leave the page's last focused element as it was: where the
            // focus went last is kept from the report's own focus events.
            if (!report.focusKept) {
                report.focusKept = 'in';
                report.addEventListener('focusin', () => { report.focusKept = 'in'; });
                report.addEventListener('focusout', (event) => {
                    if (!report.contains(event.relatedTarget)) report.focusKept = 'out';
                });
            }
            return {id: element ? element.id : '',
                    inReport: report.contains(element) && report.focusKept === 'in',
                    name: row ? row.querySelector('.name').textContent.replace(/\\n$/, '') : null,
                    place: row ? Number(row.getAttribute('aria-posinset')) : null,
                    expanded: row ? row.getAttribute('aria-expanded') : null,
                    label: row ? row.getAttribute('aria-label') : null};""")

    def summary(self):
        return self.js("return document.getElementById('summary').textContent")

    def notice(self):
        return self.js("const n = document.getElementById('notice');"
                       "return n.hidden ? '' : n.textContent")

    def choose_folder(self, folder, timeout=120):
        return self.report_after(lambda: self.set_folder('folder-input', folder, 'choose-folder'),
                                 timeout)

    def choose_files(self, files):
        return self.report_after(lambda: self.set_files('files-input', files))

    def measure(self, start, end):
        """Seconds between the last marks `start` and `end` the page made."""
        return self.js("return performance.measure('m', arguments[0], arguments[1]).duration",
                       start, end) / 1000

    def click(self, button):
        """Clicks one of the page's action buttons and waits for its message."""
        self.js("document.getElementById('action-status').textContent = ''")
        self.click_element(button)
        wait_until(lambda: self.js("return document.getElementById('action-status').textContent"),
                   20, f'{button} gave no message')

    def clipboard(self):
        return self.js("return navigator.clipboard.readText().catch((e) => 'clipboard: ' + e)")

    def download(self, name, timeout=30):
        path = self.downloads / name
        partial = ('*.crdownload', '*.part')
        wait_until(lambda: path.exists() and path.stat().st_size > 0
                   and not any(p for pattern in partial for p in self.downloads.glob(pattern)),
                   timeout, f'{name} was not saved into {self.downloads}')
        time.sleep(0.2)
        return path.read_bytes()

    def accessibility_violations(self):
        """axe-core's violations on the page as it is now, one text each."""
        if not self.js("return typeof axe !== 'undefined'"):
            source = (node_modules() / 'axe-core' / 'axe.min.js').read_text()
            self.js(source + '\nreturn true;')
        return self.js("""
            return axe.run(document, {resultTypes: ['violations']}).then((result) =>
                result.violations.map((v) => v.id + ': ' + v.nodes.map(
                    (n) => n.target.join(' ')).join(', ')));""")


class _Selenium(PageBrowser):
    """What the engines driven through selenium (Chromium, WebKit) share."""

    def goto(self, url):
        self.driver.get(url)

    def js(self, script, *args):
        # A promise's value, as the other engines' js() gives it.
        return self.driver.execute_async_script(
            'const done = arguments[arguments.length - 1];'
            'Promise.resolve((function () {' + script + '\n}).apply(null, '
            'Array.from(arguments).slice(0, -1))).then(done, (e) => done("error: " + e));', *args)

    def _field(self, field):
        from selenium.webdriver.common.by import By
        return self.driver.find_element(By.ID, field)

    def set_files(self, field, files):
        self._field(field).send_keys('\n'.join(str(f) for f in files))

    def click_element(self, element):
        self._field(element).click()

    def keys(self, *keys):
        """Presses `keys` in turn on the keyboard, into the focused element
        ('Shift+F' holds Shift down for F)."""
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.keys import Keys
        actions = ActionChains(self.driver)
        for key in keys:
            modifier, _, key = key.rpartition('+')
            key = getattr(Keys, {'ArrowDown': 'DOWN', 'ArrowUp': 'UP', 'PageDown': 'PAGE_DOWN',
                                 'PageUp': 'PAGE_UP', 'Home': 'HOME', 'End': 'END',
                                 'Enter': 'ENTER', 'Tab': 'TAB', 'Space': 'SPACE'}.get(key, ''),
                          key.lower() if modifier else key)
            if modifier:
                actions.key_down(Keys.SHIFT).send_keys(key).key_up(Keys.SHIFT)
            else:
                actions.send_keys(key)
        actions.perform()


class Chromium(_Selenium):
    """Debian's Chromium, headless, through chromedriver: flags that keep it
    from reaching out on its own, a fresh profile, downloads into a folder,
    and its performance log to see every request a page makes."""

    engine = 'chromium'

    def __init__(self, profile, downloads, width=1200, height=900, dark=False):
        from selenium import webdriver
        from selenium.webdriver.chrome.options import Options
        from selenium.webdriver.chrome.service import Service
        self.downloads = pathlib.Path(downloads)
        self.downloads.mkdir(parents=True, exist_ok=True)
        options = Options()
        options.binary_location = '/usr/bin/chromium'
        for flag in ('--headless=new', '--no-sandbox', '--disable-gpu', '--disable-quic',
                     '--no-first-run', '--disable-background-networking',
                     '--disable-component-update', '--disable-sync',
                     '--disable-dev-shm-usage', '--enable-precise-memory-info',
                     f'--user-data-dir={profile}', f'--window-size={width},{height}'):
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
        self.driver.set_script_timeout(120)
        self.driver.execute_cdp_cmd('Browser.setDownloadBehavior',
                                    {'behavior': 'allow', 'downloadPath': str(self.downloads)})
        # Whatever the page's policy blocks (a request it tried, a script or
        # style it would not run) is noted before the page's own code runs.
        self.preload(WATCH_POLICY)

    def preload(self, source):
        """Runs `source` in every page before the page's own code."""
        self.driver.execute_cdp_cmd('Page.addScriptToEvaluateOnNewDocument', {'source': source})

    def quit(self):
        self.driver.quit()

    def set_folder(self, field, folder, button):
        self._field(field).send_keys(str(folder))

    def requests(self):
        """The URLs of every request since the last call."""
        urls = []
        for entry in self.driver.get_log('performance'):
            message = json.loads(entry['message'])['message']
            if message['method'] == 'Network.requestWillBeSent':
                urls.append(message['params']['request']['url'])
        return urls

    def allow_clipboard(self, url):
        origin = url.split('/', 3)
        self.driver.execute_cdp_cmd('Browser.grantPermissions', {
            'origin': '/'.join(origin[:3]),
            'permissions': ['clipboardReadWrite', 'clipboardSanitizedWrite']})

    def emulate(self, width=None, height=None, agent=None, touch_points=0):
        """From the next page on: a phone's screen of `width` × `height` CSS
        pixels (mobile emulation), `agent` as the user agent and
        `touch_points` as navigator.maxTouchPoints."""
        if width:
            self.driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', {
                'width': width, 'height': height, 'deviceScaleFactor': 2, 'mobile': True})
        if agent:
            self.driver.execute_cdp_cmd('Emulation.setUserAgentOverride', {'userAgent': agent})
        self.driver.execute_cdp_cmd('Emulation.setTouchEmulationEnabled', {
            'enabled': touch_points > 0, 'maxTouchPoints': max(touch_points, 1)})

    def heap(self):
        """The JS heap in use, in bytes, after a full collection."""
        self.driver.execute_cdp_cmd('HeapProfiler.collectGarbage', {})
        return self.driver.execute_cdp_cmd('Runtime.getHeapUsage', {})['usedSize']

    def screenshot(self, png, width):
        """The whole page at `width` CSS pixels, as a phone or desktop shows it."""
        metrics = {'width': width, 'height': 800, 'deviceScaleFactor': 1, 'mobile': width < 600}
        self.driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', metrics)
        metrics['height'] = self.js('return document.documentElement.scrollHeight')
        self.driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', metrics)
        shot = self.driver.execute_cdp_cmd('Page.captureScreenshot', {'format': 'png'})
        pathlib.Path(png).write_bytes(base64.b64decode(shot['data']))


# The name the tests used for Chromium's class.
Browser = Chromium


class Firefox(PageBrowser):
    """Debian's firefox-esr, headless, over WebDriver BiDi (puppeteer-core
    in a node process, firefox_bridge.cjs). A folder is chosen through a
    stand-in for Firefox's file picker, and Firefox's own "upload" prompt is
    accepted, as a person would."""

    engine = 'firefox'
    folder_seconds = 120  # how long Firefox may take to hand over a folder

    def __init__(self, profile, downloads, dark=False):
        self.downloads = pathlib.Path(downloads)
        self.downloads.mkdir(parents=True, exist_ok=True)
        environment = dict(os.environ, DUMPSCAN_NODE_MODULES=str(node_modules()))
        self.bridge = subprocess.Popen(['node', str(HERE / 'firefox_bridge.cjs')],
                                       stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                       env=environment, text=True, encoding='utf-8')
        pathlib.Path(profile).mkdir(parents=True, exist_ok=True)
        self.version = self.call('launch', profile=str(profile), downloads=str(self.downloads),
                                 dark=dark)
        self.last_prompt = None

    def call(self, command, **params):
        self.bridge.stdin.write(json.dumps({'command': command, **params}) + '\n')
        self.bridge.stdin.flush()
        line = self.bridge.stdout.readline()
        if not line:
            raise RuntimeError(f'the Firefox bridge ended during {command}')
        answer = json.loads(line)
        if 'error' in answer:
            raise RuntimeError(f'Firefox, {command}: {answer["error"]}')
        return answer['value']

    def quit(self):
        try:
            self.call('quit')
        except (RuntimeError, BrokenPipeError, OSError):
            pass
        try:
            self.bridge.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.bridge.kill()
            self.bridge.wait()

    def goto(self, url):
        self.call('goto', url=url)

    def js(self, script, *args):
        return self.call('eval', script=script, args=list(args))

    def set_files(self, field, files):
        self.call('files', selector=f'#{field}', paths=[str(f) for f in files])

    def set_folder(self, field, folder, button):
        self.last_prompt = self.call('folder', selector=f'#{button}', field=field,
                                     folder=str(folder), seconds=self.folder_seconds)

    def click_element(self, element):
        self.call('click', selector=f'#{element}')

    def keys(self, *keys):
        self.call('keys', keys=[' ' if key == 'Space' else key for key in keys])

    def requests(self):
        return self.call('requests')

    def allow_clipboard(self, url):
        pass  # a testing preference lets the page's clipboard be read


class WebKit(_Selenium):
    """WebKitGTK (Safari's engine) through WebKitWebDriver, on a virtual
    screen of its own. The driver cannot choose a folder (it hands the page
    one empty file): set_folder() raises, and folder choice in WebKit is
    tested through WebKitGTK's own API instead (webkit_folder.py). Save
    writes into $HOME, which is the downloads folder here. There is no
    request log: requests() gives what the page's resource timing lists."""

    engine = 'webkit'

    def __init__(self, profile, downloads, dark=False):
        from selenium import webdriver
        from selenium.webdriver.webkitgtk.options import Options
        self.downloads = pathlib.Path(downloads)
        self.downloads.mkdir(parents=True, exist_ok=True)
        self.screen = VirtualScreen(pathlib.Path(profile).parent)
        os.environ['DISPLAY'] = self.screen.display
        os.environ['HOME'] = str(self.downloads)
        # WebKitGTK gives pages the GTK theme's colour scheme.
        os.environ['GTK_THEME'] = 'Adwaita:dark' if dark else 'Adwaita'
        options = Options()
        options.binary_location = '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser'
        options.add_argument('--automation')
        try:
            self.driver = webdriver.WebKitGTK(executable_path='/usr/bin/WebKitWebDriver',
                                              options=options)
        except BaseException:
            self.screen.stop()  # no screen outlives a browser that did not start
            raise
        self.driver.set_script_timeout(120)
        self.seen = 0

    def quit(self):
        try:
            self.driver.quit()
        finally:
            self.screen.stop()

    def goto(self, url):
        super().goto(url)
        self.seen = 0
        # Violations from here on (the page's start is not seen: no driver
        # hook runs before it).
        self.driver.execute_script(WATCH_POLICY)

    def set_folder(self, field, folder, button):
        raise NotImplementedError('WebKitWebDriver cannot choose a folder')

    def requests(self):
        if self.page_url is None:
            return []
        try:
            names = self.resources()
        except Exception:  # no page yet
            return []
        fresh = names[self.seen:]
        self.seen = len(names)
        return fresh

    def allow_clipboard(self, url):
        pass

    def clipboard(self):
        """The screen's clipboard, read through GTK: WebKit lets a page
        read it only after a paste gesture of the user's."""
        import gi
        gi.require_version('Gtk', '3.0')
        from gi.repository import Gdk, Gtk
        return Gtk.Clipboard.get(Gdk.SELECTION_CLIPBOARD).wait_for_text()


class VirtualScreen:
    """An X server in memory (Xvfb) on the first free display."""

    def __init__(self, work):
        work.mkdir(parents=True, exist_ok=True)
        read, write = os.pipe()
        self.process = subprocess.Popen(
            ['Xvfb', '-displayfd', str(write), '-screen', '0', '1280x1024x24', '-nolisten', 'tcp'],
            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as numbers:
            number = numbers.readline().strip()
        if not number:
            self.process.kill()
            raise RuntimeError('Xvfb did not start')
        self.display = f':{number}'

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


ENGINES = {'chromium': Chromium, 'firefox': Firefox, 'webkit': WebKit}


def test_arguments(program):
    """The browser tests' command line, the same for every test script:
    --engine, the page, the native programs to compare with and the sample
    dumps; the rest is unittest's (the test cases to run). Gives (arguments,
    unittest's arguments), every path made absolute."""
    import argparse
    parser = argparse.ArgumentParser(prog=program)
    parser.add_argument('--engine', choices=sorted(ENGINES), default='chromium')
    parser.add_argument('--page', required=True, type=pathlib.Path)
    parser.add_argument('--dumpscan', required=True, type=pathlib.Path)
    parser.add_argument('--make-samples', required=True, type=pathlib.Path)
    parser.add_argument('--samples', required=True, type=pathlib.Path)
    args, rest = parser.parse_known_args()
    for path in (args.dumpscan, args.make_samples):
        if not os.access(path, os.X_OK):
            sys.exit(f'{program}: {path} is missing: the browser tests compare with '
                     'the native build (cmake --preset native && cmake --build --preset native)')
    for name in ('page', 'dumpscan', 'make_samples', 'samples'):
        setattr(args, name, getattr(args, name).resolve())
    return args, rest


# The exit code CTest takes for a skipped test (SKIP_RETURN_CODE).
SKIPPED = 77


def run_tests(program, rest):
    """Runs the test cases `rest` names and ends the process: 1 when one
    failed, SKIPPED when none of them ran (each skipped, or its class
    skipped: a case this engine cannot run, its reason in the output), 0
    when they passed, some of them skipped or not."""
    import unittest
    runner = unittest.TextTestRunner(verbosity=2, resultclass=_result_class())
    result = unittest.main(argv=[program] + rest, testRunner=runner, exit=False).result
    sys.exit(exit_status(result))


def _result_class():
    """unittest's text result, also noting which tests had a sub-test that
    passed (unittest keeps only those that failed or were skipped)."""
    import unittest

    class Result(unittest.TextTestResult):
        def __init__(self, *args, **kwargs):
            super().__init__(*args, **kwargs)
            self.subtests_passed = set()

        def addSubTest(self, test, subtest, outcome):
            super().addSubTest(test, subtest, outcome)
            if outcome is None:
                self.subtests_passed.add(test.id())
    return Result


def exit_status(result):
    """The exit status for a unittest `result` (see run_tests). A test was
    skipped when it was skipped itself, or when it had sub-tests and every
    one of them was skipped; a class skipped in setUpClass runs none of its
    tests, which testsRun then leaves out."""
    import unittest
    if not result.wasSuccessful():
        return 1
    skipped = set()
    with_skipped_subtests = set()
    for test, _ in result.skipped:
        if isinstance(test, unittest.case._SubTest):
            with_skipped_subtests.add(test.test_case.id())
        elif isinstance(test, unittest.TestCase):
            skipped.add(test.id())
    skipped |= with_skipped_subtests - getattr(result, 'subtests_passed', set())
    if result.skipped and result.testsRun <= len(skipped):
        return SKIPPED
    return 0


def main(argv):
    import tempfile
    work = pathlib.Path(tempfile.mkdtemp(prefix='dumpscan-page-'))
    try:
        if argv[1] == 'report' and (len(argv) == 4 or len(argv) == 5 and argv[4] in ENGINES):
            engine = ENGINES[argv[4]] if len(argv) == 5 else Chromium
            browser = engine(work / 'profile', work / 'downloads')
            try:
                browser.open_file(argv[2])
                folder = pathlib.Path(argv[3]).resolve()
                if engine is WebKit:
                    files = sorted(path for path in folder.iterdir() if path.is_file())
                    sys.stdout.write(browser.choose_files(files))
                else:
                    sys.stdout.write(browser.choose_folder(folder))
                unexpected = [url for url in browser.requests() if url != browser.page_url
                              and not url.startswith('data:')]
                if unexpected:
                    sys.exit(f'the page made requests: {unexpected}')
            finally:
                browser.quit()
        elif argv[1] == 'screenshot' and len(argv) in (6, 7, 8):
            dark = 'dark' in argv[6:]
            opened = [arg[len('open='):] for arg in argv[6:] if arg.startswith('open=')]
            browser = Browser(work / 'profile', work / 'downloads', dark=dark)
            try:
                browser.open_file(argv[2])
                browser.choose_folder(pathlib.Path(argv[3]).resolve())
                # Reading the report back saved it: the page as it was shown.
                browser.js("document.getElementById('action-status').textContent = ''")
                for name in opened:  # that dump's details open
                    browser.js('Array.from(document.querySelectorAll("#report .name")).find('
                               '(n) => n.textContent === arguments[0] + "\\n").click()', name)
                browser.screenshot(argv[4], int(argv[5]))
            finally:
                browser.quit()
        else:
            sys.exit(__doc__)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main(sys.argv)
