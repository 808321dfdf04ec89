// A dump's details, opened from the report: its five records and its
// counter word field by field, the test each damaged record fails, one
// sentence that sums it up; and the report as a CSV table. Every value,
// check and distance is the engine's (dumpscan_facts, dumpscan_csv_row):
// this code only words and lays out what the engine found. Nothing here runs until a dump
// is opened or the CSV is asked for.
'use strict';

// Made once the engine has started, with the page's own ways into its
// buffers: `putName(name)` writes a name, `putBytes(bytes)` the bytes read
// and gives how many it took, `textAt(pointer, length)` reads a text back.
function dumpscanDetails(engine, { putName, putBytes, textAt }) {
  // The engine's fact numbers (web/engine.cpp, dumpscan_fact).
  const HAS_RECORD_BLOCK = 0, HAS_COUNTER_WORD = 1, BLOCK_DISTANCE = 2, RECORDS_AGREE = 3,
        RECORD_BLOCK_END = 4, COUNTER_WORD_END = 5;
  const VALUE = 10, STORED_CHECK = 11, VALUE_CHECK = 12, STEP_BYTE = 13, ODD_PARITY = 14,
        STEPS = 15, CHECKSUM_PASSES = 16, PARITY_PASSES = 17, PASSES = 18, DISTANCE = 19,
        LINE_OFFSET = 20, LINE_LENGTH = 21, RECORD_BYTES = 22;
  const COUNT = 30, WORD_STORED_CHECK = 31, COUNT_CHECK = 32, WORD_PASSES = 33, WORD_BYTES = 34;

  const fact = (field, record = 0) => engine._dumpscan_fact(field, record);

  // Byte values as the report shows them, and nibbles as one hex digit.
  const hex = (value, digits) => value.toString(16).toUpperCase().padStart(digits, '0');
  const grouped = (n) => n.toLocaleString('en');

  // What the engine found in a dump of which `bytes` arrived (at most the
  // engine's read size from its offset).
  function factsOf(bytes) {
    engine._dumpscan_facts(putBytes(bytes));
    const facts = {
      hasRecordBlock: fact(HAS_RECORD_BLOCK) === 1,
      hasCounterWord: fact(HAS_COUNTER_WORD) === 1,
      recordBlockEnd: fact(RECORD_BLOCK_END),
      counterWordEnd: fact(COUNTER_WORD_END),
    };
    if (facts.hasRecordBlock) {
      const records = [];
      for (let i = 0; i < 5; ++i) {
        records.push({
          bytes: [0, 1, 2, 3].map((k) => fact(RECORD_BYTES + k, i)),
          value: fact(VALUE, i),
          storedCheck: fact(STORED_CHECK, i),
          valueCheck: fact(VALUE_CHECK, i),
          stepByte: fact(STEP_BYTE, i),
          oddParity: fact(ODD_PARITY, i) === 1,
          steps: fact(STEPS, i),
          checksumPasses: fact(CHECKSUM_PASSES, i) === 1,
          parityPasses: fact(PARITY_PASSES, i) === 1,
          passes: fact(PASSES, i) === 1,
          distance: fact(DISTANCE, i),
          lineOffset: fact(LINE_OFFSET, i),
          lineLength: fact(LINE_LENGTH, i),
        });
      }
      facts.recordBlock = { records, distance: fact(BLOCK_DISTANCE), agree: fact(RECORDS_AGREE) === 1 };
    }
    if (facts.hasCounterWord) {
      facts.counterWord = {
        bytes: [0, 1, 2, 3].map((k) => fact(WORD_BYTES + k)),
        count: fact(COUNT),
        storedCheck: fact(WORD_STORED_CHECK),
        countCheck: fact(COUNT_CHECK),
        passes: fact(WORD_PASSES) === 1,
        kilometres: textAt(engine._dumpscan_kilometres_text(), engine._dumpscan_kilometres_length()),
      };
    }
    return facts;
  }

  // "1", "1 and 2", "1, 2 and 3".
  function listed(items) {
    if (items.length <= 1) return items.join('');
    return `${items.slice(0, -1).join(', ')} and ${items[items.length - 1]}`;
  }
  const recordsWord = (numbers) => `${numbers.length === 1 ? 'Record' : 'Records'} ${listed(numbers)}`;

  // The failing test of a record, in words.
  function recordProblems(record) {
    const problems = [];
    if (!record.checksumPasses) {
      problems.push(`check nibble ${hex(record.storedCheck, 1)}, its value gives ${hex(record.valueCheck, 1)}`);
    }
    if (!record.parityPasses) problems.push(`step byte ${hex(record.stepByte, 2)} has even parity`);
    return problems;
  }

  function counterProblem(word) {
    return `check nibble ${hex(word.storedCheck, 1)}, its count gives ${hex(word.countCheck, 1)}`;
  }

  // One paragraph that answers "what does this dump still say?".
  function sentence(facts, readable) {
    if (!readable) return 'The file could not be read, so neither form was checked.';
    const parts = [];
    if (!facts.hasRecordBlock) {
      parts.push(`The file ends before byte ${grouped(facts.recordBlockEnd)}: ` +
                 'it holds neither the record block nor the counter word.');
      return parts.join(' ');
    }
    const { records, distance, agree } = facts.recordBlock;
    const kinds = [
      ['fails its checksum', 'fail their checksums', (r) => !r.checksumPasses && r.parityPasses],
      ['fails its parity test', 'fail their parity tests', (r) => r.checksumPasses && !r.parityPasses],
      ['fails both its checksum and its parity test', 'fail both their checksums and their parity tests',
       (r) => !r.checksumPasses && !r.parityPasses],
    ];
    for (const [one, many, test] of kinds) {
      const numbers = records.map((r, i) => (test(r) ? i + 1 : 0)).filter((n) => n > 0);
      if (numbers.length > 0) parts.push(`${recordsWord(numbers)} ${numbers.length === 1 ? one : many}.`);
    }
    const passing = records.map((r, i) => ({ r, n: i + 1 })).filter(({ r }) => r.passes);
    const gives = passing.map(({ r }) => r.distance);
    const same = gives.every((d) => d === gives[0]);
    if (passing.length === 0) {
      parts.push('No record passes, so the record block gives no distance.');
    } else if (passing.length === 5) {
      parts.push(agree ? `All five records pass; each gives ${gives[0]} km.`
                       : `All five records pass but differ: they give ${listed(gives.map(String))} km; ` +
                         `the report takes their average, ${distance} km.`);
    } else {
      const who = `${recordsWord(passing.map(({ n }) => n))} ${passing.length === 1 ? 'passes' : 'pass'}`;
      parts.push(passing.length === 1 ? `${who}; it gives ${gives[0]} km.`
                 : same ? `${who}; each gives ${gives[0]} km.`
                        : `${who}; they give ${listed(gives.map(String))} km.`);
    }
    if (!facts.hasCounterWord) {
      parts.push(`The file ends before byte ${grouped(facts.counterWordEnd)}, so it has no counter word.`);
    } else if (facts.counterWord.passes) {
      parts.push(`The counter word passes: ${facts.counterWord.kilometres} km.`);
    } else {
      parts.push(`The counter word fails its checksum (${counterProblem(facts.counterWord)}); ` +
                 `its count would stand for ${facts.counterWord.kilometres} km.`);
    }
    return parts.join(' ');
  }

  function cell(row, tag, content, className) {
    const element = document.createElement(tag);
    element.textContent = content;
    if (className) element.className = className;
    if (tag === 'th') element.scope = 'row';
    row.append(element);
    return element;
  }

  // The table of a dump's records and counter word.
  function table(facts) {
    const element = document.createElement('table');
    const head = element.createTHead().insertRow();
    for (const title of ['Form', 'Bytes', 'Value', 'Check nibble: stored, computed',
                         'Step byte, parity', 'Steps', 'Gives', 'Result']) {
      const th = document.createElement('th');
      th.scope = 'col';
      th.textContent = title;
      head.append(th);
    }
    const body = element.createTBody();
    facts.recordBlock.records.forEach((record, i) => {
      const row = body.insertRow();
      row.className = record.passes ? 'passes' : 'fails';
      cell(row, 'th', `Record ${i + 1}`);
      cell(row, 'td', record.bytes.map((b) => hex(b, 2)).join(' '), 'bytes');
      cell(row, 'td', String(record.value));
      cell(row, 'td', `${hex(record.storedCheck, 1)}, ${hex(record.valueCheck, 1)}`,
           record.checksumPasses ? '' : 'bad');
      cell(row, 'td', `${hex(record.stepByte, 2)}, ${record.oddParity ? 'odd' : 'even'}`,
           record.parityPasses ? '' : 'bad');
      cell(row, 'td', String(record.steps));
      cell(row, 'td', record.passes ? `${record.distance} km` : `${record.distance} km (untrusted)`);
      const problems = recordProblems(record);
      cell(row, 'td', problems.length === 0 ? 'passes' : `fails: ${problems.join('; ')}`);
    });
    if (facts.hasCounterWord) {
      const word = facts.counterWord;
      const row = body.insertRow();
      row.className = word.passes ? 'passes' : 'fails';
      cell(row, 'th', 'Counter word');
      cell(row, 'td', word.bytes.map((b) => hex(b, 2)).join(' '), 'bytes');
      cell(row, 'td', String(word.count));
      cell(row, 'td', `${hex(word.storedCheck, 1)}, ${hex(word.countCheck, 1)}`, word.passes ? '' : 'bad');
      cell(row, 'td', '—');
      cell(row, 'td', '—');
      cell(row, 'td', word.passes ? `${word.kilometres} km` : `${word.kilometres} km (untrusted)`);
      cell(row, 'td', word.passes ? 'passes' : `fails: ${counterProblem(word)}`);
    }
    return element;
  }

  // The panel of a dump's details.
  function panel(name, bytes, readable, id) {
    const facts = factsOf(bytes);
    const element = document.createElement('div');
    element.className = 'details';
    element.id = id;
    element.setAttribute('role', 'group');
    element.setAttribute('aria-label', `Details of ${name}`);
    const summary = document.createElement('p');
    summary.className = 'details-sentence';
    summary.textContent = sentence(facts, readable);
    element.append(summary);
    if (readable && facts.hasRecordBlock) {
      const box = document.createElement('div');
      box.className = 'table-box';
      // The table may scroll sideways inside its box on a narrow screen:
      // the box takes the keyboard's focus for that.
      box.tabIndex = 0;
      box.setAttribute('role', 'region');
      box.setAttribute('aria-label', `Records and counter word of ${name}`);
      box.append(table(facts));
      element.append(box);
    }
    return { element, facts };
  }

  // The report as CSV: a byte-order mark, the header and a row per dump
  // ({ name, bytes }), rows ended with CR LF, all from the engine.
  function csvText(dumps) {
    const headerLength = engine._dumpscan_csv_header();
    const parts = ['\uFEFF', textAt(engine._dumpscan_csv_text(), headerLength)];
    for (const dump of dumps) {
      putName(dump.name);
      const got = putBytes(dump.bytes);
      const length = engine._dumpscan_csv_row(dump.name.length, got);
      parts.push(textAt(engine._dumpscan_csv_text(), length));
    }
    return parts.join('');
  }

  return { factsOf, sentence, panel, csvText };
}
