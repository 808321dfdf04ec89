// The report view: the engine's blocks of lines for the dumps read so far,
// the summary above them, and Copy, Save and Save as CSV.
'use strict';

// The report view over the page's elements (`$` finds one by id), with the
// engine's calls (`bridge`) and a dump's details (`details`, details.js).
function dumpscanReportView(bridge, details, $) {
  const summary = $('summary');
  const report = $('report');
  const actionStatus = $('action-status');
  const progress = $('progress');
  const notice = $('notice');

  // The report on screen: its dumps (name, path) and their bytes
  // (a DumpStore), by their place in the report; null while there is none.
  let shown = null;
  let reportText = '';

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

  // The report of a choice as it is built: the engine's blocks for the
  // dumps read so far, in name order, as text and as elements.
  function newReport(dumps, store) {
    return { dumps, store, described: 0, failed: 0, unreadable: 0,
             lines: [], fragment: document.createDocumentFragment() };
  }

  // Describes the dumps from the last described up to `ready`, which have
  // all arrived.
  function describeUpTo(built, ready) {
    while (built.described < ready) {
      const i = built.described++;
      if (!built.store.readable(i)) ++built.unreadable;
      const block = bridge.describe(built.dumps[i].name, built.store.arrived(i));
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

  // Dump `i` of the report on screen, as its details and the CSV take it:
  // its name, the bytes that arrived and whether its file was read.
  function shownDump(i) {
    return { name: shown.dumps[i].name, bytes: shown.store.arrived(i),
             readable: shown.store.readable(i) };
  }

  // A dump's details and the report as CSV (details.js): opened from the
  // button before each dump's name, worked out only then.
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

  // The report and its actions gone, and `text` in the summary: a new
  // choice has begun.
  function clear(text) {
    shown = null;
    reportText = '';
    report.replaceChildren();
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
    report.replaceChildren();
    reportText = '';
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

  function showReport(choice, built) {
    report.replaceChildren(built.fragment);
    reportText = built.lines.map((line) => line + '\r\n').join('');
    shown = { dumps: built.dumps, store: built.store };
    built.lines = built.fragment = null;
    setActions(built.dumps.length > 0);
    const { text, note } = summaryOf(choice, built);
    finish(text, note);
  }

  // ---- Copying and saving ----

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

  return { newReport, describeUpTo, reading, showProgress, showWaiting, showReport, clear, fail,
           finish, tell };
}
