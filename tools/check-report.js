// Renders a report.html in headless Chromium and checks it as a reader would
// see it, through the DevTools protocol over a pipe (--remote-debugging-pipe:
// no port, no WebSocket library, nothing but node and chromium):
//
//   node tools/check-report.js REPORT.html SCREENSHOT.png FIGURE,FIGURE,...
//
// Fails (exit 1, each fault on a line) on any console error, uncaught
// exception or browser log error (a refused load under the page's policy is
// one); on any request for something other than the page itself (the report
// must open offline); when the page does not mark every figure rendered
// within 60 s; when one of the named figures is missing, not rendered, or
// its SVG is empty; when a figure cannot be exported as SVG and PNG. Saves a
// screenshot of the whole page.
'use strict';
const {spawn} = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const {pathToFileURL} = require('url');

const [reportArg, screenshotArg, expectedArg] = process.argv.slice(2);
if (!reportArg || !screenshotArg) {
  console.error('usage: node check-report.js REPORT.html SCREENSHOT.png [FIGURE,FIGURE,...]');
  process.exit(2);
}
const reportUrl = pathToFileURL(path.resolve(reportArg)).href;
const expected = (expectedArg || '').split(',').filter(Boolean);
const browser = process.env.SEGMIX_CHROMIUM || '/usr/bin/chromium';
const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'segmix-report-'));
const faults = [];

const args = ['--headless', '--disable-gpu', '--disable-dev-shm-usage', '--remote-debugging-pipe', '--no-first-run',
  '--no-default-browser-check', '--hide-scrollbars', '--user-data-dir=' + profile];
// Chromium's sandbox refuses to run as root.
if (process.getuid && process.getuid() === 0) args.push('--no-sandbox');
args.push('about:blank');
const chrome = spawn(browser, args, {stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe']});
let chromeErr = '';
chrome.stderr.on('data', (d) => { chromeErr += d; });
chrome.on('error', (e) => finish('cannot start ' + browser + ': ' + e.message));

// The protocol: JSON messages ended by a NUL byte, ours on fd 3, its on fd 4.
let nextId = 1, buffer = '';
const waiting = new Map();
const toChrome = chrome.stdio[3], fromChrome = chrome.stdio[4];
function send(method, params = {}, sessionId) {
  const id = nextId++;
  const message = {id, method, params};
  if (sessionId) message.sessionId = sessionId;
  toChrome.write(JSON.stringify(message) + '\0');
  return new Promise((resolve, reject) => waiting.set(id, {resolve, reject, method}));
}
fromChrome.on('data', (chunk) => {
  buffer += chunk.toString('utf8');
  let end;
  while ((end = buffer.indexOf('\0')) >= 0) {
    const message = JSON.parse(buffer.slice(0, end));
    buffer = buffer.slice(end + 1);
    if (message.id && waiting.has(message.id)) {
      const w = waiting.get(message.id);
      waiting.delete(message.id);
      if (message.error) w.reject(new Error(w.method + ': ' + message.error.message));
      else w.resolve(message.result);
    } else if (message.method) {
      onEvent(message.method, message.params);
    }
  }
});

function onEvent(method, p) {
  if (method === 'Runtime.consoleAPICalled' && (p.type === 'error' || p.type === 'assert')) {
    faults.push('console ' + p.type + ': ' + p.args.map((a) => a.value || a.description).join(' '));
  } else if (method === 'Runtime.exceptionThrown') {
    const d = p.exceptionDetails;
    faults.push('uncaught exception: ' + ((d.exception && d.exception.description) || d.text));
  } else if (method === 'Log.entryAdded' && p.entry.level === 'error') {
    faults.push('browser log error: ' + p.entry.text + (p.entry.url ? ' (' + p.entry.url + ')' : ''));
  } else if (method === 'Network.requestWillBeSent') {
    const url = p.request.url;
    if (url !== reportUrl && !url.startsWith('data:') && !url.startsWith('blob:')) {
      faults.push('the page requested ' + url);
    }
  }
}

let finished = false;
function finish(fatal) {
  if (finished) return;
  finished = true;
  if (fatal) faults.push(fatal);
  let reported = false;
  const report = () => {
    if (reported) return;
    reported = true;
    // Chromium writes into its profile until it has exited.
    try { fs.rmSync(profile, {recursive: true, force: true}); } catch (e) { /* left in tmp */ }
    if (faults.length) {
      console.error('check-report.js: ' + reportArg + ':');
      for (const f of faults) console.error('  ' + f);
      if (fatal && chromeErr) console.error(chromeErr.slice(-2000));
      process.exitCode = 1;
    } else {
      console.log('check-report.js: ' + expected.length + ' figures rendered and exported, ' +
        'no console error, no request; screenshot ' + screenshotArg);
      process.exitCode = 0;
    }
    process.stdout.write('', () => process.exit());
  };
  if (chrome.exitCode !== null || chrome.signalCode !== null) return report();
  chrome.once('exit', report);
  setTimeout(() => { try { chrome.kill('SIGKILL'); } catch (e) { /* gone */ } report(); }, 5000).unref();
  try { chrome.kill(); } catch (e) { report(); }
}
setTimeout(() => finish('timed out after 120 s'), 120000).unref();

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function main() {
  const {targetId} = await send('Target.createTarget', {url: 'about:blank'});
  const {sessionId} = await send('Target.attachToTarget', {targetId, flatten: true});
  const s = (method, params) => send(method, params, sessionId);
  for (const domain of ['Runtime', 'Log', 'Network', 'Page']) await s(domain + '.enable');
  await s('Emulation.setDeviceMetricsOverride', {width: 1200, height: 900, deviceScaleFactor: 1, mobile: false});
  await s('Page.navigate', {url: reportUrl});
  const value = async (expression, awaitPromise = false) => {
    const r = await s('Runtime.evaluate', {expression, returnByValue: true, awaitPromise});
    if (r.exceptionDetails) throw new Error(expression + ': ' + r.exceptionDetails.text);
    return r.result.value;
  };

  let state = null;
  for (let waited = 0; waited < 60000; waited += 200) {
    state = await value("document.body ? document.body.getAttribute('data-figures') : null");
    if (state === 'rendered' || state === 'failed') break;
    await sleep(200);
  }
  if (state !== 'rendered') faults.push('the page did not mark its figures rendered (data-figures=' + state + ')');

  const figures = await value(`Array.from(document.querySelectorAll('[data-figure]')).map(function (el) {
    var svg = el.querySelector('svg');
    var box = svg ? svg.getBoundingClientRect() : {width: 0, height: 0};
    return {name: el.getAttribute('data-figure'), rendered: el.getAttribute('data-rendered') === 'true',
            marks: svg ? svg.querySelectorAll('path, line, text').length : 0,
            width: box.width, height: box.height};
  })`);
  const byName = new Map(figures.map((f) => [f.name, f]));
  for (const name of expected) {
    const f = byName.get(name);
    if (!f) faults.push('figure ' + name + ' is missing');
    else if (!f.rendered || f.marks === 0 || f.width === 0 || f.height === 0) {
      faults.push('figure ' + name + ' is not rendered: ' + JSON.stringify(f));
    }
  }
  // What the Save buttons do: each view as an SVG text and as a PNG image.
  const exports = await value(`Promise.all(window.segmixViews.map(function (v) {
    return Promise.all([v.toSVG(), v.toImageURL('png')]).then(function (r) {
      return [r[0].length, r[1].slice(0, 22), r[1].length];
    });
  }))`, true);
  exports.forEach((e, i) => {
    if (e[0] < 200 || e[1] !== 'data:image/png;base64,' || e[2] < 1000) {
      faults.push('figure ' + (figures[i] ? figures[i].name : i) + ' does not export: ' + JSON.stringify(e));
    }
  });
  const saveButtons = await value("document.querySelectorAll('.save button').length");
  if (saveButtons !== 2 * figures.length) {
    faults.push(saveButtons + ' save buttons for ' + figures.length + ' figures');
  }

  const height = await value('document.documentElement.scrollHeight');
  const shot = await s('Page.captureScreenshot', {format: 'png', captureBeyondViewport: true,
    clip: {x: 0, y: 0, width: 1200, height: Math.min(height, 16000), scale: 1}});
  fs.mkdirSync(path.dirname(path.resolve(screenshotArg)), {recursive: true});
  fs.writeFileSync(screenshotArg, Buffer.from(shot.data, 'base64'));
  await send('Browser.close').catch(() => {});
  finish();
}
main().catch((e) => finish(String((e && e.stack) || e)));
