// A dump's details, opened from the report: its five records and its
// counter word field by field, the test each damaged record fails, one
// sentence that sums it up; and the report as a CSV table. Every word,
// value, check and distance is the engine's (dumpscan_details,
// dumpscan_csv_row): this code only lays out what the engine gives. Nothing
// here runs until a dump is opened or the CSV is asked for.
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
      box.setAttribute('role', 'region');
      box.setAttribute('aria-label', `Records and counter word of ${dump.name}`);
      const tableElement = table(words);
      box.append(tableElement);
      element.append(box);
      // Should the table ever be wider than its box (a large text size),
      // it scrolls sideways inside it: the box then takes the keyboard's
      // focus for that, and only then, so that one press of Tab still
      // leaves the report while the details fit.
      const scrolls = () => {
        if (box.scrollWidth > box.clientWidth) box.tabIndex = 0;
        else box.removeAttribute('tabindex');
      };
      const watcher = new ResizeObserver(scrolls);
      watcher.observe(box);
      watcher.observe(tableElement);
    }
    return { element, marks: words.marks };
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

  return { panel, csvText };
}
