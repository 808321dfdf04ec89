"""Real drags from the desktop onto the page, as a file manager makes them:
on a virtual screen, a small GTK window offers the dragged paths as
text/uri-list, and xdotool presses on it, moves onto the browser's window in
steps and releases. The browser takes the drop through its own drag and drop
code, and hands the page whatever it gives pages for such a drop.

The browsers run headed on that screen: Chromium (through chromedriver, with
its DevTools protocol for a faster drop of paths through the same drop
code), Firefox (over WebDriver BiDi, see firefox_bridge.cjs) and WebKitGTK
(a web view in this process, read back through its own API).

The drag source is this module run as a program:
  python3 -m tests.browser.real_drag source X Y
one JSON line a drag on its standard input; it answers "ready", and notes
"begin", "get" and "end ACTION" as GTK reports the drag. What it offers:
  {"uris": [...]}        files, as a file manager drags them: text/uri-list
  {"text": "..."}        a selected text: text/plain
  {"link": "URL"}        a link from a page: text/uri-list and text/plain
                         (a file: URL is a link to a file, with no file)
  {"page_link": "URL"}   a link as a browser's window offers it to another:
                         _NETSCAPE_URL, text/x-moz-url and text/plain, no
                         file list (so a file: URL stays a link)
  {"picture": "URL"}     a picture from a page: the image itself (image/png
                         and GTK's other image types) and its address as
                         text/uri-list
"""

import json
import os
import pathlib
import select
import subprocess
import sys
import time

from tests.browser.browser_support import (Firefox, PageBrowser, VirtualScreen, _Selenium,
                                           node_modules, wait_until)

# Where things are on the 1280 x 1024 screen: the browsers' windows at the
# top left, the drag source at the bottom right, apart from them; the drop
# lands well inside every browser's page area.
SOURCE_AT = (1000, 744)
SOURCE_SIZE = 260
PRESS_AT = (SOURCE_AT[0] + SOURCE_SIZE // 2, SOURCE_AT[1] + SOURCE_SIZE // 2)
DROP_AT = (400, 420)
WINDOW_SIZE = (900, 700)

# Notes what the page is handed, outside the page's own code: the drag's
# events and, on the drop, the types and the number of files.
WATCH_DRAGS = """
    if (!window.dragSeen) {
        window.dragSeen = {};
        addEventListener('dragenter', () => { ++window.dragSeen.enter; }, true);
        addEventListener('dragover', () => { ++window.dragSeen.over; }, true);
        addEventListener('drop', (event) => {
            ++window.dragSeen.drop;
            window.dragSeen.types = Array.from(event.dataTransfer.types);
            window.dragSeen.files = event.dataTransfer.files.length;
            window.dragSeen.at = [event.clientX, event.clientY];
            const on = event.target.nodeType === 1 ? event.target : event.target.parentElement;
            window.dragSeen.onto = [on.closest('#report') ? 'report' : on.tagName,
                                    on.closest('table') ? 'table' : ''];
        }, true);
    }
    Object.assign(window.dragSeen, {enter: 0, over: 0, drop: 0, types: [], files: 0,
                                    at: null, onto: null});
    return true;"""

# Where on the page a stray drop lands, as a function body giving the point
# in the page's viewport (after scrolling it into view): the report's text
# (its first words, not a button) or a cell of an open details table.
DROP_POINTS = {
    'report': """
        const report = document.getElementById('report');
        const walker = document.createTreeWalker(report, NodeFilter.SHOW_TEXT, (node) =>
            node.data.trim() && !node.parentElement.closest('button, table')
                ? NodeFilter.FILTER_ACCEPT : NodeFilter.FILTER_SKIP);
        const text = walker.nextNode();
        text.parentElement.scrollIntoView({block: 'center'});
        const range = document.createRange();
        range.setStart(text, 0);
        range.setEnd(text, Math.min(text.data.length, 6));
        const box = range.getClientRects()[0];
        return [box.left + box.width / 2, box.top + box.height / 2];""",
    'table': """
        const cell = document.querySelector('#report table td');
        cell.scrollIntoView({block: 'center'});
        const box = cell.getBoundingClientRect();
        return [box.left + box.width / 2, box.top + box.height / 2];""",
}


def run_source(x, y):
    """The drag source's own program (a GTK main loop)."""
    import gi
    gi.require_version('Gtk', '3.0')
    gi.require_version('Gdk', '3.0')
    gi.require_version('GdkPixbuf', '2.0')
    from gi.repository import Gdk, GdkPixbuf, GLib, Gtk

    URIS, TEXT, IMAGE, NETSCAPE_URL, MOZ_URL = 0, 1, 2, 3, 4
    offer = {}
    picture = GdkPixbuf.Pixbuf.new(GdkPixbuf.Colorspace.RGB, False, 8, 16, 16)
    picture.fill(0x3366ccff)
    window = Gtk.Window(title='dumpscan drag source')
    window.set_default_size(SOURCE_SIZE, SOURCE_SIZE)
    window.move(x, y)
    area = Gtk.EventBox()
    area.add(Gtk.Label(label='drag me'))
    window.add(area)
    area.drag_source_set(Gdk.ModifierType.BUTTON1_MASK, [],
                         Gdk.DragAction.COPY | Gdk.DragAction.MOVE | Gdk.DragAction.LINK)

    def say(line):
        sys.stdout.write(line + '\n')
        sys.stdout.flush()

    def get(widget, context, selection, info, time_):
        say('get')
        if info == URIS:
            selection.set_uris(offer['uris'])
        elif info == IMAGE:
            selection.set_pixbuf(picture)
        elif info == NETSCAPE_URL:
            selection.set(selection.get_target(), 8, f'{offer["text"]}\nlink'.encode())
        elif info == MOZ_URL:
            selection.set(selection.get_target(), 8, f'{offer["text"]}\nlink'.encode('utf-16-le'))
        else:
            selection.set_text(offer['text'], -1)

    def take(channel, condition):
        line = sys.stdin.readline()
        if not line:
            Gtk.main_quit()
            return False
        offer.clear()
        offer.update(json.loads(line))
        if 'uris' in offer:
            targets = Gtk.TargetList.new([Gtk.TargetEntry.new('text/uri-list', 0, URIS)])
        elif 'page_link' in offer:
            targets = Gtk.TargetList.new([])
            targets.add(Gdk.Atom.intern('_NETSCAPE_URL', False), 0, NETSCAPE_URL)
            targets.add(Gdk.Atom.intern('text/x-moz-url', False), 0, MOZ_URL)
            targets.add(Gdk.Atom.intern('text/plain', False), 0, TEXT)
            targets.add(Gdk.Atom.intern('UTF8_STRING', False), 0, TEXT)
            offer['text'] = offer['page_link']
        elif 'picture' in offer:
            # A picture dragged from a page: the image, and its address.
            targets = Gtk.TargetList.new([])
            targets.add_image_targets(IMAGE, True)
            targets.add(Gdk.Atom.intern('text/uri-list', False), 0, URIS)
            offer['uris'] = [offer['picture']]
        else:
            # A link dragged from a page: its address as a URI list and as text.
            targets = Gtk.TargetList.new(
                [Gtk.TargetEntry.new('text/uri-list', 0, URIS)] if 'link' in offer else [])
            targets.add(Gdk.Atom.intern('text/plain', False), 0, TEXT)
            targets.add(Gdk.Atom.intern('UTF8_STRING', False), 0, TEXT)
            if 'link' in offer:
                offer['uris'] = [offer['link']]
                offer['text'] = offer['link']
        area.drag_source_set_target_list(targets)
        say('ready')
        return True

    area.connect('drag-begin', lambda *a: say('begin'))
    area.connect('drag-data-get', get)
    area.connect('drag-end', lambda widget, context: say(
        f'end {context.get_selected_action().first_value_nick}'))
    GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.PRIORITY_DEFAULT,
                      GLib.IOCondition.IN | GLib.IOCondition.HUP, take)
    window.show_all()
    say('shown')
    Gtk.main()


class Desktop:
    """A virtual screen with the drag source on it. The drags are made with
    xdotool; `pump`, when given, runs while a drag goes on (the GTK main
    loop of a browser in this process)."""

    def __init__(self, work):
        self.screen = VirtualScreen(work)
        os.environ['DISPLAY'] = self.screen.display
        self.source = None
        self.heard = b''
        try:
            self.source = subprocess.Popen(
                [sys.executable, '-m', 'tests.browser.real_drag', 'source', *map(str, SOURCE_AT)],
                stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                encoding='utf-8', bufsize=1, cwd=pathlib.Path(__file__).resolve().parents[2])
            self._expect('shown', 30)
        except BaseException:
            self.stop()
            raise

    def stop(self):
        if self.source is not None:
            try:
                self.source.stdin.close()
                self.source.wait(timeout=10)
                self.source.stdout.close()
            except (OSError, subprocess.TimeoutExpired):
                self.source.kill()
                self.source.wait()
            self.source = None
        self.screen.stop()

    def _expect(self, word, timeout, pump=None):
        """Waits for the drag source to say `word`; gives what it said."""
        said = []
        deadline = time.monotonic() + timeout
        while True:
            while b'\n' in self.heard:
                line, self.heard = self.heard.split(b'\n', 1)
                said.append(line.decode())
                if said[-1].startswith(word):
                    return said
            ready, _, _ = select.select([self.source.stdout], [], [], 0.01 if pump else 0.2)
            if ready:
                chunk = os.read(self.source.stdout.fileno(), 4096)
                if not chunk:
                    raise AssertionError(f'the drag source ended; it said {said}')
                self.heard += chunk
            elif pump:
                pump()
            if time.monotonic() > deadline:
                raise AssertionError(f'the drag source did not say {word!r} within {timeout} s; '
                                     f'it said {said}')

    def drag(self, offer, pump=None, hovering=None, to=DROP_AT):
        """One drag of `offer` from the source to the drop point `to` on
        the screen, with steps and pauses that let GTK start the drag and
        the browser follow it. Gives what the source said (its last line is
        "end ACTION")."""
        self.source.stdin.write(json.dumps(offer) + '\n')
        self.source.stdin.flush()
        self._expect('ready', 10, pump)
        # The source above any window, so the press lands on it.
        subprocess.run(['xdotool', 'search', '--name', 'dumpscan drag source', 'windowraise'],
                       check=False, timeout=10, stdout=subprocess.DEVNULL)
        (x, y), (to_x, to_y) = PRESS_AT, to
        pause = os.environ.get('DUMPSCAN_DRAG_PAUSE', '0.15')
        steps = ['mousemove', str(x), str(y), 'sleep', pause, 'mousedown', '1', 'sleep', pause]
        for i in range(1, 4):  # GTK starts the drag after a few pixels
            steps += ['mousemove', str(x - 4 * i), str(y - 4 * i), 'sleep', '0.05']
        x, y = x - 12, y - 12
        for i in range(1, 9):
            steps += ['mousemove', str(x + (to_x - x) * i // 8), str(y + (to_y - y) * i // 8),
                      'sleep', '0.06']
        steps += ['mousemove', str(to_x + 3), str(to_y + 3), 'sleep', '0.05',
                  'mousemove', str(to_x), str(to_y), 'sleep', pause]
        self._xdotool(steps, pump)
        # Released only once the browser follows the drag over the page (a
        # browser slow under load can take the drop yet give the page nothing);
        # it wiggles meanwhile, as a hand does.
        deadline = time.monotonic() + 10
        while hovering and not hovering() and time.monotonic() < deadline:
            self._xdotool(['mousemove', str(to_x + 2), str(to_y + 2), 'sleep', '0.1',
                           'mousemove', str(to_x), str(to_y), 'sleep', '0.1'], pump)
        self._xdotool(['mousemove', str(to_x + 1), str(to_y + 1), 'sleep', '0.05',
                       'mousemove', str(to_x), str(to_y), 'sleep', '0.1', 'mouseup', '1'], pump)
        return self._expect('end', 10, pump)

    def click(self, at, pump=None):
        """A click of the first button at `at` on the screen."""
        self._xdotool(['mousemove', str(at[0]), str(at[1]), 'sleep', '0.2', 'click', '1',
                       'sleep', '0.2'], pump)

    @staticmethod
    def _xdotool(steps, pump):
        xdotool = subprocess.Popen(['xdotool', *steps])
        try:
            deadline = time.monotonic() + 20
            while xdotool.poll() is None:
                if time.monotonic() > deadline:
                    raise AssertionError('xdotool did not end within 20 s')
                if pump:
                    pump()
                time.sleep(0.01)
        finally:
            if xdotool.poll() is None:
                xdotool.kill()
                xdotool.wait()
        if xdotool.returncode != 0:
            raise AssertionError(f'xdotool failed ({xdotool.returncode})')


class DropMixin:
    """What every engine's class does with a real drag: the page's drag
    events are watched, and a drag the page did not see is made again."""

    desktop = None
    # Where the page's viewport is on the screen: the screen point of the
    # viewport's origin, as the last drop showed it.
    viewport_at = None

    def pump(self):
        pass

    def real_drop(self, offer, attempts=3, to=DROP_AT):
        """Drags `offer` onto the page, to the screen point `to`; gives the
        watcher's notes of the drop the page saw."""
        for _ in range(attempts):
            self.js(WATCH_DRAGS)
            said = self.desktop.drag(offer, self.pump, lambda: self.js(
                'return window.dragSeen.over > 1'), to)
            try:
                seen = self.wait_for(lambda: self.js(
                    'return window.dragSeen.drop > 0 && window.dragSeen'), 5, 'no drop')
            except AssertionError:
                print(f'{self.engine}: a drag did not reach the page (the source said {said}); '
                      'again', file=sys.stderr)
                continue
            if seen['at']:
                self.viewport_at = (to[0] - round(seen['at'][0]), to[1] - round(seen['at'][1]))
            return seen
        raise AssertionError(f'{self.engine}: {attempts} drags did not reach the page')

    def on_screen(self, point_script):
        """The screen point of what `point_script` (a function body giving
        a point in the viewport) names. The first time, a text dropped on
        the page shows where its viewport is."""
        if self.viewport_at is None:
            self.real_drop({'text': 'where the page is'})
        x, y = self.js(point_script)
        return (self.viewport_at[0] + round(x), self.viewport_at[1] + round(y))

    def drop_onto(self, offer, place, attempts=3):
        """Drags `offer` onto `place` of the page (a key of DROP_POINTS).
        A browser scrolls the page while a drag lingers near its edge (as
        one under load may, on the way in): a drop that landed elsewhere is
        made again, onto where the place is now."""
        onto = ['report', 'table' if place == 'table' else '']
        for _ in range(attempts):
            seen = self.real_drop(offer, to=self.on_screen(DROP_POINTS[place]))
            if seen['onto'] == onto:
                return seen
            print(f'{self.engine}: a drop onto the {place} landed on {seen["onto"]}; again',
                  file=sys.stderr)
        raise AssertionError(f'{self.engine}: {attempts} drops missed the {place}: {seen}')

    def click_at(self, point_script):
        """A real click on what `point_script` names."""
        self.desktop.click(self.on_screen(point_script), self.pump)

    def wait_for(self, condition, timeout, what):
        return wait_until(condition, timeout, what)

    def drop_paths(self, paths):
        """Real drag of `paths` (files and folders) as file:// URIs."""
        return self.real_drop({'uris': [pathlib.Path(p).as_uri() for p in paths]})


class HeadedChromium(DropMixin, _Selenium):
    """Debian's Chromium with a window on the virtual screen, through
    chromedriver; fast_drop() drops paths through the browser's own drop
    code with the DevTools protocol, without the desktop."""

    engine = 'chromium'

    def __init__(self, desktop, profile):
        from selenium import webdriver
        from selenium.webdriver.chrome.options import Options
        from selenium.webdriver.chrome.service import Service
        self.desktop = desktop
        options = Options()
        options.binary_location = '/usr/bin/chromium'
        for flag in ('--no-sandbox', '--ozone-platform=x11', '--disable-gpu', '--disable-quic',
                     '--no-first-run', '--disable-background-networking',
                     '--disable-component-update', '--disable-sync', '--disable-dev-shm-usage',
                     f'--user-data-dir={profile}', '--window-position=0,0',
                     f'--window-size={WINDOW_SIZE[0]},{WINDOW_SIZE[1]}'):
            options.add_argument(flag)
        self.driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
        self.driver.set_script_timeout(120)
        # Where Save puts the report, which is how the tests read it back.
        self.downloads = pathlib.Path(profile).parent / 'downloads'
        self.downloads.mkdir(parents=True, exist_ok=True)
        self.driver.execute_cdp_cmd('Browser.setDownloadBehavior',
                                    {'behavior': 'allow', 'downloadPath': str(self.downloads)})

    def quit(self):
        self.driver.quit()

    def requests(self):
        return []

    def fast_drop(self, paths):
        """A drop of `paths` through Chromium's own drop code, driven over
        its DevTools protocol."""
        self.js(WATCH_DRAGS)
        data = {'items': [], 'files': [str(p) for p in paths], 'dragOperationsMask': 1}
        for kind in ('dragEnter', 'dragOver', 'drop'):
            self.driver.execute_cdp_cmd('Input.dispatchDragEvent', {
                'type': kind, 'x': DROP_AT[0], 'y': DROP_AT[1] - 100, 'data': data})
        return self.wait_for(lambda: self.js('return window.dragSeen.drop > 0 && window.dragSeen'),
                             5, 'no drop')


class HeadedFirefox(DropMixin, Firefox):
    """Debian's firefox-esr with a window on the virtual screen, over
    WebDriver BiDi."""

    def __init__(self, desktop, profile):
        self.desktop = desktop
        self.downloads = pathlib.Path(profile).parent / 'downloads'
        environment = dict(os.environ, DUMPSCAN_NODE_MODULES=str(node_modules()))
        self.bridge = subprocess.Popen(['node', str(pathlib.Path(__file__).parent /
                                                    'firefox_bridge.cjs')],
                                       stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                       env=environment, text=True, encoding='utf-8')
        pathlib.Path(profile).mkdir(parents=True, exist_ok=True)
        try:
            self.version = self.call('launch', profile=str(profile),
                                     downloads=str(self.downloads), dark=False, headless=False)
        except BaseException:
            self.quit()
            raise
        self.last_prompt = None

    def requests(self):
        return []


class WebKitView(DropMixin, PageBrowser):
    """WebKitGTK: a web view in a window of this process, read back with
    its own API; its file chooser answered with the files of choose_files()."""

    engine = 'webkit'

    def __init__(self, desktop, profile):
        import gi
        gi.require_version('Gtk', '3.0')
        gi.require_version('WebKit2', '4.1')
        from gi.repository import GLib, Gtk, WebKit2
        self.desktop = desktop
        self.context = GLib.MainContext.default()
        self.view = WebKit2.WebView()
        self.window = Gtk.Window()
        self.window.set_default_size(*WINDOW_SIZE)
        self.window.move(0, 0)
        self.window.add(self.view)
        self.window.show_all()
        self.chosen = []
        self.view.connect('run-file-chooser', self._choose)

    def _choose(self, view, request):
        request.select_files([str(p) for p in self.chosen])
        return True

    def pump(self):
        while self.context.iteration(False):
            pass

    def wait_for(self, condition, timeout, what):
        """wait_until, with the web view's events handled between tries."""
        def pumped():
            self.pump()
            return condition()
        return wait_until(pumped, timeout, what, poll=0.01)

    def js(self, script, *args):
        answer = {}

        def done(view, result):
            try:
                value = view.evaluate_javascript_finish(result)
                answer['value'] = value.to_string()
            except Exception as error:  # noqa: BLE001 — shown in the failure
                answer['error'] = str(error)

        source = (f'JSON.stringify((function () {{ {script}\n}}).apply(null, '
                  f'{json.dumps(list(args))}) ?? null)')
        self.view.evaluate_javascript(source, -1, None, None, None, done)
        self.wait_for(lambda: answer, 60, script)
        if 'error' in answer:
            raise AssertionError(f'{script}: {answer["error"]}')
        return json.loads(answer['value'])

    def goto(self, url):
        self.view.load_uri(url)
        self.wait_for(lambda: not self.view.is_loading(), 60, 'the page did not load')

    def requests(self):
        return []

    def report_after(self, action, timeout=120):
        before = self.shown()
        action()
        self.wait_for(lambda: self.shown() > before, timeout, 'no report shown')
        return self.report()

    def choose_files(self, files):
        self.chosen = list(files)
        return self.report_after(lambda: self.js(
            "document.getElementById('choose-files').click(); return true"))

    def quit(self):
        self.window.destroy()
        self.pump()


ENGINES = {'chromium': HeadedChromium, 'firefox': HeadedFirefox, 'webkit': WebKitView}


if __name__ == '__main__':
    if sys.argv[1:2] == ['source'] and len(sys.argv) == 4:
        run_source(int(sys.argv[2]), int(sys.argv[3]))
    else:
        sys.exit(__doc__)
