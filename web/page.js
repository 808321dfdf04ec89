// The page's own code: it picks files, reads the bytes at the dump offset,
// hands them to the engine (dumpscan's C++ compiled to WebAssembly) and
// shows the lines the engine returns. The name rule, the name display, the
// decoding and every text of the report come from the engine.
'use strict';

(async () => {
  const $ = (id) => document.getElementById(id);
  const summary = $('summary');
  const report = $('report');
  const actionStatus = $('action-status');
  const folderInput = $('folder-input');
  const filesInput = $('files-input');
  const dropZone = $('drop-zone');

  const progress = $('progress');
  const notice = $('notice');

  // The engine's WebAssembly is compiled in the background from the bytes
  // the page holds (DUMPSCAN_WASM, put there when the page is made): no
  // fetch, and no compile on the main thread, which browsers refuse or
  // limit for modules this size.
  let engine;
  try {
    engine = await new Promise((resolve, reject) => {
      const bytes = Uint8Array.from(atob(DUMPSCAN_WASM), (c) => c.charCodeAt(0));
      const started = DumpscanEngine({
        instantiateWasm(imports, receive) {
          WebAssembly.instantiate(bytes, imports).then((result) => receive(result.instance), reject);
          return {};
        },
      });
      // This emscripten gives the module with a promise of it started as
      // `ready`; later ones give the promise.
      Promise.resolve(started.ready || started).then(resolve, reject);
    });
  } catch (error) {
    summary.textContent = 'This browser could not start the page’s WebAssembly engine.';
    return;
  }

  // ---- The engine: the name rule, names as shown, a dump's block ----

  const readOffset = engine._dumpscan_read_offset();
  const readSize = engine._dumpscan_read_size();
  const readEnd = readOffset + readSize;

  function putName(name) {
    const at = engine._dumpscan_name_buffer(name.length) >> 1;
    const heap = engine.HEAPU16;
    for (let i = 0; i < name.length; ++i) heap[at + i] = name.charCodeAt(i);
  }

  // Writes the bytes read at the dump offset (at most readSize) where the
  // engine takes them; gives how many it took.
  const bytesBuffer = engine._dumpscan_bytes_buffer();
  function putBytes(bytes) {
    const got = Math.min(bytes.length, readSize);
    engine.HEAPU8.set(bytes.subarray(0, got), bytesBuffer);
    return got;
  }

  function textAt(pointer, length) {
    const at = pointer >> 1;
    const units = engine.HEAPU16.subarray(at, at + length);
    let text = '';
    for (let k = 0; k < units.length; k += 4096) {
      text += String.fromCharCode.apply(null, units.subarray(k, k + 4096));
    }
    return text;
  }

  function isDumpName(name) {
    putName(name);
    return engine._dumpscan_is_dump_name(name.length) === 1;
  }

  // A name or path as the report shows names: no control character in it.
  function displayName(name) {
    putName(name);
    const length = engine._dumpscan_display_name(name.length);
    return textAt(engine._dumpscan_display_text(), length);
  }

  // The block of lines the engine gives for a dump of which `bytes` (those
  // at the dump offset that arrived) were read, with each line's verdict:
  // 0 none, 1 OK, 2 a failed check. One call into the engine describes the
  // dump; its block's text is then read at once and cut into lines where
  // the block layout says.
  const layout = engine._dumpscan_block_layout() >> 2;
  function describe(name, bytes) {
    putName(name);
    const count = engine._dumpscan_describe(name.length, putBytes(bytes));
    const words = engine.HEAPU32;
    const text = textAt(words[layout], words[layout + 1]);
    const lines = new Array(count);
    for (let i = 0, at = layout + 2; i < count; ++i, at += 3) {
      const from = words[at];
      lines[i] = { text: text.slice(from, from + words[at + 1]), verdict: words[at + 2] };
    }
    return lines;
  }

  // ---- The bytes read: a flat store ----

  // Each dump's bytes at the dump offset and how many arrived, by its place
  // in the report: one byte array grown by doubling and a count per dump,
  // so memory per dump stays at readSize + 1 bytes, whatever the files.
  // UNREAD marks a file that could not be read.
  const UNREAD = 255;
  class DumpStore {
    constructor() {
      this.got = new Uint8Array(64);
      this.bytes = new Uint8Array(64 * readSize);
    }

    // Keeps dump `i`'s bytes (null: the file could not be read).
    put(i, bytes) {
      if (i >= this.got.length) {
        let size = this.got.length;
        while (size <= i) size *= 2;
        const got = new Uint8Array(size);
        got.set(this.got);
        const all = new Uint8Array(size * readSize);
        all.set(this.bytes);
        this.got = got;
        this.bytes = all;
      }
      if (bytes === null) {
        this.got[i] = UNREAD;
      } else {
        this.bytes.set(bytes, i * readSize);
        this.got[i] = bytes.length;
      }
    }

    readable(i) {
      return this.got[i] !== UNREAD;
    }

    // The bytes of dump `i` that arrived (none for a file that could not be read).
    arrived(i) {
      const from = i * readSize;
      return this.bytes.subarray(from, from + (this.readable(i) ? this.got[i] : 0));
    }
  }

  // ---- Reading ----

  // A dump's file, from what the browser gave for it: a File, a file
  // handle (getAsFileSystemHandle) or a file entry (webkitGetAsEntry).
  function fileOf(source) {
    if (source instanceof Blob) return source;
    if (typeof source.getFile === 'function') return source.getFile();
    return new Promise((resolve, reject) => source.file(resolve, reject));
  }

  // The bytes at the dump offset, as many as the file has there, or null
  // when the file cannot be read. The head of the file is streamed up to
  // the end of that range and the stream then dropped, so the rest of a
  // file is never read, however large. (In Chromium this is several times
  // faster than File.slice, which asks for the file's size first: a
  // thousand dumps take a third of the time.) A stopped choice cancels the
  // stream, so a read that never comes back holds nothing.
  async function readDump(source, signal) {
    const head = new Uint8Array(readEnd);
    let got = 0;
    try {
      const reader = (await fileOf(source)).stream().getReader();
      const cancel = () => reader.cancel().catch(() => {});
      signal.addEventListener('abort', cancel);
      try {
        while (got < readEnd) {
          const { done, value } = await reader.read();
          if (done) break;
          const take = Math.min(value.length, readEnd - got);
          head.set(value.subarray(0, take), got);
          got += take;
        }
      } finally {
        signal.removeEventListener('abort', cancel);
        cancel();
      }
    } catch (error) {
      return null;
    }
    return head.subarray(readOffset, Math.max(readOffset, got));
  }

  const READERS = 32;   // reads at a time: faster than one by one
  const AHEAD = 64;     // how far reads may run past the first dump not yet arrived
  const SLOW_MS = 1500; // a read this old is named while the page waits for it

  // Reads every dump's bytes into `store`. Reads finish in any order, but
  // none starts more than AHEAD dumps past the first that has not arrived,
  // so a file that never answers holds back at most AHEAD reads, not the
  // rest of the folder. `onReady(ready)` is told each time the first
  // `ready` dumps have all arrived; `onSlow(i)` every half second while
  // dump i, the next one due, has taken longer than SLOW_MS. Gives true
  // when all have arrived, false at once when `signal` stops the choice.
  function readDumps(dumps, store, signal, onReady, onSlow) {
    return new Promise((resolve) => {
      const n = dumps.length;
      const arrived = new Uint8Array(AHEAD);      // by i % AHEAD, for next - ready <= AHEAD
      const startedAt = new Float64Array(AHEAD);
      let next = 0;
      let ready = 0;
      let running = 0;
      const watch = setInterval(() => {
        if (ready < next && performance.now() - startedAt[ready % AHEAD] > SLOW_MS) onSlow(ready);
      }, 500);
      const end = (complete) => {
        clearInterval(watch);
        signal.removeEventListener('abort', stopped);
        resolve(complete);
      };
      const stopped = () => end(false);
      signal.addEventListener('abort', stopped);

      function arrive(i, bytes) {
        --running;
        if (signal.aborted) return;
        store.put(i, bytes);
        arrived[i % AHEAD] = 1;
        if (i !== ready) {
          startMore();
          return;
        }
        while (ready < n && arrived[ready % AHEAD]) arrived[ready++ % AHEAD] = 0;
        onReady(ready);
        if (ready === n) end(true);
        else startMore();
      }
      function startMore() {
        while (running < READERS && next < n && next < ready + AHEAD) {
          const i = next++;
          ++running;
          startedAt[i % AHEAD] = performance.now();
          readDump(dumps[i].source, signal).then((bytes) => arrive(i, bytes));
        }
      }
      if (n === 0) end(true);
      else startMore();
    });
  }

  // ---- Describing ----

  // The report of a choice as it is built: the engine's blocks for the
  // dumps read so far, in name order, as text and as elements.
  function newReport(dumps) {
    return { dumps, store: new DumpStore(), described: 0, failed: 0, unreadable: 0,
             lines: [], fragment: document.createDocumentFragment() };
  }

  // Describes the dumps from the last described up to `ready`, which have
  // all arrived.
  function describeUpTo(built, ready) {
    while (built.described < ready) {
      const i = built.described++;
      if (!built.store.readable(i)) ++built.unreadable;
      const block = describe(built.dumps[i].name, built.store.arrived(i));
      if (block.some((line) => line.verdict === 2)) ++built.failed;
      // Text between elements goes in as one node: fewer nodes, less work
      // for the browser, the same text.
      let plain = '';
      built.fragment.append(details.opener(i, built.dumps[i].name));
      for (const line of block) {
        built.lines.push(line.text);
        if (line.verdict === 0) {
          plain += line.text + '\n';
        } else {
          if (plain) built.fragment.append(plain);
          const span = document.createElement('span');
          span.className = line.verdict === 2 ? 'failed' : 'ok';
          span.textContent = line.text;
          built.fragment.append(span);
          plain = '\n';
        }
      }
      if (plain) built.fragment.append(plain);
    }
  }

  // ---- Showing ----

  const count = (n) => n.toLocaleString('en');
  const dumpsWord = (n) => `${count(n)} dump${n === 1 ? '' : 's'}`;

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

  // The report on screen: its dumps (name, path) and their bytes
  // (a DumpStore), by their place in the report; null while there is none.
  let shown = null;
  let reportText = '';

  // Dump `i` of the report on screen, as its details and the CSV take it:
  // its name, the bytes that arrived and whether its file was read.
  function shownDump(i) {
    return { name: shown.dumps[i].name, bytes: shown.store.arrived(i),
             readable: shown.store.readable(i) };
  }

  // A dump's details and the report as CSV (details.js): opened from the
  // button before each dump's name, worked out only then.
  const details = dumpscanDetails(engine, { putName, putBytes, textAt });
  details.watch(report, shownDump);

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

  function showProgress(built) {
    progress.value = built.described;
    summary.textContent = `Reading ${count(built.described)} of ${dumpsWord(built.dumps.length)}…`;
  }

  // The summary of a finished choice and its notes. `choice` is what
  // choosing found: the candidate files and what else is known of them
  // (see readChoice).
  function summaryOf(choice, built) {
    const { candidates, folder = false, inSubfolders = 0, subfolders = 0, unlisted = [] } = choice;
    const n = built.dumps.length;
    const notes = unlisted.map((name) => `The folder “${displayName(name)}” could not be read.`);
    if (folder && leavesOutDotFiles) {
      notes.push('This browser leaves out a folder’s files whose names start with a dot ' +
                 '(such as .bin): to read those, choose them with “Choose files…”.');
    }
    let text;
    if (n > 0) {
      text = `${dumpsWord(n)}, ${count(built.unreadable)} could not be read, ` +
             `${count(built.failed)} with a failed check.`;
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

  function showReport(choice, built) {
    report.replaceChildren(built.fragment);
    reportText = built.lines.map((line) => line + '\r\n').join('');
    shown = { dumps: built.dumps, store: built.store };
    built.lines = built.fragment = null;
    setActions(built.dumps.length > 0);
    const { text, note } = summaryOf(choice, built);
    finish(text, note);
  }

  // ---- Choosing ----

  // Dumps are listed by name, compared code unit by code unit so the order
  // does not depend on the language settings; the same name from two
  // dropped folders goes by its path.
  function byName(a, b) {
    if (a.name !== b.name) return a.name < b.name ? -1 : 1;
    if (a.path !== b.path) return a.path < b.path ? -1 : 1;
    return 0;
  }

  // A new choice takes over at once: the one being read is stopped, and the
  // report on screen goes, its Copy and Save with it, until the new one is
  // shown. Gives the signal that stops the new choice in turn.
  let current = null;
  function startChoice(text) {
    performance.mark('dumpscan-chosen');
    if (current) current.abort();
    current = new AbortController();
    shown = null;
    reportText = '';
    report.replaceChildren();
    setActions(false);
    actionStatus.textContent = '';
    progress.hidden = true;
    notice.hidden = true;
    summary.textContent = text;
    return current.signal;
  }

  // Reads a choice and shows its report. `makeChoice` gives (or promises)
  // the candidate files, each { name, path, source } (source: a File or
  // what fileOf takes), and what else is known of the choice: `folder` (a
  // folder was chosen, not files), `inSubfolders` (dumps in its
  // sub-folders, which are not read), `subfolders` (how many sub-folders a
  // dropped folder has), `unlisted` (folders that could not be listed).
  // Whatever goes wrong ends with a message, never with the page stuck at
  // "Reading…".
  async function readChoice(signal, makeChoice) {
    try {
      const choice = await makeChoice();
      if (signal.aborted) return;
      const dumps = choice.candidates.filter((c) => isDumpName(c.name)).sort(byName);
      const built = newReport(dumps);
      progress.max = Math.max(dumps.length, 1);
      progress.value = 0;
      progress.hidden = dumps.length < 200;
      summary.textContent = `Reading ${dumpsWord(dumps.length)}…`;
      let lastShown = performance.now();
      const complete = await readDumps(dumps, built.store, signal, (ready) => {
        describeUpTo(built, ready);
        const now = performance.now();
        if (now - lastShown > 100) {
          lastShown = now;
          showProgress(built);
        }
      }, (i) => {
        const waited = displayName(dumps[i].path);
        summary.textContent =
          `Reading ${count(built.described)} of ${dumpsWord(dumps.length)}… waiting for “${waited}”.`;
      });
      if (complete) showReport(choice, built);
    } catch (error) {
      if (signal.aborted) return;
      report.replaceChildren();
      reportText = '';
      setActions(false);
      const why = error && error.message ? error.message : error;
      finish(`The chosen files could not be read (${why}).`);
    }
  }

  // A chosen folder lists the files of its sub-folders too, with a longer
  // relative path: only the folder's own files are kept.
  folderInput.addEventListener('change', () => {
    const signal = startChoice('Reading the chosen folder…');
    const all = Array.from(folderInput.files);
    folderInput.value = '';
    readChoice(signal, () => {
      const candidates = [];
      let inSubfolders = 0;
      for (const file of all) {
        if (file.webkitRelativePath.split('/').length === 2) {
          candidates.push({ name: file.name, path: file.webkitRelativePath, source: file });
        } else if (isDumpName(file.name)) {
          ++inSubfolders;
        }
      }
      return { candidates, folder: true, inSubfolders };
    });
  });
  filesInput.addEventListener('change', () => {
    const signal = startChoice('Reading the chosen files…');
    const all = Array.from(filesInput.files);
    filesInput.value = '';
    readChoice(signal, () => ({
      candidates: all.map((file) => ({ name: file.name, path: file.name, source: file })),
    }));
  });

  // ---- Dropping ----

  // What a drop carries. Chromium and Firefox list "Files" in its types and
  // give file items for files from the desktop; a link or a picture dragged
  // from a web page carries its address in text/uri-list (and a picture may
  // come as a file too): a web address there means it came from a page.
  // WebKit on Linux gives a page no files from a drop: a file drag there
  // carries text/uri-list (and text/html) whose text it keeps from the
  // page, and no text/plain, which a dragged link or selection always has.
  // 'files' starts a new choice, 'withheld' (files were dropped, the
  // browser gave none) says so, 'other' (text, links, pictures) changes
  // nothing.
  function dropKind(transfer) {
    const types = Array.from(transfer.types || []);
    const uris = types.includes('text/uri-list')
      ? transfer.getData('text/uri-list').split(/\r?\n/).filter((line) => line && line[0] !== '#')
      : [];
    if (uris.some((uri) => !/^file:/i.test(uri))) return 'other';
    if (Array.from(transfer.items || []).some((item) => item.kind === 'file')) return 'files';
    if (types.includes('Files') || uris.length > 0) return 'withheld';
    if (types.includes('text/uri-list') && !types.includes('text/plain')) return 'withheld';
    return 'other';
  }

  // What each dropped item gives, taken in the drop event itself: the data
  // transfer is emptied after it. A folder is listed through its entry
  // (webkitGetAsEntry), and through its handle (getAsFileSystemHandle,
  // where the browser has it) when the entry cannot list it: Chromium
  // refuses a dropped folder's entries to a page opened from disk, while
  // its handle leaves out names the entries give (a name with a line
  // break). A loose file comes as a File.
  function takeDropped(transfer) {
    return Array.from(transfer.items).filter((item) => item.kind === 'file').map((item) => ({
      handle: item.getAsFileSystemHandle ? item.getAsFileSystemHandle().catch(() => null) : null,
      entry: item.webkitGetAsEntry ? item.webkitGetAsEntry() : null,
      file: item.getAsFile(),
    }));
  }

  // A dropped folder's children, each { name, isFolder, source }, through
  // its handle or its entry (whose reader gives them in batches).
  async function* handleChildren(folder) {
    for await (const child of folder.values()) {
      yield { name: child.name, isFolder: child.kind === 'directory', source: child };
    }
  }
  async function* entryChildren(folder) {
    const reader = folder.createReader();
    for (;;) {
      const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
      if (batch.length === 0) return;
      for (const child of batch) {
        if (child.isFile || child.isDirectory) {
          yield { name: child.name, isFolder: child.isDirectory, source: child };
        }
      }
    }
  }

  // The files of a dropped folder `name` (each { name, path, source }) and
  // how many sub-folders it has, from its `children`; throws when the
  // folder cannot be listed to its end.
  async function listFolder(name, children) {
    const own = [];
    let inner = 0;
    for await (const child of children) {
      if (child.isFolder) {
        ++inner;
      } else {
        own.push({ name: child.name, path: `${name}/${child.name}`, source: child.source });
      }
    }
    return { own, inner };
  }

  // A dropped folder gives its own files, not its sub-folders'; dropped
  // files are taken as they are. A folder that cannot be listed (or not to
  // its end) is named in the summary; the rest of the drop is still read.
  // Dumps in a dropped folder's sub-folders are not counted (that would
  // walk them all); that there are sub-folders is said when no dump is
  // found.
  async function droppedChoice(taken) {
    const candidates = [];
    const unlisted = [];
    let folders = 0;
    let subfolders = 0;
    for (const item of taken) {
      const handle = item.handle ? await item.handle : null;
      const entryFolder = item.entry && item.entry.isDirectory ? item.entry : null;
      const handleFolder = handle && handle.kind === 'directory' ? handle : null;
      if (entryFolder || handleFolder) {
        ++folders;
        const name = (entryFolder || handleFolder).name;
        const listings = [];
        if (entryFolder) listings.push(() => entryChildren(entryFolder));
        if (handleFolder) listings.push(() => handleChildren(handleFolder));
        let listed = null;
        for (const children of listings) {
          try {
            listed = await listFolder(name, children());
            break;
          } catch (error) {
            // the next way of listing it, if there is one
          }
        }
        if (!listed) {
          unlisted.push(name);
          continue;
        }
        candidates.push(...listed.own);
        subfolders += listed.inner;
      } else if (item.file) {
        candidates.push({ name: item.file.name, path: item.file.name, source: item.file });
      } else if (handle) {
        candidates.push({ name: handle.name, path: handle.name, source: handle });
      }
    }
    return { candidates, unlisted, folder: folders > 0 && folders === taken.length,
             inSubfolders: 0, subfolders };
  }

  // Anywhere on the page takes a drop, so a missed target never makes the
  // browser open what was dropped instead.
  document.addEventListener('dragover', (event) => {
    event.preventDefault();
    event.dataTransfer.dropEffect = 'copy';
    dropZone.classList.add('over');
  });
  document.addEventListener('dragleave', (event) => {
    if (event.relatedTarget === null) dropZone.classList.remove('over');
  });
  document.addEventListener('drop', (event) => {
    event.preventDefault();
    dropZone.classList.remove('over');
    const kind = dropKind(event.dataTransfer);
    if (kind === 'files') {
      const taken = takeDropped(event.dataTransfer);
      readChoice(startChoice('Reading the dropped files…'), () => droppedChoice(taken));
    } else if (kind === 'withheld') {
      startChoice('');
      finish('This browser did not give the page the dropped files: ' +
             'choose them with the buttons above.');
    }
  });

  // ---- Choosing, copying, saving: the buttons ----

  $('choose-folder').addEventListener('click', () => folderInput.click());
  $('choose-files').addEventListener('click', () => filesInput.click());
  if (!('webkitdirectory' in folderInput)) $('choose-folder').hidden = true;

  // The clipboard API where the page may use it (a secure context); a
  // selected text area with the same text elsewhere.
  $('copy').addEventListener('click', async () => {
    try {
      await navigator.clipboard.writeText(reportText);
    } catch (error) {
      const area = document.createElement('textarea');
      area.value = reportText;
      area.setAttribute('readonly', '');
      area.style.position = 'fixed';
      area.style.opacity = '0';
      document.body.append(area);
      area.select();
      const copied = document.execCommand('copy');
      area.remove();
      if (!copied) {
        actionStatus.textContent = 'Copying is not allowed here: select the report and copy it.';
        return;
      }
    }
    actionStatus.textContent = 'Report copied.';
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
    saveAs(reportText, 'text/plain;charset=utf-8', 'report.txt');
    actionStatus.textContent = 'Report saved as report.txt.';
  });

  // The report as a table for spreadsheets.
  $('save-csv').addEventListener('click', () => {
    if (!shown) return;
    const dumps = Array.from({ length: shown.dumps.length }, (_, i) => shownDump(i));
    saveAs(details.csvText(dumps), 'text/csv;charset=utf-8', 'report.csv');
    actionStatus.textContent = 'Report saved as report.csv.';
  });

  $('choose-folder').disabled = $('choose-files').disabled = false;
  summary.textContent = 'No dumps chosen yet.';
})();
