// The report view: the summary of the dumps read, the report itself as one
// tree grid of dumps (a single Tab stop, moved through with the keyboard,
// each dump a row whose details open as a row below it), what
// it shows (every dump, those with a failed check, those not read), a box
// that finds a dump by name, and Copy, Save and Save as CSV.
//
// The report's elements exist only for the dumps on and near the screen:
// the dumps are laid out in chunks, and a chunk is filled with its rows as
// it comes near the screen and emptied (keeping its height) as it leaves.
// Nor is the report's text kept: the engine describes a dump again in
// microseconds, so a row, Copy and Save make their text when they need it.
'use strict';

// The report view over the page's elements (`$` finds one by id), with the
// engine's calls (`bridge`) and a dump's details (`details`, details.js).
function dumpscanReportView(bridge, details, $) {
  const summary = $('summary');
  const report = $('report');
  const actionStatus = $('action-status');
  const progress = $('progress');
  const notice = $('notice');
  const filter = $('filter');
  const showing = $('showing');
  const keyStatus = $('key-status');
  const findBox = $('find-box');
  const find = $('find');
  const findStatus = $('find-status');

  // What each dump's lines say, as the engine's verdicts give it.
  const NOTHING = 0, PASSED = 1, FAILED = 2, UNREAD = 3;
  const KIND_WORDS = ['nothing to check', 'OK', 'a check failed', 'could not be read'];

  const CHUNK = 25;        // dumps a chunk of the report
  const NEAR = '100% 0px'; // how near the screen a chunk is filled
  // A report this short has all its rows at once: few elements, and the
  // browser's own find in page sees every dump.
  const ALL_ROWS_UP_TO = 200;

  // The report on screen (a built report, see newReport), and how it is
  // shown: `order` the places in the report of the dumps shown, `chunks`
  // their elements, `active` the place in `order` of the dump the keyboard
  // is on (-1: none yet), `open` the dumps whose details are open. Null
  // while there is none.
  let shown = null;
  let observer = null;
  // The places of the dumps shown that the find box found, and which of
  // them it is on.
  let found = [];
  let foundAt = 0;

  const grouped = (n) => n.toLocaleString('en');
  const dumpsWord = (n) => `${grouped(n)} dump${n === 1 ? '' : 's'}`;

  // Safari's engine leaves a folder's files whose names start with a dot
  // out of a chosen folder, and the page cannot see them: it says so. On
  // an iPhone or iPad every browser is built on it (Chrome as CriOS,
  // Firefox as FxiOS, Edge as EdgiOS); an iPad may give a Mac's user agent,
  // told apart by its touch screen.
  const agent = navigator.userAgent;
  const onIOS = /\b(iPhone|iPad|iPod)\b/.test(agent) ||
                (/\bMacintosh\b/.test(agent) && navigator.maxTouchPoints > 1);
  const leavesOutDotFiles = onIOS || (/AppleWebKit\//.test(agent) &&
                                      !/(Chrome|Chromium|Edg|Firefox)\//.test(agent));

  // The report of a choice as it is built: what the engine's lines say of
  // each dump (its kind) and how many lines it has, a byte each.
  function newReport(dumps, store) {
    const n = dumps.length;
    return { dumps, store, described: 0, failed: 0, unreadable: 0,
             kinds: new Uint8Array(n), lineCounts: new Uint8Array(n) };
  }

  // What the engine's `block` of lines says of a dump.
  function kindOf(block, readable) {
    if (!readable) return UNREAD;
    let kind = NOTHING;
    for (const line of block) {
      if (line.verdict === 2) return FAILED;
      if (line.verdict === 1) kind = PASSED;
    }
    return kind;
  }

  // Describes the dumps from the last described up to `ready`, which have
  // all arrived.
  function describeUpTo(built, ready) {
    while (built.described < ready) {
      const i = built.described++;
      const readable = built.store.readable(i);
      const block = bridge.describe(built.dumps[i].name, built.store.arrived(i));
      const kind = kindOf(block, readable);
      if (kind === UNREAD) ++built.unreadable;
      if (block.some((line) => line.verdict === 2)) ++built.failed;
      built.kinds[i] = kind;
      built.lineCounts[i] = Math.min(block.length, 255);
    }
  }

  // Dump `i` of the report on screen, as its details and the CSV take it:
  // its name, the bytes that arrived and whether its file was read.
  function shownDump(i) {
    return { name: shown.dumps[i].name, bytes: shown.store.arrived(i),
             readable: shown.store.readable(i) };
  }

  // The whole report's text, every dump's lines ended with CR LF, made
  // again from the engine: whatever the report shows, this is all of it.
  function wholeText(built) {
    const parts = [];
    for (let i = 0; i < built.dumps.length; ++i) {
      for (const line of bridge.describe(built.dumps[i].name, built.store.arrived(i))) {
        parts.push(line.text, '\r\n');
      }
    }
    return parts.join('');
  }

  // ---- A dump's details ----

  // A dump's details panel (details.js) and the damaged records' bytes to
  // mark in its record block's line ({ offset, length, title }), both the
  // engine's.
  const detailsOf = (dump, id) => details.panel(dump, id);

  // The damaged records' bytes marked in the record block's line; its text
  // stays as it is.
  function markRecords(line, marks) {
    if (marks.length === 0) return;
    const text = line.textContent;
    const parts = [];
    let at = 0;
    for (const { offset, length, title } of marks) {
      parts.push(text.slice(at, offset));
      const mark = document.createElement('mark');
      mark.className = 'damaged';
      mark.title = title;
      mark.textContent = text.slice(offset, offset + length);
      parts.push(mark);
      at = offset + length;
    }
    parts.push(text.slice(at));
    line.replaceChildren(...parts);
  }

  // ---- The rows ----

  // The row of dump `i`, at place `p` of those shown, and the row of its
  // details below it when they are open. The row holds the dump's lines as
  // the report gives them: their text is the report's text (the glyph that
  // shows whether it is open is drawn, not text). A screen reader hears the
  // name as displayed and whether its checks passed, then the rest of its
  // lines as the row's description.
  function makeRows(i, p) {
    const dump = shownDump(i);
    const block = bridge.describe(dump.name, dump.bytes);
    const open = shown.open.has(i);
    const row = document.createElement('div');
    row.className = p === shown.active ? 'dump active' : 'dump';
    row.id = `dump-${i}`;
    row.dumpPlace = p;
    row.setAttribute('role', 'row');
    row.setAttribute('aria-level', '1');
    row.setAttribute('aria-setsize', String(shown.order.length));
    row.setAttribute('aria-posinset', String(p + 1));
    row.setAttribute('aria-expanded', String(open));
    row.setAttribute('aria-label', `${block[0].text}, ${KIND_WORDS[shown.kinds[i]]}`);
    const cell = document.createElement('div');
    cell.setAttribute('role', 'gridcell');
    const name = document.createElement('span');
    name.className = 'name';
    name.textContent = block[0].text + '\n';
    const lines = document.createElement('span');
    lines.id = `dump-${i}-lines`;
    let plain = '';
    let recordLine = null;
    for (let k = 1; k < block.length; ++k) {
      const line = block[k];
      if (line.verdict === 0) {
        plain += line.text + '\n';
        continue;
      }
      if (plain) lines.append(plain);
      const span = document.createElement('span');
      span.className = line.verdict === 2 ? 'failed' : 'ok';
      span.textContent = line.text;
      lines.append(span);
      if (!recordLine) recordLine = span;  // the record block's line comes first
      plain = '\n';
    }
    if (plain) lines.append(plain);
    cell.append(name, lines);
    row.append(cell);
    if (block.length > 2) row.setAttribute('aria-describedby', lines.id);
    if (!open) return [row];
    const { element, marks } = detailsOf(dump, `details-${i}`);
    if (recordLine) markRecords(recordLine, marks);
    row.setAttribute('aria-controls', element.id);
    const below = document.createElement('div');
    below.className = 'details-row';
    below.setAttribute('role', 'row');
    below.setAttribute('aria-level', '2');
    const belowCell = document.createElement('div');
    belowCell.setAttribute('role', 'gridcell');
    belowCell.append(element);
    below.append(belowCell);
    return [row, below];
  }

  // A chunk's rows made and put in it.
  function fill(chunk) {
    if (chunk.filled) return;
    const fragment = document.createDocumentFragment();
    const end = Math.min(chunk.first + CHUNK, shown.order.length);
    for (let p = chunk.first; p < end; ++p) fragment.append(...makeRows(shown.order[p], p));
    chunk.replaceChildren(fragment);
    chunk.style.height = '';
    chunk.filled = true;
  }

  // A chunk's rows taken away; it keeps their height, so nothing moves.
  function empty(chunk) {
    if (!chunk.filled) return;
    chunk.style.height = `${chunk.getBoundingClientRect().height}px`;
    chunk.replaceChildren();
    chunk.filled = false;
  }

  const chunkOf = (p) => shown.chunks[Math.floor(p / CHUNK)];

  // The row at place `p` of those shown, made if its chunk was empty.
  function rowAt(p) {
    fill(chunkOf(p));
    return document.getElementById(`dump-${shown.order[p]}`);
  }

  // The report laid out anew for the dumps `which` picks (all, failed or
  // unread): empty chunks the height their lines will take, filled as they
  // come near the screen.
  function layOut(which) {
    if (observer) observer.disconnect();
    const { kinds, lineCounts } = shown;
    const n = shown.dumps.length;
    let order;
    if (which === 'all') {
      order = new Int32Array(n);
      for (let i = 0; i < n; ++i) order[i] = i;
    } else {
      const wanted = which === 'failed' ? FAILED : UNREAD;
      let count = 0;
      for (let i = 0; i < n; ++i) if (kinds[i] === wanted) ++count;
      order = new Int32Array(count);
      for (let i = 0, at = 0; i < n; ++i) if (kinds[i] === wanted) order[at++] = i;
    }
    shown.order = order;
    shown.active = -1;
    shown.chunks = [];
    report.replaceChildren();
    report.removeAttribute('aria-activedescendant');
    const lineHeight = parseFloat(getComputedStyle(report).lineHeight) || 20;
    const fragment = document.createDocumentFragment();
    for (let first = 0; first < order.length; first += CHUNK) {
      const chunk = document.createElement('div');
      chunk.className = 'chunk';
      chunk.setAttribute('role', 'none');
      chunk.first = first;
      chunk.filled = false;
      let lines = 0;
      for (let p = first; p < Math.min(first + CHUNK, order.length); ++p) lines += lineCounts[order[p]];
      chunk.style.height = `${lines * lineHeight}px`;
      shown.chunks.push(chunk);
      fragment.append(chunk);
    }
    report.append(fragment);
    report.tabIndex = order.length > 0 ? 0 : -1;
    if (order.length <= ALL_ROWS_UP_TO) {
      for (const chunk of shown.chunks) fill(chunk);
      observer = null;
    } else {
      observe();
    }
    // The keyboard starts on the first dump (a browser whose window is
    // not in front may not tell the page when the report takes the focus).
    setActive(0, false);
    showing.textContent = `Showing ${grouped(order.length)} of ${dumpsWord(n)}.`;
    keyStatus.textContent = '';
    findStatus.textContent = '';
    found = [];  // places among the dumps shown before
  }

  // Chunks filled as they come near the screen and emptied as they leave.
  function observe() {
    observer = new IntersectionObserver((entries) => {
      if (!shown) return;
      for (const entry of entries) {
        const chunk = entry.target;
        if (entry.isIntersecting) {
          fill(chunk);
        } else if (shown.active < 0 || chunkOf(shown.active) !== chunk) {
          empty(chunk);  // the keyboard's dump keeps its row
        }
      }
    }, { rootMargin: NEAR });
    for (const chunk of shown.chunks) observer.observe(chunk);
  }

  // The keyboard's dump moved to place `p` of those shown, its row on
  // screen when `scroll` says so.
  function setActive(p, scroll = true) {
    if (!shown || shown.order.length === 0) return;
    p = Math.max(0, Math.min(p, shown.order.length - 1));
    if (shown.active >= 0 && shown.active !== p) {
      const old = document.getElementById(`dump-${shown.order[shown.active]}`);
      if (old) old.classList.remove('active');
    }
    shown.active = p;
    const row = rowAt(p);
    row.classList.add('active');
    report.setAttribute('aria-activedescendant', row.id);
    if (scroll) row.scrollIntoView({ block: 'nearest' });
  }

  // Opens or closes the details of the dump at place `p` of those shown.
  function toggle(p) {
    const i = shown.order[p];
    if (!shown.open.delete(i)) shown.open.add(i);
    const row = rowAt(p);
    if (row.nextSibling && row.nextSibling.className === 'details-row') row.nextSibling.remove();
    row.replaceWith(...makeRows(i, p));
  }

  // The first dump shown whose row is on screen, or the first shown.
  function firstOnScreen() {
    for (const chunk of shown.chunks) {
      if (!chunk.filled) continue;
      for (const row of chunk.children) {
        if (row.dumpPlace !== undefined && row.getBoundingClientRect().bottom > 0) return row.dumpPlace;
      }
    }
    return 0;
  }

  // The next dump with a failed check among those shown, after place `p`
  // (before it when `step` is -1), round to the start; -1 when none is.
  function nextFailed(p, step) {
    const count = shown.order.length;
    for (let k = 1; k <= count; ++k) {
      const q = (((p + step * k) % count) + count) % count;
      if (shown.kinds[shown.order[q]] === FAILED) return q;
    }
    return -1;
  }

  // How many dumps a page is: as many rows as the screen holds.
  function pageRows() {
    const item = document.getElementById(`dump-${shown.order[shown.active]}`);
    const height = item ? item.getBoundingClientRect().height : 80;
    return Math.max(1, Math.floor(innerHeight / Math.max(height, 1)) - 1);
  }

  // The focus comes back to the dump the keyboard was on, or, when that
  // one has been scrolled away, to the first dump on screen.
  report.addEventListener('focus', () => {
    if (!shown || shown.order.length === 0) return;
    const item = shown.active >= 0 && document.getElementById(`dump-${shown.order[shown.active]}`);
    const box = item && item.getBoundingClientRect();
    const inView = box && box.bottom > 0 && box.top < innerHeight;
    setActive(inView ? shown.active : firstOnScreen());
  });

  report.addEventListener('keydown', (event) => {
    // Keys pressed in an open panel's own controls are theirs, and the
    // browser's own shortcuts (Ctrl+F and the like) stay the browser's.
    if (!shown || event.target !== report || shown.order.length === 0 ||
        event.ctrlKey || event.altKey || event.metaKey) return;
    const p = shown.active >= 0 ? shown.active : 0;
    const last = shown.order.length - 1;
    const open = shown.open.has(shown.order[p]);
    switch (event.key) {
      case 'ArrowDown': setActive(p + 1); break;
      case 'ArrowUp': setActive(p - 1); break;
      case 'Home': setActive(0); break;
      case 'End': setActive(last); break;
      case 'PageDown': setActive(p + pageRows()); break;
      case 'PageUp': setActive(p - pageRows()); break;
      case 'Enter': case ' ': setActive(p); toggle(p); break;
      case 'ArrowRight': setActive(p); if (!open) toggle(p); break;
      case 'ArrowLeft': setActive(p); if (open) toggle(p); break;
      case 'f': case 'F': {
        const q = nextFailed(p, event.shiftKey ? -1 : 1);
        if (q < 0) {
          keyStatus.textContent = 'No dump shown has a failed check.';
        } else {
          keyStatus.textContent = '';
          setActive(q);
        }
        break;
      }
      default: return;
    }
    event.preventDefault();
  });

  // A click on a dump makes it the keyboard's; on its name, it opens or
  // closes its details (unless it ended a selection of text).
  report.addEventListener('click', (event) => {
    const row = event.target.closest && event.target.closest('.dump');
    if (!shown || !row || !report.contains(row) || event.target.closest('.details')) return;
    const p = row.dumpPlace;
    setActive(p, false);
    report.focus({ preventScroll: true });
    const selection = getSelection();
    if (event.target.closest('.name') && (!selection || selection.isCollapsed)) toggle(p);
  });

  // What the report shows: every dump, those with a failed check, or those
  // not read.
  filter.addEventListener('change', (event) => {
    if (shown && event.target.name === 'show') layOut(event.target.value);
  });

  // ---- Finding a dump by name ----

  // The places of the dumps shown whose names as displayed hold `text`
  // (letter case ignored).
  function matching(text) {
    const wanted = text.toLowerCase();
    const found = [];
    for (let p = 0; p < shown.order.length; ++p) {
      if (bridge.displayName(shown.dumps[shown.order[p]].name).toLowerCase().includes(wanted)) {
        found.push(p);
      }
    }
    return found;
  }

  function showFound() {
    if (found.length === 0) {
      findStatus.textContent = find.value ? 'No dump shown has that in its name.' : '';
      return;
    }
    // Shown once the browser has done with the key typed: it brings the
    // box being typed in back into view after each one.
    const p = found[foundAt];
    setActive(p, false);
    setTimeout(() => {
      if (shown && shown.active === p) rowAt(p).scrollIntoView({ block: 'center' });
    }, 0);
    const item = document.getElementById(`dump-${shown.order[found[foundAt]]}`);
    findStatus.textContent = `${grouped(foundAt + 1)} of ${grouped(found.length)}: ` +
                             `${item.querySelector('.name').textContent.trim()}`;
  }
  find.addEventListener('input', () => {
    if (!shown) return;
    found = find.value ? matching(find.value) : [];
    foundAt = 0;
    showFound();
  });
  // Enter goes on to the next dump found, Shift+Enter back.
  find.addEventListener('keydown', (event) => {
    if (event.key !== 'Enter' || !shown) return;
    event.preventDefault();
    if (found.length === 0) {
      // Found again among what the report shows now.
      found = find.value ? matching(find.value) : [];
      foundAt = 0;
      showFound();
      return;
    }
    foundAt = (foundAt + (event.shiftKey ? found.length - 1 : 1)) % found.length;
    showFound();
  });

  // ---- The report's states ----

  function setActions(enabled) {
    $('copy').disabled = $('save').disabled = $('save-csv').disabled = !enabled;
  }

  function finish(text, note) {
    summary.textContent = text;
    progress.hidden = true;
    notice.textContent = note || '';
    notice.hidden = !note;
    performance.mark('dumpscan-report-shown');
  }

  // No report: its rows, what it shows and finding in it gone.
  function noReport() {
    if (observer) observer.disconnect();
    observer = null;
    shown = null;
    report.replaceChildren();
    report.removeAttribute('aria-activedescendant');
    report.tabIndex = -1;
    filter.hidden = findBox.hidden = true;
    showing.textContent = keyStatus.textContent = findStatus.textContent = '';
    find.value = '';
    found = [];
  }

  // The report and its actions gone, and `text` in the summary: a new
  // choice has begun.
  function clear(text) {
    noReport();
    setActions(false);
    actionStatus.textContent = '';
    progress.hidden = true;
    notice.hidden = true;
    summary.textContent = text;
  }

  // `text` beside the report's actions: something the page did not do,
  // which leaves the report (or the choice being read) as it is.
  function tell(text) {
    actionStatus.textContent = text;
  }

  // A choice that could not be read ends with `text`, and no report.
  function fail(text) {
    noReport();
    setActions(false);
    finish(text);
  }

  // Reading has begun on `built`'s dumps.
  function reading(built) {
    const n = built.dumps.length;
    progress.max = Math.max(n, 1);
    progress.value = 0;
    progress.hidden = n < 200;
    summary.textContent = `Reading ${dumpsWord(n)}…`;
  }

  function showProgress(built) {
    progress.value = built.described;
    summary.textContent = `Reading ${grouped(built.described)} of ${dumpsWord(built.dumps.length)}…`;
  }

  // Reading waits for the file at `path`.
  function showWaiting(built, path) {
    summary.textContent = `Reading ${grouped(built.described)} of ${dumpsWord(built.dumps.length)}… ` +
                          `waiting for “${bridge.displayName(path)}”.`;
  }

  // The summary of a finished choice and its notes. `choice` is what
  // choosing found: the candidate files and what else is known of them
  // (see readChoice in choosing.js).
  function summaryOf(choice, built) {
    const { candidates, folder = false, inSubfolders = 0, subfolders = 0, unlisted = [] } = choice;
    const n = built.dumps.length;
    const notes = unlisted.map((name) => `The folder “${bridge.displayName(name)}” could not be read.`);
    if (folder && leavesOutDotFiles) {
      notes.push('This browser leaves out a folder’s files whose names start with a dot ' +
                 '(such as .bin): to read those, choose them with “Choose files…”.');
    }
    let text;
    if (n > 0) {
      text = `${dumpsWord(n)}, ${grouped(built.unreadable)} could not be read, ` +
             `${grouped(built.failed)} with a failed check.`;
    } else if (inSubfolders > 0) {
      text = `No dumps in the folder itself: its sub-folders hold ${dumpsWord(inSubfolders)}, ` +
             'which are not read. Choose the sub-folder instead.';
    } else if (subfolders > 0) {
      text = 'No dumps in the folder itself, and its sub-folders are not read. ' +
             'Choose the sub-folder instead.';
    } else if (unlisted.length > 0) {
      text = 'No dumps were read.';
    } else if (candidates.length === 0) {
      text = folder ? 'The chosen folder has no files.' : 'No files were chosen.';
    } else {
      text = 'No dumps (*.bin files) among the chosen files.';
    }
    return { text, note: notes.join(' ') };
  }

  // The choice between all dumps, those with a failed check and those not
  // read, each with its count; a choice of none is not offered.
  function offerFilter(built) {
    const n = built.dumps.length;
    const counts = { all: n, failed: 0, unread: built.unreadable };
    for (let i = 0; i < n; ++i) if (built.kinds[i] === FAILED) ++counts.failed;
    const words = { all: `All ${dumpsWord(n)}`, failed: `${grouped(counts.failed)} with a failed check`,
                    unread: `${grouped(counts.unread)} not read` };
    for (const input of filter.querySelectorAll('input[name="show"]')) {
      input.checked = input.value === 'all';
      input.disabled = counts[input.value] === 0;
      input.nextElementSibling.textContent = words[input.value];
    }
    filter.hidden = findBox.hidden = n === 0;
  }

  function showReport(choice, built) {
    noReport();
    shown = Object.assign(built, { open: new Set(), order: null, chunks: [], active: -1 });
    if (built.dumps.length > 0) {
      offerFilter(built);
      layOut('all');
    }
    setActions(built.dumps.length > 0);
    const { text, note } = summaryOf(choice, built);
    finish(text, note);
  }

  // ---- Copying and saving: always the whole report ----

  // The clipboard API where the page may use it (a secure context); a
  // selected text area with the same text elsewhere. What is copied, and
  // what is said of it, is the report on screen when Copy was pressed: a
  // new choice made meanwhile neither gets its text copied nor hears of it.
  $('copy').addEventListener('click', async () => {
    if (!shown) return;
    const asked = shown;
    const text = wholeText(asked);
    try {
      await navigator.clipboard.writeText(text);
    } catch (error) {
      const area = document.createElement('textarea');
      area.value = text;
      area.setAttribute('readonly', '');
      area.style.position = 'fixed';
      area.style.opacity = '0';
      document.body.append(area);
      area.select();
      const copied = document.execCommand('copy');
      area.remove();
      if (!copied) {
        if (shown === asked) {
          actionStatus.textContent = 'Copying is not allowed here: use Save report instead.';
        }
        return;
      }
    }
    if (shown === asked) actionStatus.textContent = 'Report copied.';
  });

  function saveAs(text, type, fileName) {
    const url = URL.createObjectURL(new Blob([text], { type }));
    const link = document.createElement('a');
    link.href = url;
    link.download = fileName;
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(url), 60000);
  }

  $('save').addEventListener('click', () => {
    if (!shown) return;
    saveAs(wholeText(shown), 'text/plain;charset=utf-8', 'report.txt');
    actionStatus.textContent = 'Report saved as report.txt.';
  });

  // The report as a table for spreadsheets.
  $('save-csv').addEventListener('click', () => {
    if (!shown) return;
    const dumps = Array.from({ length: shown.dumps.length }, (_, i) => shownDump(i));
    saveAs(details.csvText(dumps), 'text/csv;charset=utf-8', 'report.csv');
    actionStatus.textContent = 'Report saved as report.csv.';
  });

  return { newReport, describeUpTo, reading, showProgress, showWaiting, showReport, clear, fail,
           finish, tell };
}
