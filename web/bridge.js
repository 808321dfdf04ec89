// The bridge to the engine (dumpscan's C++ compiled to WebAssembly): it is
// started here, and the page reaches it only through these calls. The name
// rule, the name display, the decoding and every text of the report come
// from the engine; this code only moves names, bytes and texts across.
'use strict';

// Starts the engine. Its WebAssembly is compiled in the background from the
// bytes the page holds (DUMPSCAN_WASM, put there when the page is made): no
// fetch, and no compile on the main thread, which browsers refuse or limit
// for modules this size. Resolves to the module; rejects when the browser
// cannot run it.
function dumpscanStartEngine() {
  return new Promise((resolve, reject) => {
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
}

// The engine's calls as the page uses them, over the started `engine`.
function dumpscanBridge(engine) {
  const readOffset = engine._dumpscan_read_offset();
  const readSize = engine._dumpscan_read_size();
  const readEnd = readOffset + readSize;
  const bytesBuffer = engine._dumpscan_bytes_buffer();
  const layout = engine._dumpscan_block_layout() >> 2;

  // Writes a name (UTF-16 code units, as strings hold them) where the
  // engine takes it.
  function putName(name) {
    const at = engine._dumpscan_name_buffer(name.length) >> 1;
    const heap = engine.HEAPU16;
    for (let i = 0; i < name.length; ++i) heap[at + i] = name.charCodeAt(i);
  }

  // Writes the bytes read at the dump offset (at most readSize) where the
  // engine takes them; gives how many it took.
  function putBytes(bytes) {
    const got = Math.min(bytes.length, readSize);
    engine.HEAPU8.set(bytes.subarray(0, got), bytesBuffer);
    return got;
  }

  // The engine's UTF-16 text of `length` code units at `pointer`.
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
  function describe(name, bytes) {
    putName(name);
    const lineCount = engine._dumpscan_describe(name.length, putBytes(bytes));
    const words = engine.HEAPU32;
    const text = textAt(words[layout], words[layout + 1]);
    const lines = new Array(lineCount);
    for (let i = 0, at = layout + 2; i < lineCount; ++i, at += 3) {
      const from = words[at];
      lines[i] = { text: text.slice(from, from + words[at + 1]), verdict: words[at + 2] };
    }
    return lines;
  }

  return { readOffset, readSize, readEnd, putName, putBytes, textAt, isDumpName, displayName,
           describe };
}
