// Choosing and dropping: what the user picks (a folder, files, a drop)
// becomes a choice, which is read and shown; a new choice takes over from
// the one before.
'use strict';

// Wires the choose buttons, the file inputs and drops on the page (`$`
// finds an element by id) to the engine's calls (`bridge`), the reading
// stage (`reading`, reading.js) and the report view (`view`, report.js).
function dumpscanChoosing(bridge, reading, view, $) {
  const folderInput = $('folder-input');
  const filesInput = $('files-input');
  const dropZone = $('drop-zone');
  const { isDumpName } = bridge;

  // The choice being read; null before the first.
  let current = null;

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
  function startChoice(text) {
    performance.mark('dumpscan-chosen');
    if (current) current.abort();
    current = new AbortController();
    view.clear(text);
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
      const built = view.newReport(dumps, new reading.DumpStore());
      view.reading(built);
      let lastShown = performance.now();
      const complete = await reading.readDumps(dumps, built.store, signal, (ready) => {
        view.describeUpTo(built, ready);
        const now = performance.now();
        if (now - lastShown > 100) {
          lastShown = now;
          view.showProgress(built);
        }
      }, (i) => view.showWaiting(built, dumps[i].path));
      if (complete) view.showReport(choice, built);
    } catch (error) {
      if (signal.aborted) return;
      const why = error && error.message ? error.message : error;
      view.fail(`The chosen files could not be read (${why}).`);
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
  // come as a file too): a web address there means it came from a page, and
  // a file: address given with no file is a link to a file, not the file.
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
    if (types.includes('Files')) return 'withheld';
    if (uris.length > 0) return 'other';
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
  // folder cannot be listed to its end. Stops listing (and gives what it
  // has) once `signal` stops the choice.
  async function listFolder(name, children, signal) {
    const own = [];
    let inner = 0;
    for await (const child of children) {
      if (signal.aborted) break;
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
  // found. A choice stopped meanwhile lists no further (what it gives is
  // not read).
  async function droppedChoice(taken, signal) {
    const candidates = [];
    const unlisted = [];
    let folders = 0;
    let subfolders = 0;
    for (const item of taken) {
      if (signal.aborted) break;
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
            listed = await listFolder(name, children(), signal);
            break;
          } catch (error) {
            // the next way of listing it, if there is one
          }
        }
        if (!listed) {
          unlisted.push(name);
          continue;
        }
        // One by one: spreading a folder's files into one call overflows
        // the stack past about 200,000 of them.
        for (const file of listed.own) candidates.push(file);
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
  // browser open or insert what was dropped instead: the window hears each
  // drag event first (the capture phase), before the report's text or a
  // details table under the pointer, and cancels the browser's own action
  // on dragenter as well as dragover and drop, so that the whole page is a
  // drop target. Only dropped files start a choice; where the browser withholds
  // them, the page says so beside the report's actions, and a report shown
  // or a choice being read stays as it is.
  const takeDrag = (event) => {
    event.preventDefault();
    if (event.dataTransfer) event.dataTransfer.dropEffect = 'copy';
    dropZone.classList.add('over');
  };
  window.addEventListener('dragenter', takeDrag, true);
  window.addEventListener('dragover', takeDrag, true);
  window.addEventListener('dragleave', (event) => {
    if (event.relatedTarget === null) dropZone.classList.remove('over');
  }, true);
  window.addEventListener('drop', (event) => {
    event.preventDefault();
    dropZone.classList.remove('over');
    const kind = dropKind(event.dataTransfer);
    if (kind === 'files') {
      const taken = takeDropped(event.dataTransfer);
      const signal = startChoice('Reading the dropped files…');
      readChoice(signal, () => droppedChoice(taken, signal));
    } else if (kind === 'withheld') {
      view.tell('This browser did not give the page the dropped files: ' +
                'choose them with the buttons above.');
    }
  }, true);

  $('choose-folder').addEventListener('click', () => folderInput.click());
  $('choose-files').addEventListener('click', () => filesInput.click());
  if (!('webkitdirectory' in folderInput)) $('choose-folder').hidden = true;
}
