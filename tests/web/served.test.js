// The page as served: `kamora --server` answers "/" with the page the build wrote (the
// one the other browser tests load), every part of its source is inlined, and it
// refers to no file: loaded in the browser it fetches nothing but the API.
'use strict';
const { test, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { launchBrowser } = require('./lib/browser');
const { binary, get, startProgram, BUILD } = require('./lib/procs');
const { servedPage, sourceFiles } = require('./lib/served-page');

const HOST = '127.0.97.1';
const kamora = binary('kamora');
const skip = kamora ? false : `needs kamora in ${BUILD} (not built)`;

let browser, server, workDir;
after(async () => {
  if (browser) await browser.close();
  if (server) await server.stop();
  if (workDir) fs.rmSync(workDir, { recursive: true, force: true });
});

test('the served page holds every part, refers to no file and fetches only the API', { skip, timeout: 60000 }, async () => {
  workDir = fs.mkdtempSync(path.join(os.tmpdir(), 'kamora-served-'));
  server = await startProgram(kamora, ['--server', '--host', HOST, '--port', '8080'], `http://${HOST}:8080/status`, { cwd: workDir });
  const origin = `http://${HOST}:8080`;
  const answer = (await get(origin + '/')).body;
  assert.ok(answer.equals(servedPage()), 'the program serves the page the build wrote');
  const html = answer.toString('utf8');

  // Each part verbatim, in its own element: a part left out, or a stale copy, shows here.
  const src = sourceFiles();
  const parts = [...src.styles, ...src.scripts];
  for (const f of parts) assert.ok(html.includes(fs.readFileSync(f, 'utf8')), path.basename(f) + ' inlined');

  browser = await launchBrowser();
  const page = await browser.newPage();
  // Without running anything: no element points at a file, no rule imports one.
  const inert = await page.evaluate((text) => {
    const doc = new DOMParser().parseFromString(text, 'text/html');
    return {
      pointing: Array.from(doc.querySelectorAll('[src], [href]'), (e) => e.outerHTML),
      styles: doc.querySelectorAll('style').length,
      scripts: doc.querySelectorAll('script').length,
      imports: Array.from(doc.querySelectorAll('style'), (s) => s.textContent).join('').match(/@import|url\(/g),
    };
  }, html);
  assert.deepEqual(inert, { pointing: [], styles: src.styles.length, scripts: src.scripts.length, imports: null });

  // Loaded from the program: the page, then only its polls and the camera's
  // state and events; every part ran.
  const paths = [];
  page.on('request', (r) => paths.push(r.url().startsWith(origin + '/') ? new URL(r.url()).pathname : r.url()));
  await page.goto(origin + '/');
  await page.waitForRequest((r) => r.url() === origin + '/properties', { timeout: 5000 });
  await page.waitForLoadState('networkidle');
  // The folder is empty, so the review card asks for no picture.
  assert.deepEqual([...new Set(paths)].sort(),
    ['/', '/camera', '/captures', '/events', '/properties', '/sequence', '/status']);
  const declared = src.scripts.flatMap((f) => Array.from(fs.readFileSync(f, 'utf8').matchAll(/^function (\w+)/gm), (m) => m[1]));
  const missing = await page.evaluate((names) => names.filter((n) => typeof window[n] !== 'function'), declared);
  assert.deepEqual(missing, []);
  for (const name of ['byId', 'luma', 'measure', 'lvToggle', 'buildLooks', 'ptzMove', 'reviewShow', 'cameraIsLost']) assert.ok(declared.includes(name), name);
  assert.equal(await page.evaluate(() => getComputedStyle(document.body).backgroundColor), 'rgb(13, 15, 18)');
  assert.deepEqual(browser.errors, []);
});
