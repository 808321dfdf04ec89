#!/usr/bin/python3
"""Times the web page against a floor page in Chromium, Firefox and WebKit:
from the choice of a folder of N dumps to the report on screen, and the JS
heap. The floor page reads the same bytes of each file the same way (the
head of the file streamed up to the 24 bytes at 1,908, 32 files at a time)
and shows a text of the same shape (each name, the 24 bytes in hex, an empty
line) with no engine: the ratio is the page's own cost. Rounds alternate
page and floor, so a change in the machine's load falls on both alike; the
load is printed with each result. Not part of CTest: it takes minutes.

  python3 -m bench.page_benchmark PAGE MAKE_SAMPLES [--sizes 1000 10000 100000]
                                  [--engines chromium firefox webkit] [--rounds 3]

Folders are made once in $BENCH_DIR (default /tmp/dumpscan-page-bench).
Chromium's heap: used JS heap after a full collection (the report kept), and
its peak while reading, sampled every 20 ms. Firefox and WebKit have no such
measure a page or driver can read. For every engine, the resident memory of
the browser's content processes (Chromium's renderers, Firefox's content
processes, WebKit's web process), read from /proc: its growth from the
choice to the report shown (retained), and its peak in between (the
processes' peak resident size, reset at the choice). WebKit walks the folder
itself (WebKitGTK's own API: its driver cannot choose a folder).
"""

import argparse
import os
import pathlib
import statistics
import subprocess
import tempfile
import time

from tests.browser.browser_support import ENGINES, VirtualScreen, wait_until

FLOOR = """<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>floor</title></head><body>
<button id="choose-folder" onclick="document.getElementById('folder-input').click()">Choose</button>
<input type="file" id="folder-input" webkitdirectory hidden>
<p id="summary"></p><pre id="report"></pre>
<script>
const offset = 1908, end = 1932;
async function read(file) {
  const head = new Uint8Array(end);
  let got = 0;
  try {
    const reader = file.stream().getReader();
    while (got < end) {
      const { done, value } = await reader.read();
      if (done) break;
      const take = Math.min(value.length, end - got);
      head.set(value.subarray(0, take), got);
      got += take;
    }
    reader.cancel().catch(() => {});
  } catch (error) {}
  return head.slice(offset, Math.max(offset, got));
}
const hex = (bytes) => Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join(' ');
document.getElementById('folder-input').addEventListener('change', async (event) => {
  performance.mark('dumpscan-chosen');
  const files = Array.from(event.target.files).filter(
      (f) => f.webkitRelativePath.split('/').length === 2 && /\\.bin$/i.test(f.name))
      .sort((a, b) => (a.name < b.name ? -1 : 1));
  event.target.value = '';
  const lines = new Array(files.length);
  let next = 0;
  await Promise.all(Array.from({ length: 32 }, async () => {
    while (next < files.length) {
      const i = next++;
      lines[i] = files[i].name + '\\n' + hex(await read(files[i])) + '\\n\\n';
    }
  }));
  document.getElementById('report').textContent = lines.join('');
  document.getElementById('summary').textContent = files.length + ' dumps';
  performance.mark('dumpscan-report-shown');
});
</script></body></html>
"""

HEAP_SAMPLER = """
  window.heapPeak = 0;
  setInterval(() => {
    if (performance.memory) window.heapPeak = Math.max(window.heapPeak, performance.memory.usedJSHeapSize);
  }, 20);"""


def load():
    return os.getloadavg()[0]


# What names a content process of each engine on its command line.
CONTENT_PROCESS = {'chromium': '--type=renderer', 'firefox': '-contentproc',
                   'webkit': 'WebKitWebProcess'}


def content_processes(engine):
    """The process ids of `engine`'s content processes that this benchmark
    started (its descendants)."""
    parent = {}
    for entry in os.listdir('/proc'):
        if entry.isdigit():
            try:
                stat = pathlib.Path(f'/proc/{entry}/stat').read_text()
            except OSError:
                continue
            parent[int(entry)] = int(stat.rsplit(')', 1)[1].split()[1])
    mine = {os.getpid()}
    grew = True
    while grew:
        grown = {pid for pid, ppid in parent.items() if ppid in mine} | mine
        grew, mine = len(grown) > len(mine), grown
    found = []
    for pid in mine:
        try:
            command = pathlib.Path(f'/proc/{pid}/cmdline').read_bytes().replace(b'\0', b' ')
        except OSError:
            continue
        if CONTENT_PROCESS[engine].encode() in command:
            found.append(pid)
    return found


def resident(pids, field):
    """The sum of a /proc status field (VmRSS, VmHWM) over `pids`, in bytes."""
    total = 0
    for pid in pids:
        try:
            for line in pathlib.Path(f'/proc/{pid}/status').read_text().splitlines():
                if line.startswith(field + ':'):
                    total += int(line.split()[1]) * 1024
        except OSError:
            pass
    return total


class Resident:
    """The content processes' resident memory across one choice."""

    def __init__(self, engine):
        self.engine = engine

    def start(self):
        pids = content_processes(self.engine)
        for pid in pids:
            try:  # 5: reset the peak resident size to the present one
                pathlib.Path(f'/proc/{pid}/clear_refs').write_text('5')
            except OSError:
                pass
        self.before = resident(pids, 'VmRSS')

    def stop(self):
        """Retained and peak growth, in bytes."""
        pids = content_processes(self.engine)
        return resident(pids, 'VmRSS') - self.before, resident(pids, 'VmHWM') - self.before


def browser_run(engine, browser, url, folder):
    """Seconds from choice to report, for Chromium the heap (after, peak)
    growth, and the content processes' resident growth (after, peak)."""
    browser.open_url(url)
    heap_before = browser.heap() if engine == 'chromium' else None
    if engine == 'chromium':
        browser.js(HEAP_SAMPLER)
    memory = Resident(engine)
    memory.start()
    # Only until the report is shown: reading it back would cost memory of
    # its own.
    shown = browser.shown()
    browser.set_folder('folder-input', folder, 'choose-folder')
    wait_until(lambda: browser.shown() > shown, 900, 'no report shown')
    rss = memory.stop()
    seconds = browser.measure('dumpscan-chosen', 'dumpscan-report-shown')
    if engine != 'chromium':
        return seconds, None, rss
    peak = browser.js('return window.heapPeak')
    after = browser.heap()
    return seconds, (after - heap_before, peak - heap_before), rss


class WebKitView:
    """WebKitGTK through its own API (as webkit_folder.py): it walks the folder."""

    def __init__(self, work):
        from tests.browser import webkit_folder
        self.screen = VirtualScreen(work)
        os.environ['DISPLAY'] = self.screen.display
        self.page = webkit_folder.Page()

    def run(self, url, folder):
        """Seconds from choice to report, and the web process's resident
        growth (after, peak)."""
        self.page.open(url)
        memory = Resident('webkit')
        memory.start()
        self.page.choose_folder(folder, timeout=900)
        rss = memory.stop()
        return self.page.js("performance.measure('m', 'dumpscan-chosen', "
                            "'dumpscan-report-shown').duration") / 1000, rss

    def quit(self):
        self.screen.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('page', type=pathlib.Path)
    parser.add_argument('make_samples', type=pathlib.Path)
    parser.add_argument('--sizes', type=int, nargs='+', default=[1000, 10000, 100000])
    parser.add_argument('--engines', nargs='+', default=['chromium', 'firefox', 'webkit'])
    parser.add_argument('--rounds', type=int, default=3)
    args = parser.parse_args()
    base = pathlib.Path(os.environ.get('BENCH_DIR', '/tmp/dumpscan-page-bench'))
    base.mkdir(parents=True, exist_ok=True)
    floor = base / 'floor.html'
    floor.write_text(FLOOR)
    urls = {'page': args.page.resolve().as_uri(), 'floor': floor.as_uri()}
    for size in args.sizes:
        folder = base / f'dumps-{size}'
        if not folder.exists():
            subprocess.run([str(args.make_samples), '--many', str(size), str(folder)], check=True)
    print('engine | dumps | page s (min, median) | floor s (min, median) | ratio of minima | '
          'heap growth per dump, retained / peak (page; floor) | '
          'content processes\' resident growth per dump, retained / peak (page; floor) | load')
    for engine in args.engines:
        work = pathlib.Path(tempfile.mkdtemp(prefix='dumpscan-bench-'))
        if engine == 'webkit':
            view = WebKitView(work)
        else:
            view = ENGINES[engine](work / 'profile', work / 'downloads')
            view.folder_seconds = 900
        try:
            for size in args.sizes:
                folder = base / f'dumps-{size}'
                times = {'page': [], 'floor': []}
                heaps = {'page': [], 'floor': []}
                rss = {'page': [], 'floor': []}
                loads = []
                for _ in range(args.rounds):
                    for kind in ('page', 'floor'):
                        loads.append(load())
                        if engine == 'webkit':
                            seconds, grown = view.run(urls[kind], folder)
                        else:
                            seconds, heap, grown = browser_run(engine, view, urls[kind], folder)
                            if heap is not None:
                                heaps[kind].append(heap)
                        times[kind].append(seconds)
                        rss[kind].append(grown)

                def per_dump(samples):
                    def per(kind):
                        retained = min(h[0] for h in samples[kind]) / size
                        peak = min(h[1] for h in samples[kind]) / size
                        return f'{retained:,.0f} / {peak:,.0f} B'
                    return f'{per("page")}; {per("floor")}' if samples['page'] else ''
                heap = per_dump(heaps)
                resident_growth = per_dump(rss)
                page, flo = min(times['page']), min(times['floor'])
                print(f'{engine} | {size:,} | {page:.3f}, {statistics.median(times["page"]):.3f} | '
                      f'{flo:.3f}, {statistics.median(times["floor"]):.3f} | {page / flo:.2f} | '
                      f'{heap or "n/a"} | {resident_growth} | '
                      f'{min(loads):.1f}–{max(loads):.1f}', flush=True)
        finally:
            view.quit()


if __name__ == '__main__':
    main()
