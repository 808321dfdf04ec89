// A dump's details, opened from the report: its five records and its
// counter word field by field, the test each damaged record fails, one
// sentence that sums it up, and the damaged records' bytes marked in the
// report line; and the report as a CSV table. Every word, value, check and
// distance is the engine's (dumpscan_details, dumpscan_csv_row): this code
// only lays out what the engine gives. Nothing here runs until a dump is
// opened or the CSV is asked for.
'use strict';

// Made once the engine has started, with the page's own ways into its
// buffers: `putName(name)` writes a name, `putBytes(bytes)` the bytes read
// and gives how many it took, `textAt(pointer, length)` reads a text back.
function dumpscanDetails(engine, { putName, putBytes, textAt }) {
  // The details of `dump` ({ name, bytes, readable }) as the engine words
  // them, read from its details layout (web/engine.cpp, dumpscan_details)
  // in one go: the sentence, the column titles, the rows (label, whether
  // it passes, and each cell's text and whether it is bad) and the marks.
  function wordsOf(dump) {
    const words = engine.HEAPU32;
    let at = engine._dumpscan_details(putBytes(dump.bytes), dump.readable ? 1 : 0) >> 2;
    const text = textAt(words[at], words[at + 1]);
    at += 2;
    const next = () => words[at++];
    const part = () => {
      const offset = next();
      return text.slice(offset, offset + next());
    };
    const sentence = part();
    const rowCount = next();
    const markCount = next();
    const titles = Array.from({ length: 8 }, part);
    const rows = Array.from({ length: rowCount }, () => {
      const passes = next() === 1;
      const label = part();
      const cells = Array.from({ length: 7 }, () => ({ text: part(), bad: next() === 1 }));
      return { passes, label, cells };
    });
    const marks = Array.from({ length: markCount }, () => ({ offset: next(), length: next(), title: part() }));
    return { sentence, titles, rows, marks };
  }

  // The table of a dump's records and counter word. Each cell carries its
  // column's title (data-label): on a narrow screen the page's style shows
  // each row as a card of "title: value" lines. The roles are spelt out
  // because browsers drop a table's own when its style is not a table's.
  function table({ titles, rows }) {
    const element = document.createElement('table');
    element.setAttribute('role', 'table');
    const head = element.createTHead();
    head.setAttribute('role', 'rowgroup');
    const headRow = head.insertRow();
    headRow.setAttribute('role', 'row');
    for (const title of titles) {
      const th = document.createElement('th');
      th.scope = 'col';
      th.setAttribute('role', 'columnheader');
      th.textContent = title;
      headRow.append(th);
    }
    const body = element.createTBody();
    body.setAttribute('role', 'rowgroup');
    for (const row of rows) {
      const tr = body.insertRow();
      tr.setAttribute('role', 'row');
      tr.className = row.passes ? 'passes' : 'fails';
      const th = document.createElement('th');
      th.scope = 'row';
      th.setAttribute('role', 'rowheader');
      th.textContent = row.label;
      tr.append(th);
      row.cells.forEach((cell, k) => {
        const td = document.createElement('td');
        td.setAttribute('role', 'cell');
        td.dataset.label = titles[k + 1];
        td.textContent = cell.text;
        td.className = [k === 0 ? 'bytes' : '', cell.bad ? 'bad' : ''].join(' ').trim();
        tr.append(td);
      });
    }
    return element;
  }

  // The panel of the details of `dump` ({ name, bytes, readable }, as the
  // report's shownDump gives it) with the element id `id`: `element` is the
  // panel, `marks` the damaged records' bytes in the record block's report
  // line ({ offset, length, title }; empty when none).
  function panel(dump, id) {
    const words = wordsOf(dump);
    const element = document.createElement('div');
    element.className = 'details';
    element.id = id;
    element.setAttribute('role', 'group');
    element.setAttribute('aria-label', `Details of ${dump.name}`);
    const summary = document.createElement('p');
    summary.className = 'details-sentence';
    summary.textContent = words.sentence;
    element.append(summary);
    if (words.rows.length > 0) {
      const box = document.createElement('div');
      box.className = 'table-box';
      // Should the table ever be wider than its box (a large text size),
      // it scrolls sideways inside it: the box takes the keyboard's focus
      // for that.
      box.tabIndex = 0;
      box.setAttribute('role', 'region');
      box.setAttribute('aria-label', `Records and counter word of ${dump.name}`);
      box.append(table(words));
      element.append(box);
    }
    return { element, marks: words.marks };
  }

  // The damaged records' bytes marked in the report line (its text stays
  // as it is), and the marks taken away again.
  function markRecords(line, marks) {
    if (marks.length === 0) return;
    const lineText = line.textContent;
    const parts = [];
    let at = 0;
    for (const { offset, length, title } of marks) {
      parts.push(lineText.slice(at, offset));
      const mark = document.createElement('mark');
      mark.className = 'damaged';
      mark.title = title;
      mark.textContent = lineText.slice(offset, offset + length);
      parts.push(mark);
      at = offset + length;
    }
    parts.push(lineText.slice(at));
    line.replaceChildren(...parts);
  }
  const unmarkRecords = (line) => { line.textContent = line.textContent; };

  // The button before each dump's name that opens its details, which
  // knows the dump's place in the report. Every dump gets one while the
  // report is built, so it is a copy of a button made once: building each
  // anew took twice as long in WebKit, the most of the report's own cost.
  const openerModel = document.createElement('button');
  openerModel.type = 'button';
  openerModel.className = 'opener';
  openerModel.setAttribute('aria-expanded', 'false');
  function opener(index, name) {
    const button = openerModel.cloneNode(false);
    button.dumpIndex = index;
    button.setAttribute('aria-label', `Details of ${name}`);
    return button;
  }

  // Opens or closes the details of the dump whose opener is `button`;
  // `dump` has its name, the bytes that arrived and whether it was read.
  // The dump's lines follow the button up to the next opener: the first
  // line with a verdict is the record block's (a file that holds the
  // counter word holds the record block before it).
  function toggle(button, dump) {
    const id = `details-${button.dumpIndex}`;
    let end = button.nextSibling;
    let line = null;
    while (end && !(end.classList && (end.classList.contains('opener') || end.classList.contains('details')))) {
      if (!line && end.nodeType === Node.ELEMENT_NODE &&
          (end.classList.contains('ok') || end.classList.contains('failed'))) line = end;
      end = end.nextSibling;
    }
    if (button.getAttribute('aria-expanded') === 'true') {
      if (end && end.id === id) end.remove();
      if (line) unmarkRecords(line);
      button.setAttribute('aria-expanded', 'false');
      button.removeAttribute('aria-controls');
      return;
    }
    const { element, marks } = panel(dump, id);
    button.parentNode.insertBefore(element, end);
    if (line) markRecords(line, marks);
    button.setAttribute('aria-expanded', 'true');
    button.setAttribute('aria-controls', id);
  }

  // Opens and closes details from anywhere in the report; `dumpAt` gives
  // the dump of an opener's index.
  function watch(report, dumpAt) {
    report.addEventListener('click', (event) => {
      const button = event.target.closest && event.target.closest('button.opener');
      if (button && report.contains(button)) toggle(button, dumpAt(button.dumpIndex));
    });
  }

  // The report as CSV: a byte-order mark, the header and a row per dump
  // ({ name, bytes, readable }), rows ended with CR LF, all from the engine.
  function csvText(dumps) {
    const headerLength = engine._dumpscan_csv_header();
    const parts = ['\uFEFF', textAt(engine._dumpscan_csv_text(), headerLength)];
    for (const dump of dumps) {
      putName(dump.name);
      const got = putBytes(dump.bytes);
      const length = engine._dumpscan_csv_row(dump.name.length, got, dump.readable ? 1 : 0);
      parts.push(textAt(engine._dumpscan_csv_text(), length));
    }
    return parts.join('');
  }

  return { panel, opener, toggle, watch, csvText };
}
