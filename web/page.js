// The page's start: the engine is started, then each stage is made with
// what it needs. The page picks files (choosing.js), reads the bytes at the
// dump offset (reading.js), hands them to the engine (bridge.js) and lays
// out what the engine gives (report.js, details.js).
'use strict';

(async () => {
  const $ = (id) => document.getElementById(id);

  let engine;
  try {
    engine = await dumpscanStartEngine();
  } catch (error) {
    $('summary').textContent = 'This browser could not start the page’s WebAssembly engine.';
    return;
  }

  const bridge = dumpscanBridge(engine);
  const details = dumpscanDetails(engine, bridge);
  const view = dumpscanReportView(bridge, details, $);
  dumpscanChoosing(bridge, dumpscanReading(bridge), view, $);

  $('choose-folder').disabled = $('choose-files').disabled = false;
  $('summary').textContent = 'No dumps chosen yet.';
})();
