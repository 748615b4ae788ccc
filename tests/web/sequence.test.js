// The "Sequência" card: what "Iniciar" sends, the card following the answer and the
// server's sequence events (frames taken and skipped in the strip, progress, lateness,
// the controls by state), a sequence started elsewhere shown at load and from the
// events alone, and the card against kamora --server and a virtual camera.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { startMock } = require('./lib/mock-server');
const { launchBrowser } = require('./lib/browser');
const { openConsole, topLogLine } = require('./lib/page');
const { until } = require('./lib/until');
const { binary, get, post, startProgram, BUILD } = require('./lib/procs');

let browser, mock;
before(async () => {
  mock = await startMock('127.23.9.1');
  browser = await launchBrowser();
});
after(async () => {
  await browser.close();
  await mock.stop();
});

// A sequence object as the server writes it.
function sequence(fields) {
  return Object.assign({
    state: 'rodando', frame: 0, count: 10, interval_s: 2, next_due: null, shots: 0, skipped: [],
    late_ms: { p50: null, p95: null, max: null }, bracket: [], camera: 'main',
    start: '2026-01-02T10:00:00.000Z', taken: 0, skipped_total: 0,
  }, fields);
}

// What the card shows: state, progress, lateness, the strip's classes, which buttons work.
const card = (page) => page.evaluate(() => ({
  state: byId('seqstate').textContent,
  progress: byId('seqprog').textContent,
  late: byId('seqlate').textContent,
  strip: [...byId('seqstrip').children].map((c) => c.dataset.frame + ':' + c.className),
  enabled: ['seqgo', 'seqpause', 'seqresume', 'seqstop'].filter((id) => !byId(id).disabled),
}));
const showing = (page, pick, expected) => until(() => card(page), 5000,
  (c) => JSON.stringify(pick(c)) === JSON.stringify(expected), JSON.stringify(expected));

test('Iniciar sends the fields; the answer and each sequence event show in the card', async (t) => {
  mock.on('GET', '/sequence', (req, res) => { res.writeHead(404); res.end('{"status":"nenhuma sequencia"}'); });
  const page = await openConsole(browser, mock, {}, t);
  await showing(page, (c) => [c.state, c.enabled], ['sem sequência', ['seqgo']]);

  mock.reply('POST', '/sequence', sequence({ next_due: new Date(Date.now() + 2000).toISOString(), bracket: [-1, 0, 1] }), 201);
  await page.fill('#seqint', '2');
  await page.fill('#seqcount', '10');
  await page.fill('#seqbr', '-1,0,1');
  await page.fill('#seqstart', '2026-01-02T10:00:00');
  const since = mock.requests.length;
  await page.getByRole('button', { name: 'Iniciar sequência' }).click();
  const sent = await mock.waitFor((r) => r.method === 'POST', 3000, since);
  const startMs = await page.evaluate(() => new Date('2026-01-02T10:00:00').getTime());
  assert.equal(sent.path, '/sequence');
  assert.equal(sent.query, `interval=2&count=10&bracket=-1%2C0%2C1&start=${startMs}`);
  await showing(page, (c) => [c.state, c.progress, c.enabled], ['rodando', 'quadro 0 de 10', ['seqpause', 'seqstop']]);
  assert.match(await topLogLine(page), /sequência iniciada$/);
  assert.match(await page.evaluate(() => byId('seqnext').textContent), /^próximo em [0-2],\d s$/);

  // Each frame event marks the strip; the card then reads the lateness from the server.
  mock.reply('GET', '/sequence', sequence({ frame: 2, skipped: [{ frame: 2, frames: 1, reason: 'perdida' }],
    late_ms: { p50: 0.4, p95: 1.26, max: 2 } }));
  mock.event('sequence', { camera: 'main', frame: 1, due: '2026-01-02T10:00:00.000Z', late_ms: 0.4,
    shots: [{ ev: -1, file: 'KAMORA_00001.JPG', ok: true }] });
  mock.event('sequence', { camera: 'main', frame: 2, due: '2026-01-02T10:00:02.000Z', skipped: true, reason: 'perdida' });
  await showing(page, (c) => [c.strip, c.progress, c.late],
    [['1:sq ok', '2:sq skip perdida'], 'quadro 2 de 10', 'atraso p95: 1,3 ms']);
  // Another camera's sequence, and the rig's, are not this card's.
  mock.event('sequence', { camera: 'left', frame: 3, due: '2026-01-02T10:00:04.000Z', skipped: true, reason: 'ocupada' });
  mock.event('sequence', { rig: true, frame: 3, due: '2026-01-02T10:00:04.000Z', skipped: true, reason: 'perdida' });

  // The controls follow the state the server answers.
  const cases = [
    ['Pausar sequência', '/sequence/pause', 'pausada', 'pausada', ['seqresume', 'seqstop'], /sequência pausada$/],
    ['Retomar sequência', '/sequence/resume', 'rodando', 'rodando', ['seqpause', 'seqstop'], /sequência retomada$/],
    ['Parar sequência', '/sequence/stop', 'parada', 'parada', ['seqgo'], /sequência parada$/],
  ];
  for (const [name, route, state, shown, enabled, line] of cases) {
    mock.reply('POST', route, sequence({ state, frame: 2, skipped: [{ frame: 2, frames: 1, reason: 'perdida' }] }));
    const at = mock.requests.length;
    await page.getByRole('button', { name }).click();
    await mock.waitFor((r) => r.method === 'POST' && r.path === route, 3000, at);
    await showing(page, (c) => [c.state, c.enabled], [shown, enabled]);
    assert.match(await topLogLine(page), line);
  }
  assert.deepEqual((await card(page)).strip, ['1:sq ok', '2:sq skip perdida']);
  // A refusal is logged with the server's reason.
  mock.reply('POST', '/sequence', { status: 'parametro invalido: interval' }, 400);
  await page.getByRole('button', { name: 'Iniciar sequência' }).click();
  await until(() => topLogLine(page), 3000, (l) => l.endsWith('/sequence → parametro invalido: interval'));
  assert.deepEqual(browser.errors, []);
});

test('a sequence started elsewhere shows at load and from the events alone', async (t) => {
  mock.reply('GET', '/sequence', sequence({ state: 'pausada', frame: 5, count: 0,
    skipped: [{ frame: 2, frames: 2, reason: 'atrasada' }, { frame: 5, frames: 1, reason: 'pausada' }] }));
  const page = await openConsole(browser, mock, {}, t);
  await showing(page, (c) => [c.state, c.progress, c.strip], ['pausada', 'quadro 5 (até parar)',
    ['1:sq ok', '2:sq skip atrasada', '3:sq skip atrasada', '4:sq ok', '5:sq skip pausada']]);

  // A new sequence (another start) replaces the strip; its end comes as an event.
  await mock.waitFor((r) => r.path === '/events');
  mock.event('sequence', sequence({ start: '2026-01-02T11:00:00.000Z', count: 3 }));
  await showing(page, (c) => [c.state, c.strip, c.progress], ['rodando', [], 'quadro 0 de 3']);
  mock.event('sequence', sequence({ start: '2026-01-02T11:00:00.000Z', count: 3, state: 'concluida', frame: 3,
    late_ms: { p50: 0.2, p95: 0.31, max: 0.4 } }));
  await showing(page, (c) => [c.state, c.progress, c.late, c.strip.length, c.enabled],
    ['concluída', 'quadro 3 de 3', 'atraso p95: 0,3 ms', 3, ['seqgo']]);
  mock.handlers.delete('GET /sequence');
});

const kamora = binary('kamora');
const vcam = binary('kamora-vcam');
const missing = [!kamora && 'kamora', !vcam && 'kamora-vcam'].filter(Boolean);
const skip = missing.length ? `needs ${missing.join(' and ')} in ${BUILD} (not built)` : false;

test('against kamora: a sequence started with a plain request fills the card, Parar ends it',
  { skip, timeout: 60000 }, async (t) => {
    const SERVER = '127.23.9.2', CAMERA = '127.23.9.3', MAC = '02:00:00:00:17:93';
    const workDir = fs.mkdtempSync(path.join(os.tmpdir(), 'kamora-seq-'));
    const camera = await startProgram(vcam, ['--ip', CAMERA, '--mac', MAC, '--still-size', '1200x800'],
      `http://${CAMERA}:15740/vcam/state`, { cwd: workDir });
    const server = await startProgram(kamora, ['--server', '--host', SERVER, '--port', '8080'],
      `http://${SERVER}:8080/status`, { cwd: workDir });
    t.after(async () => {
      await server.stop();
      await camera.stop();
      fs.rmSync(workDir, { recursive: true, force: true });
    });
    const base = `http://${SERVER}:8080`;
    assert.equal((await post(`${base}/connect?ip=${CAMERA}&mac=${MAC}`)).body, '{"status":"conectado"}');
    const page = await browser.newPage();
    t.after(() => page.close());
    await page.goto(base + '/');
    await until(() => page.evaluate(() => byId('seqstate').textContent), 5000, (s) => s === 'sem sequência');

    assert.equal((await post(`${base}/sequence?interval=1&count=0`)).status, 201);
    // Two frames in the strip, the first taken (a loaded machine may make the next one late).
    const seen = await until(() => card(page), 10000, (c) => c.state === 'rodando' && c.strip.length >= 2,
      'two frames');
    assert.equal(seen.strip[0], '1:sq ok');
    assert.deepEqual(seen.enabled, ['seqpause', 'seqstop']);
    await until(() => card(page), 5000, (c) => /^atraso p95: \d+,\d ms$/.test(c.late), 'a lateness figure');
    await page.getByRole('button', { name: 'Parar sequência' }).click();
    await showing(page, (c) => c.state, 'parada');
    const end = JSON.parse((await get(`${base}/sequence`)).body.toString());
    assert.equal(end.state, 'parada');
    assert.equal((await card(page)).progress, `quadro ${end.frame} (até parar)`);
    assert.deepEqual(browser.errors, []);
  });
