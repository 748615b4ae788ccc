// End to end: the console served by the real `kamora --server`, driving a virtual
// camera (kamora-vcam): connect, read-outs, live view with overlays, scopes and
// advice following exposure and the pan/tilt head, capture and snapshot.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { launchBrowser } = require('./lib/browser');
const { binary, get, startProgram, BUILD } = require('./lib/procs');

const SERVER_HOST = '127.0.96.1';
const CAMERA_IP = '127.0.96.2';
const CAMERA_MAC = '02:00:00:00:96:02';
const kamora = binary('kamora');
const vcam = binary('kamora-vcam');
const missing = [!kamora && 'kamora', !vcam && 'kamora-vcam'].filter(Boolean);
const skip = missing.length ? `needs ${missing.join(' and ')} in ${BUILD} (not built)` : false;

let browser, camera, server, workDir;
before(async () => {
  if (skip) return;
  workDir = fs.mkdtempSync(path.join(os.tmpdir(), 'kamora-e2e-'));
  camera = await startProgram(vcam, ['--ip', CAMERA_IP, '--mac', CAMERA_MAC, '--model', 'PZ_M7', '--lv-size', '1024x680'],
    `http://${CAMERA_IP}:15740/vcam/state`, { cwd: workDir });
  server = await startProgram(kamora, ['--server', '--host', SERVER_HOST, '--port', '8080'],
    `http://${SERVER_HOST}:8080/status`, { cwd: workDir });
  browser = await launchBrowser({ viewport: { width: 1400, height: 1300 } });
});
after(async () => {
  if (browser) await browser.close();
  if (server) await server.stop();
  if (camera) await camera.stop();
  if (workDir) fs.rmSync(workDir, { recursive: true, force: true });
});

const cameraState = async () => JSON.parse((await get(`http://${CAMERA_IP}:15740/vcam/state`)).body.toString());
const logHas = (page, text, timeout = 20000) =>
  page.waitForFunction((t) => document.getElementById('log').textContent.includes(t), text, { timeout });
const meanLuma = (page) => page.evaluate(() => Number(document.querySelector('#advisor b')?.textContent ?? NaN));
const viewHash = (page) => page.evaluate(() => {
  const c = document.getElementById('view');
  const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
  let h = 0;
  for (let i = 0; i < d.length; i += 4) h = (h * 31 + d[i] + d[i + 1] * 7 + d[i + 2] * 13) >>> 0;
  return h;
});

test('console against kamora --server and a virtual camera', { skip, timeout: 120000 }, async (t) => {
  const page = await browser.newPage();
  t.after(() => page.close());
  await page.goto(`http://${SERVER_HOST}:8080/`);
  await page.waitForFunction(() => document.getElementById('st').textContent === 'servidor online');

  // Connect.
  await page.fill('#ip', CAMERA_IP);
  await page.fill('#mac', CAMERA_MAC);
  await page.selectOption('#model', 'PZ_M7');
  await page.getByRole('button', { name: 'Conectar', exact: true }).click();
  await logHas(page, '/connect → conectado');
  assert.equal((await cameraState()).linked, true);
  // Read-outs follow /properties within a poll or two.
  await page.waitForFunction(() => document.querySelector('[data-p="iso"]').textContent !== '—', null, { timeout: 5000 });
  assert.match(await page.textContent('[data-p="battery"]'), /^\d+%$/);

  // Live view: the canvas takes the camera's size and the picture moves.
  await page.click('#lvbtn');
  await page.waitForFunction(() => document.getElementById('view').width === 1024 && document.getElementById('view').height === 680,
    null, { timeout: 5000 });
  await page.waitForFunction(() => document.getElementById('advisor').textContent.startsWith('Exposição'));
  const h1 = await viewHash(page);
  await page.waitForTimeout(600);
  assert.notEqual(await viewHash(page), h1, 'the live picture changes');
  assert.equal(await page.$$eval('#looks canvas', (c) => c.length), 6);
  // Screenshots of the whole console with the live view running, for a person to look at.
  const shots = path.join(__dirname, 'test-results');
  fs.mkdirSync(shots, { recursive: true });
  await page.screenshot({ path: path.join(shots, 'console.png'), fullPage: true });

  // Exposure: two stops more brighten what the scopes and the advisor measure.
  const before = await meanLuma(page);
  await page.fill('#ev', '2');
  await page.getByRole('button', { name: 'Aplicar', exact: true }).click();
  await logHas(page, '/exposure → ok');
  await page.waitForFunction((b) => Number(document.querySelector('#advisor b').textContent) > b + 10, before, { timeout: 5000 });
  await page.waitForFunction(() => document.querySelector('[data-p="ev"]').textContent === '+2.0', null, { timeout: 5000 });

  // Every overlay and a look on; the head pans right and stops.
  for (const m of ['peaking', 'zebra', 'false', 'mlut']) await page.click(`[data-m="${m}"]`);
  await page.click('#looks > div:nth-child(2) canvas');
  const panBefore = (await cameraState()).pan;
  const h2 = await viewHash(page);
  await page.getByRole('button', { name: '▶', exact: true }).click();
  await logHas(page, '/ptz/move → ok');
  await page.waitForTimeout(800);
  await page.getByRole('button', { name: 'Parar', exact: true }).click();
  await logHas(page, '/ptz/stop → ok');
  assert.notEqual((await cameraState()).pan, panBefore, 'the head moved');
  assert.notEqual(await viewHash(page), h2);

  // Capture downloads one picture into the server's working directory.
  await page.getByRole('button', { name: '📸 Capturar' }).click();
  await logHas(page, '/capture → 1 foto(s)', 30000);
  const files = fs.readdirSync(path.join(workDir, 'captures')).filter((f) => f.startsWith('KAMORA'));
  assert.ok(files.length >= 1, 'a downloaded picture in captures/');

  await page.screenshot({ path: path.join(shots, 'console-overlays.png'), fullPage: true });

  // Snapshot of the shown frame.
  const [download] = await Promise.all([page.waitForEvent('download'), page.getByRole('button', { name: 'Salvar quadro' }).click()]);
  assert.equal(download.suggestedFilename(), 'frame.jpg');
  const jpeg = fs.readFileSync(await download.path());
  assert.deepEqual([jpeg[0], jpeg[1]], [0xff, 0xd8]);

  await page.click('#lvbtn');
  await page.getByRole('button', { name: 'Desconectar' }).click();
  await logHas(page, '/disconnect → desconectado');
  assert.deepEqual(browser.errors, []);
});

test('status follows the real server going away and coming back', { skip, timeout: 60000 }, async (t) => {
  const page = await browser.newPage();
  t.after(() => page.close());
  await page.goto(`http://${SERVER_HOST}:8080/`);
  await page.waitForFunction(() => document.getElementById('st').textContent === 'servidor online');
  await server.stop();
  await page.waitForFunction(() => document.getElementById('st').textContent === 'offline' &&
    !document.getElementById('dot').classList.contains('on'), null, { timeout: 8000 });
  server = await startProgram(kamora, ['--server', '--host', SERVER_HOST, '--port', '8080'],
    `http://${SERVER_HOST}:8080/status`, { cwd: workDir });
  await page.waitForFunction(() => document.getElementById('st').textContent === 'servidor online' &&
    document.getElementById('dot').classList.contains('on'), null, { timeout: 8000 });
});
