// The camera indicator in the header: its four looks and the log from the server's
// camera events on the page's one event stream (recording stand-in server), then
// against the real kamora --server and a virtual camera that is killed, restarted and
// whose link is dropped.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { startMock } = require('./lib/mock-server');
const { launchBrowser } = require('./lib/browser');
const { openConsole, topLogLine } = require('./lib/page');
const { binary, get, post, startProgram, BUILD } = require('./lib/procs');

const SERVER_HOST = '127.0.212.1';
const CAMERA_IP = '127.0.212.2';
const CAMERA_MAC = '02:00:00:00:8d:02';
const kamora = binary('kamora');
const vcam = binary('kamora-vcam');
const missing = [!kamora && 'kamora', !vcam && 'kamora-vcam'].filter(Boolean);
const skip = missing.length ? `needs ${missing.join(' and ')} in ${BUILD} (not built)` : false;

let browser, mock;
before(async () => {
  mock = await startMock('127.0.212.3');
  browser = await launchBrowser();
});
after(async () => {
  await browser.close();
  await mock.stop();
});

const indicator = (page) => page.evaluate(() => [document.getElementById('camst').textContent,
  getComputedStyle(document.getElementById('camdot')).backgroundColor, cameraIsLost()]);
const showing = (page, text, timeout = 5000) =>
  page.waitForFunction((t) => document.getElementById('camst').textContent === t, text, { timeout });

test('the event stream opens once every part listens, so the event that begins it reaches its listener', async (t) => {
  const page = await openConsole(browser, mock, {
    init: () => {
      window.EventSource = new Proxy(window.EventSource, {
        construct(Plain, args) {
          window.typesAtOpen = serverStream.listeners.map((l) => l[0]);
          return new Plain(...args);
        },
      });
    },
  }, t);
  await page.waitForFunction(() => Array.isArray(window.typesAtOpen));
  const types = new Set(await page.evaluate(() => window.typesAtOpen));
  assert.deepEqual(['open', 'error', 'camera', 'capture', 'cameras', 'rig', 'volley', 'sequence'].filter((x) => !types.has(x)), []);
});

test('indicator: seeded from /camera, then each camera event, each change in the log', async (t) => {
  mock.reply('GET', '/camera', { state: 'reconectando', attempt: 3, last_error: '0x00008101', suspect: false });
  const since = mock.requests.length;
  const page = await openConsole(browser, mock, {}, t);
  await showing(page, 'reconectando (3)…');
  assert.deepEqual(await indicator(page), ['reconectando (3)…', 'rgb(224, 162, 58)', true]);
  assert.equal(await page.evaluate(() => document.getElementById('log').textContent), '', 'the seed is not a change');
  await mock.waitFor((r) => r.path === '/events');

  const cases = [
    // [event data, text, colour, lost, log line]
    [{ state: 'conectada', attempt: null, error: null, suspect: false }, 'câmera conectada', 'rgb(51, 204, 102)', false, 'câmera conectada'],
    [{ state: 'perdida', attempt: null, error: '0x00008107', suspect: false }, 'câmera perdida', 'rgb(204, 68, 68)', true, 'câmera perdida (0x00008107)'],
    [{ state: 'reconectando', attempt: 1, error: '0x00008107', suspect: false }, 'reconectando (1)…', 'rgb(224, 162, 58)', true, 'reconectando (1)…'],
    [{ state: 'reconectando', attempt: 2, error: '0x00008107', suspect: false }, 'reconectando (2)…', 'rgb(224, 162, 58)', true, 'reconectando (2)…'],
    [{ state: 'sem camera', attempt: null, error: null, suspect: false }, 'sem câmera', 'rgb(90, 95, 104)', false, 'sem câmera'],
    [{ state: 'conectando', attempt: null, error: null, suspect: false }, 'conectando…', 'rgb(224, 162, 58)', false, 'conectando…'],
  ];
  for (const [data, text, colour, lost, line] of cases) {
    mock.event('camera', data);
    await showing(page, text);
    assert.deepEqual(await indicator(page), [text, colour, lost]);
    assert.match(await topLogLine(page), new RegExp('  ' + line.replace(/[()]/g, '\\$&') + '$'));
  }
  // The page follows the server on one stream, whatever number of parts listen
  // (a browser keeps six connections per server for all its tabs).
  assert.equal(mock.requests.slice(since).filter((r) => r.path === '/events').length, 1);
  // Other events and a repeated state leave the indicator and the log alone.
  const lines = await page.evaluate(() => document.getElementById('log').childNodes.length);
  mock.event('capture', { name: 'KAMORA_00001.JPG', bytes: 10, time: '2026-01-02T10:00:00.000Z' });
  mock.event('camera', { state: 'conectando', attempt: null, error: null, suspect: true });
  await new Promise((r) => setTimeout(r, 300));
  assert.equal(await page.evaluate(() => document.getElementById('log').childNodes.length), lines);
  assert.deepEqual(browser.errors, []);
  mock.handlers.delete('GET /camera');
});

test('indicator against kamora: a killed camera and a dropped link show within 2 s and come back',
  { skip, timeout: 120000 }, async (t) => {
    const workDir = fs.mkdtempSync(path.join(os.tmpdir(), 'kamora-health-'));
    const cameraArgs = ['--ip', CAMERA_IP, '--mac', CAMERA_MAC, '--model', 'SB_A4', '--still-size', '1200x800'];
    const startCamera = () => startProgram(vcam, cameraArgs, `http://${CAMERA_IP}:15740/vcam/state`, { cwd: workDir });
    let camera = await startCamera();
    const server = await startProgram(kamora, ['--server', '--host', SERVER_HOST, '--port', '8080'],
      `http://${SERVER_HOST}:8080/status`, { cwd: workDir });
    t.after(async () => {
      await server.stop();
      await camera.stop();
      fs.rmSync(workDir, { recursive: true, force: true });
    });
    const page = await browser.newPage();
    t.after(() => page.close());
    await page.goto(`http://${SERVER_HOST}:8080/`);
    await showing(page, 'sem câmera');
    const base = `http://${SERVER_HOST}:8080`;
    assert.equal((await post(`${base}/connect?ip=${CAMERA_IP}&mac=${CAMERA_MAC}`)).body, '{"status":"conectado"}');
    await showing(page, 'câmera conectada');

    // Killed: lost within 2 s, then the attempts count up.
    camera.child.kill('SIGKILL');
    let at = Date.now();
    await page.waitForFunction(() => cameraIsLost(), null, { timeout: 2000 });
    const lostAfter = Date.now() - at;
    await page.waitForFunction(() => /^reconectando \([2-9]\)…$/.test(document.getElementById('camst').textContent),
      null, { timeout: 5000 });
    // Back: the server reconnects by itself once the camera listens again.
    camera = await startCamera();
    at = Date.now();
    await showing(page, 'câmera conectada', 4000);
    const backAfter = Date.now() - at;

    // Dropped link (the camera stays up): lost within 2 s, back by itself.
    at = Date.now();
    await post(`http://${CAMERA_IP}:15740/vcam/fault?name=drop`);
    await page.waitForFunction(() => cameraIsLost(), null, { timeout: 2000 });
    const dropAfter = Date.now() - at;
    await showing(page, 'câmera conectada', 4000);

    const log = await page.evaluate(() => document.getElementById('log').textContent);
    assert.match(log, /câmera perdida \(0x00008107\)/);
    const state = JSON.parse((await get(`${base}/camera`)).body.toString());
    assert.equal(state.state, 'conectada');
    assert.equal(state.reconnections, 2);
    t.diagnostic(`lost shown after ${lostAfter} ms (kill), ${dropAfter} ms (drop); back shown ${backAfter} ms after the camera listened`);
    assert.deepEqual(browser.errors, []);
  });
