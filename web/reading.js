// Reading: the bytes at the dump offset of every chosen dump, a few reads
// at a time, into a flat store kept with the report.
'use strict';

// The reading stage over the engine's read range (`readOffset`, `readSize`,
// `readEnd` from the bridge): gives the store and the reader of a choice.
function dumpscanReading({ readOffset, readSize, readEnd }) {
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
  // thousand dumps take a third of the time.) A stopped choice reads on no
  // further, wherever it is stopped: getting the file from a handle or an
  // entry, or streaming it (the stream is cancelled, so a read that never
  // comes back holds nothing). What a stopped read gives is not used.
  async function readDump(source, signal) {
    if (signal.aborted) return null;
    const head = new Uint8Array(readEnd);
    let got = 0;
    let reader = null;
    const cancel = () => {
      if (reader) reader.cancel().catch(() => {});
    };
    signal.addEventListener('abort', cancel);
    try {
      const file = await fileOf(source);
      if (signal.aborted) return null;
      reader = file.stream().getReader();
      while (got < readEnd) {
        const { done, value } = await reader.read();
        if (done || signal.aborted) break;
        const take = Math.min(value.length, readEnd - got);
        head.set(value.subarray(0, take), got);
        got += take;
      }
    } catch (error) {
      return null;
    } finally {
      signal.removeEventListener('abort', cancel);
      cancel();
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
  // when all have arrived, false at once when `signal` stops the choice;
  // fails with what `onReady` or `onSlow` throws, and reads no more.
  function readDumps(dumps, store, signal, onReady, onSlow) {
    return new Promise((resolve, reject) => {
      const n = dumps.length;
      const arrived = new Uint8Array(AHEAD);      // by i % AHEAD, for next - ready <= AHEAD
      const startedAt = new Float64Array(AHEAD);
      let next = 0;
      let ready = 0;
      let running = 0;
      let ended = false;
      const end = (complete, error) => {
        if (ended) return;
        ended = true;
        clearInterval(watch);
        signal.removeEventListener('abort', stopped);
        if (error === undefined) resolve(complete);
        else reject(error);
      };
      // What the caller is told runs here: whatever it throws ends the
      // reading with that error, never leaves it waiting for ever.
      const told = (tell) => {
        try {
          tell();
        } catch (error) {
          end(false, error);
        }
      };
      const watch = setInterval(() => told(() => {
        if (ready < next && performance.now() - startedAt[ready % AHEAD] > SLOW_MS) onSlow(ready);
      }), 500);
      const stopped = () => end(false);
      signal.addEventListener('abort', stopped);

      function arrive(i, bytes) {
        --running;
        if (ended) return;
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
        while (!ended && running < READERS && next < n && next < ready + AHEAD) {
          const i = next++;
          ++running;
          startedAt[i % AHEAD] = performance.now();
          readDump(dumps[i].source, signal).then((bytes) => told(() => arrive(i, bytes)));
        }
      }
      if (n === 0) end(true);
      else startMore();
    });
  }

  return { DumpStore, readDumps };
}
