// The page's reading stage (web/reading.js) run by node, as the page runs
// it, on stand-ins for what a browser gives a page for a chosen or dropped
// file (a Blob, a file handle, a file entry): a stopped choice gets no
// file's bytes read, and whatever the callers' code throws ends the reading
// with that error instead of leaving it waiting for ever.
//   node page_reading_test.cjs READING_JS
'use strict';

const events = require('events');
const fs = require('fs');
const vm = require('vm');

// A page's signal has a listener per read under way (32); node warns past 10.
events.setMaxListeners(100);
// A throw the reading lets escape is a failure of the case it ends, which
// then finds the reading still waiting.
for (const escaped of ['unhandledRejection', 'uncaughtException']) {
  process.on(escaped, (error) => console.log(`escaped: ${error}`));
}

vm.runInThisContext(`${fs.readFileSync(process.argv[2], 'utf8')}\n;globalThis.reading = dumpscanReading;`);
const { DumpStore, readDumps } = reading({ readOffset: 1908, readSize: 24, readEnd: 1932 });

// Resolves to what `promise` gives, or to 'still waiting' after `ms`.
function within(promise, ms) {
  let timer;
  const late = new Promise((resolve) => { timer = setTimeout(() => resolve('still waiting'), ms); });
  return Promise.race([promise.then((value) => ({ value }), (error) => ({ error })), late])
    .finally(() => clearTimeout(timer));
}

// A file whose stream notes that it was read.
function notedFile(noted, size = 1932) {
  const blob = new Blob([new Uint8Array(size).fill(7)]);
  return { stream() { noted.read = true; return blob.stream(); } };
}

// A source whose file the browser gives only when the test says: through a
// handle (getFile) or an entry (file(success, failure)).
function lateSource(kind) {
  let give;
  const file = new Promise((resolve) => { give = resolve; });
  const source = kind === 'handle' ? { getFile: () => file }
                                   : { file: (success) => { file.then(success); } };
  return { source, give };
}

const cases = {
  async 'the bytes at the dump offset arrive'() {
    const store = new DumpStore();
    const dumps = [{ source: new Blob([new Uint8Array(1932).fill(9)]) },
                   { source: new Blob([new Uint8Array(1920).fill(9)]) }];
    const readies = [];
    const got = await within(readDumps(dumps, store, new AbortController().signal,
                                       (ready) => readies.push(ready), () => {}), 5000);
    if (got.value !== true) return `gave ${JSON.stringify(got)}`;
    if (store.arrived(0).length !== 24 || store.arrived(1).length !== 12) {
      return `arrived ${store.arrived(0).length} and ${store.arrived(1).length} bytes`;
    }
    return readies.at(-1) === 2 ? null : `told ${readies}`;
  },

  async 'a file got from a handle after the choice stopped is not read'() {
    return stoppedWhileGettingTheFile('handle');
  },

  async 'a file got from an entry after the choice stopped is not read'() {
    return stoppedWhileGettingTheFile('entry');
  },

  async 'a throw while describing ends the reading with it'() {
    const dumps = Array.from({ length: 100 }, () => ({ source: new Blob([new Uint8Array(1932)]) }));
    const got = await within(readDumps(dumps, new DumpStore(), new AbortController().signal,
                                       () => { throw new Error('describing failed'); }, () => {}),
                             5000);
    return got.error && got.error.message === 'describing failed' ? null : `gave ${JSON.stringify(got)}`;
  },

  async 'a throw while naming the file waited for ends the reading with it'() {
    const { source } = lateSource('handle');
    const got = await within(readDumps([{ source }], new DumpStore(), new AbortController().signal,
                                       () => {}, () => { throw new Error('naming failed'); }),
                             5000);
    return got.error && got.error.message === 'naming failed' ? null : `gave ${JSON.stringify(got)}`;
  },
};

async function stoppedWhileGettingTheFile(kind) {
  const { source, give } = lateSource(kind);
  const choice = new AbortController();
  const reading = readDumps([{ source }], new DumpStore(), choice.signal, () => {}, () => {});
  await new Promise((resolve) => setTimeout(resolve, 20));
  choice.abort();
  const noted = {};
  give(notedFile(noted));
  const got = await within(reading, 1000);
  await new Promise((resolve) => setTimeout(resolve, 50));
  if (got.value !== false) return `gave ${JSON.stringify(got)}`;
  return noted.read ? 'the file was read after the choice stopped' : null;
}

(async () => {
  let failed = 0;
  for (const [name, run] of Object.entries(cases)) {
    const why = await run();
    console.log(`${why ? 'FAIL' : 'ok  '} ${name}${why ? `: ${why}` : ''}`);
    if (why) ++failed;
  }
  process.exit(failed ? 1 : 0);
})();
