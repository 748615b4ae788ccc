// The PTZ card's held controls against a recording stand-in server: the pad with
// "Segurar para mover", the keyboard, a simulated gamepad, a drag on the picture and the
// presets row — what each sends, how often, and that letting go stops the head at once.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { startMock } = require('./lib/mock-server');
const { launchBrowser } = require('./lib/browser');
const { openConsole } = require('./lib/page');

let browser, mock;
before(async () => {
  mock = await startMock('127.0.99.1');
  browser = await launchBrowser();
});
after(async () => {
  await browser.close();
  await mock.stop();
});

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const isPtz = (r) => r.path.startsWith('/ptz/') && r.method === 'POST';
const ptzSince = (since) => mock.requests.slice(since).filter(isPtz);
const said = (r) => r.path + (r.query ? '?' + r.query : '');
// Waits for the next PTZ command after `since` that matches `path?query` exactly.
const next = (since, text, timeout = 3000) => mock.waitFor((r) => isPtz(r) && said(r) === text, timeout, since);

async function consoleWith(t, { hold = false, speed = null } = {}) {
  const page = await openConsole(browser, mock, {}, t);
  await page.evaluate((on) => localStorage.setItem('kamora.ptzHold', on ? '1' : '0'), hold);
  await page.reload();
  if (speed !== null) await setSpeed(page, speed);
  return page;
}

// The speed slider as a person moves it (an input event).
function setSpeed(page, value) {
  return page.evaluate((v) => {
    const el = document.getElementById('ptzspeed');
    el.value = String(v);
    el.dispatchEvent(new Event('input', { bubbles: true }));
  }, value);
}

// The centre of an element, for the mouse.
async function centre(page, selector) {
  const b = await page.locator(selector).boundingBox();
  return [b.x + b.width / 2, b.y + b.height / 2];
}

test('with the switch off the pad clicks as before, diagonals and speed included; the switch is remembered', async (t) => {
  const page = await consoleWith(t, { hold: false });
  const cases = [['◤', 'pan=-30&tilt=30'], ['◥', 'pan=30&tilt=30'], ['◣', 'pan=-30&tilt=-30'], ['◢', 'pan=30&tilt=-30']];
  for (const [text, query] of cases) {
    const since = mock.requests.length;
    await page.getByRole('button', { name: text, exact: true }).click();
    await next(since, '/ptz/move?' + query);
  }
  await setSpeed(page, 55);
  assert.equal(await page.textContent('#ptzspv'), '55');
  let since = mock.requests.length;
  await page.getByRole('button', { name: '◀', exact: true }).click();
  await next(since, '/ptz/move?pan=-55&tilt=0');
  await sleep(700);
  assert.deepEqual(ptzSince(since).map(said), ['/ptz/move?pan=-55&tilt=0'], 'one request, no lease, no stop');

  await page.check('#ptzhold');
  await page.reload();
  assert.equal(await page.isChecked('#ptzhold'), true);
});

test('held arrow: one leased move, renewals at most 6 a second, the stop within 50 ms of letting go', async (t) => {
  const page = await consoleWith(t, { hold: true });
  const [x, y] = await centre(page, '[data-dir="1,0"]');
  await page.mouse.move(x, y);
  const since = mock.requests.length;
  await page.mouse.down();
  await next(since, '/ptz/move?pan=30&tilt=0&hold=600');
  await sleep(10000);
  const held = ptzSince(since);
  const released = Date.now();
  await page.mouse.up();
  const stop = await next(since, '/ptz/stop', 2000);
  const all = mock.requests.slice(since).filter((r) => r.at <= released);
  const span = (released - held[0].at) / 1000;
  console.log(`# held 10 s: ${held.length} PTZ requests (${(held.length / span).toFixed(2)}/s), ` +
    `${all.length} with the polls (${(all.length / span).toFixed(2)}/s); stop ${stop.at - released} ms after release`);
  assert.deepEqual([...new Set(held.map(said))], ['/ptz/move?pan=30&tilt=0&hold=600', '/ptz/renew']);
  assert.equal(held.filter((r) => r.path === '/ptz/move').length, 1);
  assert.ok(held.length / span <= 6, 'at most 6 PTZ requests a second');
  for (let i = 1; i < held.length; ++i) assert.ok(held[i].at - held[i - 1].at < 400, 'no gap a lease of 600 ms would not cover');
  assert.ok(stop.at - released <= 50, `stop ${stop.at - released} ms after release`);
  // A click that ends a hold sends no move of its own.
  await sleep(300);
  assert.equal(ptzSince(since).filter((r) => r.path === '/ptz/move').length, 1);
});

test('a held arrow also stops when the pointer leaves it, the window loses focus, the page hides or closes', async (t) => {
  const page = await consoleWith(t, { hold: true });
  const [x, y] = await centre(page, '[data-dir="0,1"]');
  const ends = {
    leave: () => page.mouse.move(x, y + 200),
    blur: () => page.evaluate(() => window.dispatchEvent(new Event('blur'))),
    hidden: () => page.evaluate(() => {
      Object.defineProperty(document, 'hidden', { configurable: true, get: () => true });
      document.dispatchEvent(new Event('visibilitychange'));
    }),
    close: () => page.close({ runBeforeUnload: false }),
  };
  for (const [name, end] of Object.entries(ends)) {
    await page.mouse.move(x, y);
    const since = mock.requests.length;
    await page.mouse.down();
    await next(since, '/ptz/move?pan=0&tilt=30&hold=600');
    const at = Date.now();
    await end();
    const stop = await next(since, '/ptz/stop', 2000);
    // Sent by the page at once (the stand-in has no lease); the time includes driving the browser.
    assert.ok(stop.at - at <= 150, `${name}: stop ${stop.at - at} ms after`);
    if (name !== 'close') await page.mouse.up();
    if (name === 'hidden') await page.evaluate(() => delete document.hidden);
  }
});

test('keyboard: held keys, diagonals, repeats that only renew, and nothing while typing', async (t) => {
  const page = await consoleWith(t, { hold: false });
  await page.locator('h1').click();
  let since = mock.requests.length;
  await page.keyboard.down('ArrowUp');
  await next(since, '/ptz/move?pan=0&tilt=30&hold=600');
  await page.keyboard.down('KeyD');
  await next(since, '/ptz/move?pan=30&tilt=30&hold=600');
  await page.keyboard.down('KeyD');  // repeats
  await page.keyboard.down('KeyD');
  await page.keyboard.up('ArrowUp');
  await next(since, '/ptz/move?pan=30&tilt=0&hold=600');
  await sleep(450);
  const upAt = Date.now();
  await page.keyboard.up('KeyD');
  const stop = await next(since, '/ptz/stop');
  assert.ok(stop.at - upAt <= 50, `stop ${stop.at - upAt} ms after the key went up`);
  const moves = ptzSince(since).filter((r) => r.path === '/ptz/move').map((r) => r.query);
  assert.deepEqual(moves, ['pan=0&tilt=30&hold=600', 'pan=30&tilt=30&hold=600', 'pan=30&tilt=0&hold=600']);
  assert.ok(ptzSince(since).some((r) => r.path === '/ptz/renew'));

  since = mock.requests.length;
  for (const [key, text] of [['Home', '/ptz/home'], ['Escape', '/ptz/stop'], ['Space', '/ptz/stop'],
    ['Digit7', '/ptz/preset/recall?num=7'], ['Shift+Digit4', '/ptz/preset/set?num=4']]) {
    const at = mock.requests.length;
    await page.keyboard.press(key);
    await next(at, text);
  }
  await mock.waitFor((r) => r.method === 'GET' && r.path === '/ptz/presets', 3000, since);

  // Typing into a field moves nothing, recalls nothing.
  since = mock.requests.length;
  await page.click('#iso');
  await page.keyboard.type('30');
  for (const key of ['ArrowLeft', 'ArrowRight', 'KeyW', 'Home', 'Space']) await page.keyboard.press(key);
  await page.selectOption('#model', 'CB_P7');
  await page.focus('#model');
  await page.keyboard.press('ArrowDown');
  await sleep(400);
  assert.deepEqual(ptzSince(since).map(said), []);
  assert.match(await page.inputValue('#iso'), /30/);
  // Space on a focused button still presses that button.
  since = mock.requests.length;
  await page.getByRole('button', { name: 'Desconectar', exact: true }).focus();
  await page.keyboard.press('Space');
  await mock.waitFor((r) => r.path === '/disconnect', 3000, since);
  await sleep(200);
  assert.deepEqual(ptzSince(since).map(said), []);
});

test('gamepad: dead zone, cubic speed capped by the slider, 5 % steps, centring and buttons', async (t) => {
  mock.reply('GET', '/ptz/presets', [2, 5]);
  mock.reply('GET', '/properties', { iso: '100' });
  const page = await consoleWith(t, { speed: 80 });
  await page.waitForFunction(() => document.querySelector('#ptzpresets [data-n="5"]').classList.contains('on'), null, { timeout: 5000 });
  await page.evaluate(() => {
    window.fakePad = { connected: true, axes: [0, 0, 0, 0], buttons: Array.from({ length: 16 }, () => ({ pressed: false })) };
    navigator.getGamepads = () => [window.fakePad, null, null, null];
    window.dispatchEvent(new Event('gamepadconnected'));
  });
  const stick = (x, y) => page.evaluate(([a, b]) => { window.fakePad.axes[0] = a; window.fakePad.axes[1] = b; }, [x, y]);
  const button = (i, on) => page.evaluate(([n, p]) => { window.fakePad.buttons[n].pressed = p; }, [i, on]);

  let since = mock.requests.length;
  await stick(0.14, -0.149);
  await sleep(400);
  assert.deepEqual(ptzSince(since), [], 'inside the dead zone nothing is sent');

  await stick(0.5, 0);
  await next(since, '/ptz/move?pan=10&tilt=0&hold=600');  // 0.5³ × 80 = 1/8 of the cap
  await stick(0.52, 0);  // 11: less than 5 % of 80 away
  await sleep(400);
  assert.deepEqual(ptzSince(since).map((r) => r.path).filter((p) => p === '/ptz/move').length, 1);
  assert.ok(ptzSince(since).some((r) => r.path === '/ptz/renew'));
  await stick(0.52, -1);  // up, full: the cap
  await next(since, '/ptz/move?pan=11&tilt=80&hold=600');
  const centred = Date.now();
  await stick(0.05, 0.1);
  const stop = await next(since, '/ptz/stop');
  assert.ok(stop.at - centred <= 50 + 20, `stop ${stop.at - centred} ms after centring`);

  since = mock.requests.length;
  await button(0, true);
  await next(since, '/ptz/home');
  await button(0, false);
  for (const [i, num] of [[5, 2], [5, 5], [5, 2], [4, 5]]) {
    const at = mock.requests.length;
    await button(i, true);
    await next(at, '/ptz/preset/recall?num=' + num);
    await button(i, false);
    await sleep(50);
  }
  // Gone while deflected: stopped.
  since = mock.requests.length;
  await stick(-1, 0);
  await next(since, '/ptz/move?pan=-80&tilt=0&hold=600');
  await page.evaluate(() => { navigator.getGamepads = () => [null, null, null, null]; window.dispatchEvent(new Event('gamepaddisconnected')); });
  await next(since, '/ptz/stop');
  mock.handlers.delete('GET /ptz/presets');
  mock.handlers.delete('GET /properties');
});

test('drag on the picture with a head connected: speed follows the offset, release stops, a click does nothing', async (t) => {
  const page = await consoleWith(t, { speed: 40 });
  const box = await page.locator('#view').boundingBox();
  const [x, y] = [box.x + box.width / 2, box.y + box.height / 2];
  const drag = async (dx, dy) => {
    await page.mouse.move(x, y);
    await page.mouse.down();
    await page.mouse.move(x + dx, y + dy, { steps: 4 });
  };
  // No camera yet: dragging sends nothing.
  let since = mock.requests.length;
  await drag(box.width / 4, 0);
  await page.mouse.up();
  await sleep(300);
  assert.deepEqual(ptzSince(since), []);

  await page.selectOption('#model', 'CB_P7');
  mock.reply('GET', '/properties', { iso: '100' });
  await page.waitForFunction(() => document.querySelector('[data-p="iso"]').textContent === '100', null, { timeout: 5000 });
  since = mock.requests.length;
  await drag(box.width / 4, -box.width / 8);  // full speed right, half speed up
  await next(since, '/ptz/move?pan=40&tilt=20&hold=600');
  await sleep(300);
  const released = Date.now();
  await page.mouse.up();
  const stop = await next(since, '/ptz/stop');
  assert.ok(stop.at - released <= 50);

  since = mock.requests.length;
  await page.mouse.click(x, y);
  await drag(3, 2);
  await page.mouse.up();
  await sleep(300);
  assert.deepEqual(ptzSince(since), [], 'a click or a tremor is not a drag');
  mock.handlers.delete('GET /properties');
});

test('presets row: click recalls, Shift+click and a long press store, × clears, the row follows the server', async (t) => {
  let stored = [3];
  mock.on('GET', '/ptz/presets', (req, res) => { res.writeHead(200, { 'Content-Type': 'application/json' }); res.end(JSON.stringify(stored)); });
  mock.reply('GET', '/properties', { iso: '100' });
  const page = await consoleWith(t);
  const shown = () => page.$$eval('#ptzpresets .pst.on', (els) => els.map((e) => Number(e.getAttribute('data-n'))));
  await page.waitForFunction(() => document.querySelectorAll('#ptzpresets .pst.on').length === 1, null, { timeout: 5000 });
  assert.deepEqual(await shown(), [3]);

  let since = mock.requests.length;
  await page.click('#ptzpresets [data-n="3"] button:first-child');
  await next(since, '/ptz/preset/recall?num=3');

  since = mock.requests.length;
  stored = [3, 4];
  await page.click('#ptzpresets [data-n="4"] button:first-child', { modifiers: ['Shift'] });
  await next(since, '/ptz/preset/set?num=4');
  await page.waitForFunction(() => document.querySelector('#ptzpresets [data-n="4"]').classList.contains('on'));

  since = mock.requests.length;
  stored = [3, 4, 6];
  const [x, y] = await centre(page, '#ptzpresets [data-n="6"] button:first-child');
  await page.mouse.move(x, y);
  await page.mouse.down();
  await sleep(750);
  await page.mouse.up();
  await next(since, '/ptz/preset/set?num=6');
  await page.waitForFunction(() => document.querySelector('#ptzpresets [data-n="6"]').classList.contains('on'));
  await sleep(200);
  assert.deepEqual(ptzSince(since).map(said), ['/ptz/preset/set?num=6'], 'a long press stores and does not recall');

  since = mock.requests.length;
  stored = [3, 6];
  await page.click('#ptzpresets [data-n="4"] .x');
  await next(since, '/ptz/preset/clear?num=4');
  await page.waitForFunction(() => !document.querySelector('#ptzpresets [data-n="4"]').classList.contains('on'));
  assert.deepEqual(await shown(), [3, 6]);

  // The camera goes: the row empties.
  mock.reply('GET', '/properties', {});
  await page.waitForFunction(() => document.querySelectorAll('#ptzpresets .pst.on').length === 0, null, { timeout: 5000 });
  mock.handlers.delete('GET /ptz/presets');
  mock.handlers.delete('GET /properties');
  assert.deepEqual(browser.errors, []);
});
