// The console's wiring: the requests each control sends, the log, the status
// indicator and the read-out tiles, against a recording stand-in server.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { startMock } = require('./lib/mock-server');
const { launchBrowser } = require('./lib/browser');
const { openConsole, topLogLine } = require('./lib/page');

let browser, mock;
before(async () => {
  mock = await startMock('127.0.90.1');
  browser = await launchBrowser();
});
after(async () => {
  await browser.close();
  await mock.stop();
});

// Waits until read() gives `expected` (or 3 s pass), lets stragglers arrive, then compares.
async function settled(read, expected) {
  const end = Date.now() + 3000;
  while (JSON.stringify(read()) !== JSON.stringify(expected) && Date.now() < end) await new Promise((r) => setTimeout(r, 50));
  await new Promise((r) => setTimeout(r, 150));
  assert.deepEqual(read(), expected);
}

function replyEcho() {
  // Every command answers a text naming its route, so the log can be checked against it.
  for (const route of ['/connect', '/disconnect', '/exposure', '/capture', '/ptz/move', '/ptz/home', '/ptz/stop']) {
    mock.reply('POST', route, { status: 'resposta ' + route });
  }
}

test('each control sends its command and the log shows the reply, newest first', async (t) => {
  replyEcho();
  const page = await openConsole(browser, mock, {}, t);
  const cases = [
    // [button text, path, query]; fields are untouched, so the form sends empty values.
    ['Conectar', '/connect', 'ip=&mac=&model=SB_A4&ssh=0'],
    ['Desconectar', '/disconnect', ''],
    ['Aplicar', '/exposure', 'iso=&fnumber=&shutter=&ev='],
    ['📸 Capturar', '/capture', 'shots=1'],
    ['▲', '/ptz/move', 'pan=0&tilt=30'],
    ['◀', '/ptz/move', 'pan=-30&tilt=0'],
    ['▶', '/ptz/move', 'pan=30&tilt=0'],
    ['▼', '/ptz/move', 'pan=0&tilt=-30'],
    ['⌂', '/ptz/home', ''],
    ['Parar', '/ptz/stop', ''],
  ];
  for (const [text, path, query] of cases) {
    const since = mock.requests.length;
    await page.getByRole('button', { name: text, exact: true }).click();
    const req = await mock.waitFor((r) => r.method === 'POST', 3000, since);
    assert.equal(req.path, path, text);
    assert.equal(req.query, query, text);
    assert.equal(req.body.length, 0, text + ': empty body');
    await page.waitForFunction((p) => document.getElementById('log').textContent.split('\n')[0].endsWith(p + ' → resposta ' + p), path);
  }
  const lines = await page.evaluate(() => document.getElementById('log').textContent.split('\n'));
  assert.equal(lines.length, cases.length);
  assert.match(lines[0], /^\S.*  \/ptz\/stop → resposta \/ptz\/stop$/);
  assert.match(lines[lines.length - 1], /  \/connect → resposta \/connect$/);
});

test('field values are sent URI-component encoded, in order, from every field', async (t) => {
  const page = await openConsole(browser, mock, {}, t);
  await page.fill('#ip', '127.0.0.5&x=1');
  await page.fill('#mac', 'aa bb+cc/dd?é');
  await page.selectOption('#model', 'PZ_M7');
  await page.selectOption('#ssh', '1');
  let since = mock.requests.length;
  await page.getByRole('button', { name: 'Conectar', exact: true }).click();
  let req = await mock.waitFor((r) => r.path === '/connect', 3000, since);
  assert.equal(req.query, 'ip=127.0.0.5%26x%3D1&mac=aa%20bb%2Bcc%2Fdd%3F%C3%A9&model=PZ_M7&ssh=1');

  await page.fill('#iso', '800');
  await page.fill('#fn', '2.8');
  await page.fill('#sh', '1/250');
  await page.fill('#ev', '-0.7');
  since = mock.requests.length;
  await page.getByRole('button', { name: 'Aplicar', exact: true }).click();
  req = await mock.waitFor((r) => r.path === '/exposure', 3000, since);
  assert.equal(req.query, 'iso=800&fnumber=2.8&shutter=1%2F250&ev=-0.7');
});

test('error replies, non-JSON replies and network failures in the log', async (t) => {
  const page = await openConsole(browser, mock, {}, t);
  const cases = [
    // [how the server answers /connect, expected end of the top log line]
    [(req, res) => { res.writeHead(502, { 'Content-Type': 'application/json' }); res.end('{"status":"falha ao conectar"}'); },
      /  \/connect → falha ao conectar$/],
    [(req, res) => { res.writeHead(400, { 'Content-Type': 'application/json' }); res.end('{"status":"ip e mac obrigatorios"}'); },
      /  \/connect → ip e mac obrigatorios$/],
    [(req, res) => { res.writeHead(200, { 'Content-Type': 'text/html' }); res.end('<html>no</html>'); },
      /  \/connect ✗ \S/],
    [(req, res) => { req.socket.destroy(); }, /  \/connect ✗ \S/],
  ];
  for (const [answer, expected] of cases) {
    mock.on('POST', '/connect', answer);
    const before = await page.evaluate(() => document.getElementById('log').childNodes.length);
    await page.getByRole('button', { name: 'Conectar', exact: true }).click();
    await page.waitForFunction((n) => document.getElementById('log').childNodes.length > n, before);
    assert.match(await topLogLine(page), expected);
  }
  mock.handlers.delete('POST /connect');
});

test('status text and dot follow the server going away and coming back', async (t) => {
  let hold;
  mock.on('GET', '/status', (req, res) => { hold = () => { res.writeHead(200); res.end('{"status":"online"}'); }; });
  const page = await openConsole(browser, mock, { clock: true }, t);
  const state = () => page.evaluate(() => [document.getElementById('st').textContent,
    document.getElementById('dot').classList.contains('on'),
    getComputedStyle(document.getElementById('dot')).backgroundColor]);
  await mock.waitFor((r) => r.path === '/status');
  assert.deepEqual(await state(), ['verificando…', false, 'rgb(204, 68, 68)']);
  hold();
  await page.waitForFunction(() => document.getElementById('st').textContent !== 'verificando…');
  assert.deepEqual(await state(), ['servidor online', true, 'rgb(51, 204, 102)']);

  const steps = [
    // [what the server does, expected text, dot on]
    [() => mock.reply('GET', '/status', { status: 'busy' }), 'offline', false],
    [() => mock.reply('GET', '/status', { status: 'online' }), 'servidor online', true],
    [() => mock.reply('GET', '/status', 'null'), 'offline', false],
    [() => mock.reply('GET', '/status', { status: 'online' }), 'servidor online', true],
    [() => mock.on('GET', '/status', (req, res) => { res.writeHead(200); res.end('online'); }), 'offline', false],
    [() => mock.reply('GET', '/status', { status: 'online' }), 'servidor online', true],
    [() => mock.stop(), 'offline', false],
    [() => mock.start(), 'servidor online', true],
  ];
  for (const [act, text, on] of steps) {
    await act();
    const since = mock.requests.length;
    await page.clock.runFor(3000);
    if (mock.server) await mock.waitFor((r) => r.path === '/status', 3000, since);
    await page.waitForFunction(([t, o]) => document.getElementById('st').textContent === t &&
      document.getElementById('dot').classList.contains('on') === o, [text, on]);
  }
  mock.handlers.delete('GET /status');
});

test('polls: status at once and every 3000 ms, properties every 1500 ms from 1500 ms on', async (t) => {
  const start = mock.requests.length;
  const page = await openConsole(browser, mock, { clock: true }, t);
  const counts = () => {
    const seen = mock.requests.slice(start);
    return [seen.filter((r) => r.path === '/status').length, seen.filter((r) => r.path === '/properties').length];
  };
  await mock.waitFor((r) => r.path === '/status', 3000, start);
  await page.clock.runFor(1499);
  await new Promise((r) => setTimeout(r, 150));
  assert.deepEqual(counts(), [1, 0]);
  await page.clock.runFor(1);
  await mock.waitFor((r) => r.path === '/properties', 3000, start);
  await page.clock.runFor(1500);
  await settled(counts, [2, 2]);
  await page.clock.runFor(6000);
  await settled(counts, [4, 6]);
});

test('read-out tiles follow /properties', async (t) => {
  const page = await openConsole(browser, mock, { clock: true }, t);
  const tiles = () => page.evaluate(() => Array.from(document.querySelectorAll('#reads [data-p]'),
    (el) => el.getAttribute('data-p') + '=' + el.textContent).join(' '));
  assert.equal(await tiles(), 'iso=— fnumber=— shutter=— ev=— mode=— focus=— wb=— kelvin=— battery=—');
  const cases = [
    [{ iso: '800', fnumber: 'f/2.8', shutter: '30"', ev: '+0.0', mode: 'M', focus: 'AF-S', wb: 'Auto', kelvin: '5600K', battery: 0 },
      'iso=800 fnumber=f/2.8 shutter=30" ev=+0.0 mode=M focus=AF-S wb=Auto kelvin=5600K battery=0%'],
    // A missing key, an empty text, a null and a battery of -1 each show the dash on their own tile.
    [{ iso: 'AUTO', fnumber: '', shutter: null, mode: 'P', focus: 'MF', wb: 'Outro', kelvin: '—', battery: -1 },
      'iso=AUTO fnumber=— shutter=— ev=— mode=P focus=MF wb=Outro kelvin=— battery=—'],
    [{ iso: 100, battery: 87 }, 'iso=100 fnumber=— shutter=— ev=— mode=— focus=— wb=— kelvin=— battery=87%'],
    [{}, 'iso=— fnumber=— shutter=— ev=— mode=— focus=— wb=— kelvin=— battery=—'],
    [{ iso: '1600', battery: null }, 'iso=1600 fnumber=— shutter=— ev=— mode=— focus=— wb=— kelvin=— battery=—'],
  ];
  for (const [props, expected] of cases) {
    mock.reply('GET', '/properties', props);
    const since = mock.requests.length;
    await page.clock.runFor(1500);
    await mock.waitFor((r) => r.path === '/properties', 3000, since);
    await page.waitForFunction((e) => Array.from(document.querySelectorAll('#reads [data-p]'),
      (el) => el.getAttribute('data-p') + '=' + el.textContent).join(' ') === e, expected);
  }
  // Neither a body that is not JSON nor a dead server changes what the tiles show.
  const last = cases[cases.length - 1][1];
  for (const answer of [(req, res) => { res.writeHead(200); res.end('{"iso":'); }, (req) => req.socket.destroy()]) {
    mock.on('GET', '/properties', answer);
    const since = mock.requests.length;
    await page.clock.runFor(1500);
    await mock.waitFor((r) => r.path === '/properties', 3000, since);
    await new Promise((r) => setTimeout(r, 200));
    assert.equal(await tiles(), last);
  }
  mock.handlers.delete('GET /properties');
});

test('layout: two columns on a wide window, one column at 980 px and below', async (t) => {
  const page = await openConsole(browser, mock, {}, t);
  const columns = () => page.evaluate(() => {
    const [left, right] = document.querySelectorAll('main > div');
    const a = left.getBoundingClientRect(), b = right.getBoundingClientRect();
    return { sideBySide: b.left >= a.right && Math.abs(a.top - b.top) < 1, below: b.top >= a.bottom, rightWidth: b.width };
  });
  for (const [width, sideBySide] of [[1280, true], [981, true], [980, false], [600, false]]) {
    await page.setViewportSize({ width, height: 900 });
    const c = await columns();
    assert.equal(c.sideBySide, sideBySide, 'width ' + width);
    assert.equal(c.below, !sideBySide, 'width ' + width);
    if (sideBySide) assert.equal(c.rightWidth, 340);
  }
});

test('the page loads nothing but its own server routes and raises no script error', async (t) => {
  const page = await browser.newPage();
  t.after(() => page.close());
  const urls = [];
  page.on('request', (r) => urls.push(r.url()));
  await page.goto(mock.url + '/');
  await page.waitForLoadState('networkidle');
  for (const u of urls) assert.ok(u.startsWith(mock.url + '/'), u);
  assert.deepEqual(browser.errors, []);
});
