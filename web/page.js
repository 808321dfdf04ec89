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

  let engine;
  try {
    engine = await DumpscanEngine();
  } catch (error) {
    summary.textContent = 'This browser could not start the page’s WebAssembly engine.';
    return;
  }
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
    return { bytes: head.subarray(readOffset, Math.max(readOffset, got)), readable: true };
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
  let run = 0;  // a newer choice replaces the report of an older one

  async function show(candidates) {
    const mine = ++run;
    const dumps = candidates.filter((c) => isDumpName(c.name)).sort(byName);
    summary.textContent = `Reading ${dumps.length} dump${dumps.length === 1 ? '' : 's'}…`;
    // A few dozen reads at a time: faster than one by one, and a folder of
    // many thousand dumps does not queue them all at once.
    const reads = new Array(dumps.length);
    let next = 0;
    await Promise.all(Array.from({ length: Math.min(32, dumps.length) }, async () => {
      while (next < dumps.length) {
        const i = next++;
        reads[i] = await readDumpBytes(dumps[i].file);
      }
    }));
    if (mine !== run) return;

    const fragment = document.createDocumentFragment();
    const lines = [];
    let failed = 0;
    let unreadable = 0;
    dumps.forEach((dump, i) => {
      const block = describe(dump.name, reads[i].bytes);
      if (!reads[i].readable) ++unreadable;
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
    });
    report.replaceChildren(fragment);
    reportText = lines.map((line) => line + '\r\n').join('');
    actionStatus.textContent = '';
    $('copy').disabled = $('save').disabled = dumps.length === 0;

    if (dumps.length === 0) {
      summary.textContent = candidates.length === 0
        ? 'No files were chosen.'
        : 'No dumps (*.bin files) among the chosen files.';
    } else {
      let text = `${dumps.length} dump${dumps.length === 1 ? '' : 's'} read, ` +
                 `${failed} with a failed check`;
      if (unreadable > 0) text += `, ${unreadable} could not be read`;
      summary.textContent = text + '.';
    }
    performance.mark('dumpscan-report-shown');
  }

  // A chosen folder lists the files of its sub-folders too, with a longer
  // relative path: only the folder's own files are kept.
  folderInput.addEventListener('change', () => {
    performance.mark('dumpscan-chosen');
    const own = Array.from(folderInput.files).filter(
        (file) => file.webkitRelativePath.split('/').length === 2);
    show(own.map((file) => ({ name: file.name, path: file.webkitRelativePath, file })));
    folderInput.value = '';
  });
  filesInput.addEventListener('change', () => {
    performance.mark('dumpscan-chosen');
    show(Array.from(filesInput.files).map((file) => ({ name: file.name, path: file.name, file })));
    filesInput.value = '';
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
  // files are taken as they are.
  async function droppedCandidates(dataTransfer) {
    const items = Array.from(dataTransfer.items).filter((item) => item.kind === 'file');
    const entries = items.map((item) => (item.webkitGetAsEntry ? item.webkitGetAsEntry() : null));
    const files = items.map((item) => item.getAsFile());
    const candidates = [];
    for (let i = 0; i < items.length; ++i) {
      const entry = entries[i];
      if (entry && entry.isDirectory) {
        for (const child of await folderEntries(entry)) {
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
    return candidates;
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
    // A folder takes a while to walk: a choice made meanwhile wins.
    const mine = ++run;
    const candidates = await droppedCandidates(event.dataTransfer);
    if (mine === run) show(candidates);
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

  $('save').addEventListener('click', () => {
    const url = URL.createObjectURL(new Blob([reportText], { type: 'text/plain;charset=utf-8' }));
    const link = document.createElement('a');
    link.href = url;
    link.download = 'report.txt';
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(url), 60000);
    actionStatus.textContent = 'Report saved as report.txt.';
  });

  $('choose-folder').disabled = $('choose-files').disabled = false;
  summary.textContent = 'No dumps chosen yet.';
})();
