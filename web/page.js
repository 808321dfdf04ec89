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
  // [details hook] A dump's details and the CSV (details.js).
  const details = dumpscanDetails(engine);
  let shownDumps = [];  // { name, bytes, readable } of each dump in the report, in its order
  details.watch(report, (i) => shownDumps[i]);

  const readOffset = engine._dumpscan_read_offset();
  const readSize = engine._dumpscan_read_size();

  function putName(name) {
    const at = engine._dumpscan_name_buffer(name.length) >> 1;
    for (let i = 0; i < name.length; ++i) engine.HEAPU16[at + i] = name.charCodeAt(i);
  }

  function isDumpName(name) {
    putName(name);
    return engine._dumpscan_is_dump_name(name.length) === 1;
  }

  // The block of lines the engine gives for a dump, with each line's
  // verdict: 0 none, 1 OK, 2 a failed check.
  function describe(name, bytes) {
    putName(name);
    engine.HEAPU8.set(bytes, engine._dumpscan_bytes_buffer());
    const count = engine._dumpscan_describe(name.length, bytes.length);
    const lines = [];
    for (let i = 0; i < count; ++i) {
      const at = engine._dumpscan_line_text(i) >> 1;
      const units = engine.HEAPU16.subarray(at, at + engine._dumpscan_line_length(i));
      let text = '';
      for (let k = 0; k < units.length; k += 4096) {
        text += String.fromCharCode.apply(null, units.subarray(k, k + 4096));
      }
      lines.push({ text, verdict: engine._dumpscan_line_verdict(i) });
    }
    return lines;
  }

  // The bytes at the dump offset, as many as the file has there. The head
  // of the file is streamed up to the end of that range and the stream then
  // dropped, so the rest of a file is never read, however large. (In
  // Chromium this is several times faster than File.slice, which asks for
  // the file's size first: a thousand dumps take a third of the time.) A
  // file that cannot be read gives none.
  const readEnd = readOffset + readSize;
  async function readDumpBytes(file) {
    const head = new Uint8Array(readEnd);
    let got = 0;
    try {
      const reader = file.stream().getReader();
      while (got < readEnd) {
        const { done, value } = await reader.read();
        if (done) break;
        const take = Math.min(value.length, readEnd - got);
        head.set(value.subarray(0, take), got);
        got += take;
      }
      reader.cancel().catch(() => {});
    } catch (error) {
      return { bytes: new Uint8Array(0), readable: false };
    }
    // A copy of only the bytes the engine needs: a view into the head
    // would keep all of it.
    return { bytes: head.slice(readOffset, Math.max(readOffset, got)), readable: true };
  }

  // Dumps are listed by name, compared code unit by code unit so the order
  // does not depend on the language settings; the same name from two
  // dropped folders goes by its path.
  function byName(a, b) {
    if (a.name !== b.name) return a.name < b.name ? -1 : 1;
    if (a.path !== b.path) return a.path < b.path ? -1 : 1;
    return 0;
  }

  let reportText = '';
  let run = 0;  // a newer choice replaces (and stops) an older one
  const count = (n) => n.toLocaleString('en');
  const dumpsWord = (n) => `${count(n)} dump${n === 1 ? '' : 's'}`;

  // Safari's engine leaves a folder's files whose names start with a dot
  // out of a chosen folder, and the page cannot see them: it says so.
  const leavesOutDotFiles = /AppleWebKit\//.test(navigator.userAgent) &&
                            !/(Chrome|Chromium|CriOS|Edg|Firefox|FxiOS)\//.test(navigator.userAgent);

  function finish(text, note) {
    summary.textContent = text;
    progress.hidden = true;
    notice.textContent = note || '';
    notice.hidden = !note;
  }

  // Reads the chosen dumps and shows their report. `choice` has the
  // candidate files (name, path, file), and what else is known of it:
  // `folder` (a folder was chosen, not files), `inSubfolders` (dumps in its
  // sub-folders, which are not read), `subfolders` (how many sub-folders a
  // dropped folder has), `unlisted` (folders that could not be listed).
  async function show(choice, mine) {
    const { candidates, folder = false, inSubfolders = 0, subfolders = 0, unlisted = [] } = choice;
    const dumps = candidates.filter((c) => isDumpName(c.name)).sort(byName);
    report.replaceChildren();
    reportText = '';
    shownDumps = [];  // [details hook]
    actionStatus.textContent = '';
    $('copy').disabled = $('save').disabled = $('save-csv').disabled = true;
    progress.max = Math.max(dumps.length, 1);
    progress.value = 0;
    progress.hidden = dumps.length < 200;
    summary.textContent = `Reading ${dumpsWord(dumps.length)}…`;
    let lastShown = performance.now();

    // A few dozen reads at a time: faster than one by one, and a folder of
    // many thousand dumps does not queue them all at once. Each dump is
    // described, in name order, as soon as it and those before it are read,
    // and its bytes dropped: memory holds the report, not the reads.
    const reads = new Array(dumps.length);
    const lines = [];
    const fragment = document.createDocumentFragment();
    let next = 0;
    let described = 0;
    let failed = 0;
    let unreadable = 0;
    function describeReady() {
      while (described < dumps.length && reads[described] !== undefined) {
        const read = reads[described];
        reads[described] = null;
        const block = describe(dumps[described].name, read.bytes);
        // [details hook] an opener before the name; the bytes kept for it and the CSV.
        shownDumps.push({ name: dumps[described].name, bytes: read.bytes, readable: read.readable });
        fragment.append(details.opener(described, dumps[described].name));
        ++described;
        if (!read.readable) ++unreadable;
        if (block.some((line) => line.verdict === 2)) ++failed;
        for (const line of block) {
          lines.push(line.text);
          if (line.verdict === 0) {
            fragment.append(line.text + '\n');
          } else {
            const span = document.createElement('span');
            span.className = line.verdict === 2 ? 'failed' : 'ok';
            span.textContent = line.text;
            fragment.append(span, '\n');
          }
        }
      }
    }
    await Promise.all(Array.from({ length: Math.min(32, dumps.length) }, async () => {
      while (next < dumps.length && mine === run) {
        const i = next++;
        reads[i] = dumps[i].file ? await readDumpBytes(dumps[i].file)
                                 : { bytes: new Uint8Array(0), readable: false };
        if (mine !== run) return;
        describeReady();
        const now = performance.now();
        if (now - lastShown > 100) {
          lastShown = now;
          progress.value = described;
          summary.textContent = `Reading ${count(described)} of ${dumpsWord(dumps.length)}…`;
        }
      }
    }));
    if (mine !== run) return;

    report.replaceChildren(fragment);
    reportText = lines.map((line) => line + '\r\n').join('');
    $('copy').disabled = $('save').disabled = $('save-csv').disabled = dumps.length === 0;

    const notes = [];
    for (const name of unlisted) notes.push(`The folder “${name}” could not be read.`);
    let text;
    if (dumps.length > 0) {
      text = `${dumpsWord(dumps.length)}, ${count(unreadable)} could not be read, ` +
             `${count(failed)} with a failed check.`;
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
    if (folder && leavesOutDotFiles) {
      notes.push('This browser leaves out a folder’s files whose names start with a dot ' +
                 '(such as .bin): to read those, choose them with “Choose files…”.');
    }
    finish(text, notes.join(' '));
    performance.mark('dumpscan-report-shown');
  }

  // Whatever goes wrong while reading a choice ends with a message, never
  // with the page stuck at "Reading…".
  async function showSafely(makeChoice) {
    const mine = ++run;
    try {
      const choice = await makeChoice();
      if (mine === run) await show(choice, mine);
    } catch (error) {
      if (mine !== run) return;
      report.replaceChildren();
      reportText = '';
      shownDumps = [];  // [details hook]
      $('copy').disabled = $('save').disabled = $('save-csv').disabled = true;
      finish(`The chosen files could not be read (${error && error.message ? error.message : error}).`);
      performance.mark('dumpscan-report-shown');
    }
  }

  // A chosen folder lists the files of its sub-folders too, with a longer
  // relative path: only the folder's own files are kept.
  folderInput.addEventListener('change', () => {
    performance.mark('dumpscan-chosen');
    const all = Array.from(folderInput.files);
    folderInput.value = '';
    showSafely(() => {
      const candidates = [];
      let inSubfolders = 0;
      for (const file of all) {
        if (file.webkitRelativePath.split('/').length === 2) {
          candidates.push({ name: file.name, path: file.webkitRelativePath, file });
        } else if (isDumpName(file.name)) {
          ++inSubfolders;
        }
      }
      return { candidates, folder: true, inSubfolders };
    });
  });
  filesInput.addEventListener('change', () => {
    performance.mark('dumpscan-chosen');
    const all = Array.from(filesInput.files);
    filesInput.value = '';
    showSafely(() => ({ candidates: all.map((file) => ({ name: file.name, path: file.name, file })) }));
  });

  // All entries of a dropped folder (readEntries gives them in batches).
  async function folderEntries(folder) {
    const reader = folder.createReader();
    const entries = [];
    for (;;) {
      const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
      if (batch.length === 0) return entries;
      entries.push(...batch);
    }
  }
  const entryFile = (entry) => new Promise((resolve, reject) => entry.file(resolve, reject));

  // A dropped folder gives its own files, not its sub-folders'; dropped
  // files are taken as they are. A folder that cannot be listed is named
  // in the summary; the rest of the drop is still read.
  async function droppedChoice(dataTransfer) {
    const items = Array.from(dataTransfer.items).filter((item) => item.kind === 'file');
    const entries = items.map((item) => (item.webkitGetAsEntry ? item.webkitGetAsEntry() : null));
    const files = items.map((item) => item.getAsFile());
    const candidates = [];
    const unlisted = [];
    let folders = 0;
    let subfolders = 0;
    for (let i = 0; i < items.length; ++i) {
      const entry = entries[i];
      if (entry && entry.isDirectory) {
        ++folders;
        let children;
        try {
          children = await folderEntries(entry);
        } catch (error) {
          unlisted.push(entry.name);
          continue;
        }
        for (const child of children) {
          if (child.isDirectory) ++subfolders;
          if (!child.isFile) continue;
          try {
            candidates.push({ name: child.name, path: child.fullPath, file: await entryFile(child) });
          } catch (error) {
            candidates.push({ name: child.name, path: child.fullPath, file: null });
          }
        }
      } else if (files[i]) {
        candidates.push({ name: files[i].name, path: entry ? entry.fullPath : files[i].name,
                          file: files[i] });
      }
    }
    // Dumps in a dropped folder's sub-folders are not counted (that would
    // walk them all); that there are sub-folders is said when no dump is
    // found.
    return { candidates, unlisted, folder: folders > 0 && folders === items.length,
             inSubfolders: 0, subfolders };
  }

  // Anywhere on the page takes a drop, so a missed target never makes the
  // browser open the dropped file instead.
  document.addEventListener('dragover', (event) => {
    event.preventDefault();
    event.dataTransfer.dropEffect = 'copy';
    dropZone.classList.add('over');
  });
  document.addEventListener('dragleave', (event) => {
    if (event.relatedTarget === null) dropZone.classList.remove('over');
  });
  document.addEventListener('drop', async (event) => {
    event.preventDefault();
    dropZone.classList.remove('over');
    performance.mark('dumpscan-chosen');
    summary.textContent = 'Reading the dropped files…';
    // A folder takes a while to walk: a choice made meanwhile wins.
    showSafely(() => droppedChoice(event.dataTransfer));
  });

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

  // [details hook] The report as a table for spreadsheets.
  $('save-csv').addEventListener('click', () => {
    saveAs(details.csvText(shownDumps), 'text/csv;charset=utf-8', 'report.csv');
    actionStatus.textContent = 'Report saved as report.csv.';
  });

  $('choose-folder').disabled = $('choose-files').disabled = false;
  summary.textContent = 'No dumps chosen yet.';
})();
