// Firefox (Debian's firefox-esr) driven over WebDriver BiDi with
// puppeteer-core, for browser_support.py beside it: one command a line on
// standard input, as JSON, one answer a line on standard output
// ({"value": ...} or {"error": "..."}).
//
//   DUMPSCAN_NODE_MODULES=DIR node firefox_bridge.cjs
//
// Commands: launch {profile, downloads, dark, headless (true unless false)}, goto {url}, eval {script, args}
// (a function body with `arguments`, as selenium's execute_script takes;
// its promise is awaited), files {selector, paths}, folder {selector,
// field, folder, seconds}, click {selector}, press {selector, key} (the
// element focused, then a key pressed on the keyboard), keys {keys}, viewport {width,
// height}, requests {}, quit {}.
'use strict';

const path = require('path');
const readline = require('readline');

const puppeteer = require(path.join(process.env.DUMPSCAN_NODE_MODULES, 'puppeteer-core'));

let browser;
let page;
let requests = [];

// Runs `expression` in Firefox's own (chrome) window, with its privileges:
// what a test needs of the browser that BiDi does not offer.
async function inChrome(expression) {
  const tree = await browser.connection.send('browsingContext.getTree', { 'moz:scope': 'chrome' });
  const context = tree.result.contexts[0].context;
  const answer = await browser.connection.send('script.evaluate', {
    expression, target: { context }, awaitPromise: true });
  if (answer.result.type === 'exception') {
    throw new Error(`in Firefox's window: ${answer.result.exceptionDetails.text}`);
  }
  return answer.result.result.value;
}

// BiDi's input.setFiles refuses a folder. Instead the browser's file
// picker is replaced with a stand-in that answers the next request with
// `folder`, and the page's own button is clicked, as a person would.
function standInPicker(folder) {
  return `(() => {
    const folder = Cc['@mozilla.org/file/local;1'].createInstance(Ci.nsIFile);
    folder.initWithPath(${JSON.stringify(folder)});
    if (window.dumpscanPicker) {  // already in place: the next folder
      window.dumpscanPicker.folder = folder;
      return true;
    }
    const picker = window.dumpscanPicker = {
      folder,
      QueryInterface: ChromeUtils.generateQI(['nsIFilePicker']),
      init() {}, appendFilters() {}, appendFilter() {}, appendRawFilter() {},
      defaultString: '', defaultExtension: '', filterIndex: 0, displayDirectory: null,
      displaySpecialDirectory: '', addToRecentDocs: false, okButtonLabel: '',
      mode: Ci.nsIFilePicker.modeGetFolder,
      get file() { return this.folder; },
      get fileURL() { return Services.io.newFileURI(this.folder); },
      get files() { return [this.folder].values(); },
      get domFileOrDirectory() { return null; },
      get domFileOrDirectoryEnumerator() { return [].values(); },
      isModeSupported() { return Promise.resolve(true); },
      open(callback) {
        Services.tm.dispatchToMainThread(() => callback.done(Ci.nsIFilePicker.returnOK));
      },
      close() {},
    };
    Components.manager.QueryInterface(Ci.nsIComponentRegistrar).registerFactory(
        Components.ID('{6a3b5f2e-1d7c-4a8e-9b0f-2c4d6e8f0a13}'), 'stand-in file picker',
        '@mozilla.org/filepicker;1', { createInstance: (iid) => picker.QueryInterface(iid) });
    return true;
  })()`;
}

// Before it reads a folder, Firefox asks "Are you sure you want to upload
// all files from ...?" (its accept button enabled after a second; not again
// for a folder it asked about before); BiDi does not see that prompt, so it
// is accepted here. Gives its text, or null while there is none.
const acceptUploadPrompt = `(() => {
  for (const win of Services.wm.getEnumerator(null)) {
    const documents = [win.document];
    for (const frame of win.document.querySelectorAll('browser, iframe')) {
      try { if (frame.contentDocument) documents.push(frame.contentDocument); } catch (e) {}
    }
    for (const doc of documents) {
      const dialog = doc.getElementById && doc.getElementById('commonDialog');
      if (!dialog) continue;
      try {
        const button = dialog.getButton('accept');
        if (button && !button.disabled) {
          const text = doc.getElementById('infoBody')?.textContent;
          dialog.acceptDialog();
          return text;
        }
      } catch (e) {}  // not yet set up
    }
  }
  return null;
})()`;

const commands = {
  async launch({ profile, downloads, dark, headless = true }) {
    browser = await puppeteer.launch({
      browser: 'firefox', executablePath: '/usr/bin/firefox-esr', headless,
      userDataDir: profile, args: ['--remote-allow-system-access'], protocolTimeout: 120000,
      extraPrefsFirefox: {
        'browser.download.dir': downloads,
        'browser.download.folderList': 2,
        'browser.download.useDownloadDir': true,
        'browser.download.always_ask_before_handling_new_types': false,
        'browser.download.start_downloads_in_tmp_dir': false,
        // navigator.clipboard.readText without the paste menu, for the test.
        'dom.events.testing.asyncClipboard': true,
        // The prompt's accept button at once, not after a second in a
        // focused window: a tab in a headless window may never be focused.
        'security.dialog_enable_delay': 0,
        // The colour scheme pages see: 0 dark, 1 light.
        'layout.css.prefers-color-scheme.content-override': dark ? 0 : 1,
      },
    });
    return (await browser.version());
  },
  // Each page in a tab of its own: Firefox did not always let a page that
  // was loaded again in the same tab choose a folder it had chosen before.
  async goto({ url }) {
    const old = page;
    page = await browser.newPage();
    page.setDefaultTimeout(120000);
    page.on('request', (request) => requests.push(request.url()));
    // Whatever the page's policy blocks is noted before the page's own code runs.
    await page.evaluateOnNewDocument(() => {
      window.policyViolations = [];
      document.addEventListener('securitypolicyviolation', (event) => {
        window.policyViolations.push(event.violatedDirective + ' ' + event.blockedURI);
      });
    });
    if (old) await old.close();
    await page.goto(url);
  },
  async eval({ script, args }) {
    return page.evaluate(`(function () { ${script}\n}).apply(null, ${JSON.stringify(args)})`);
  },
  async files({ selector, paths }) {
    await (await page.$(selector)).uploadFile(...paths);
  },
  async folder({ selector, field, folder, seconds }) {
    await inChrome(standInPicker(folder));
    await page.evaluate((id) => {
      window.folderChosen = false;
      document.getElementById(id).addEventListener('change', () => { window.folderChosen = true; },
                                                    { once: true });
    }, field);
    await page.bringToFront();
    await page.click(selector);
    // Until the field has the folder: the prompt, when Firefox shows one, is accepted.
    let prompt = null;
    const deadline = Date.now() + seconds * 1000;
    while (!(await page.evaluate(() => window.folderChosen))) {
      if (Date.now() > deadline) throw new Error(`the folder was not chosen within ${seconds} s`);
      prompt = (await inChrome(acceptUploadPrompt)) || prompt;
      await new Promise((resolve) => setTimeout(resolve, 50));
    }
    return prompt;
  },
  async click({ selector }) {
    await page.click(selector);
  },
  async viewport({ width, height }) {
    await page.setViewport({ width, height });
  },
  async press({ selector, key }) {
    await page.focus(selector);
    await page.keyboard.press(key);
  },
  // Keys pressed in turn into the focused element; 'Shift+F' holds Shift.
  async keys({ keys }) {
    for (const key of keys) {
      const [modifier, pressed] = key.length > 1 && key.includes('+') ? key.split('+') : [null, key];
      if (modifier) await page.keyboard.down(modifier);
      await page.keyboard.press(pressed);
      if (modifier) await page.keyboard.up(modifier);
    }
  },
  async requests() {
    const urls = requests;
    requests = [];
    return urls;
  },
  async quit() {
    if (browser) await browser.close();
    process.exit(0);
  },
};

const lines = readline.createInterface({ input: process.stdin });
lines.on('line', async (line) => {
  const { command, ...params } = JSON.parse(line);
  let answer;
  try {
    const value = await commands[command](params);
    answer = { value: value === undefined ? null : value };
  } catch (error) {
    answer = { error: String(error && error.stack ? error.stack : error) };
  }
  process.stdout.write(JSON.stringify(answer) + '\n');
});
lines.on('close', async () => {
  if (browser) await browser.close().catch(() => {});
  process.exit(0);
});
