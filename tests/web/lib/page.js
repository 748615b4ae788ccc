// Helpers shared by the browser tests: open the console, read pixels, inject the reference.
'use strict';
const fs = require('fs');
const path = require('path');

const REFERENCE = fs.readFileSync(path.join(__dirname, 'reference.js'), 'utf8');

async function openConsole(browser, mock, options = {}, t = null) {
  const page = await browser.newPage();
  if (t) t.after(() => page.close());
  if (options.clock) {
    // Fake timers, paused: time moves only when a test runs the clock.
    await page.clock.install({ time: new Date('2026-01-02T10:00:00') });
    await page.clock.pauseAt(new Date('2026-01-02T10:00:01'));
  }
  if (options.init) await page.addInitScript(options.init);
  await page.goto(mock.url + '/');
  if (options.reference) await page.addScriptTag({ content: REFERENCE });
  return page;
}

// The first log line (the newest).
async function topLogLine(page) {
  return page.evaluate(() => document.getElementById('log').textContent.split('\n')[0]);
}

// Reads the canvas `id` as a plain array of RGBA bytes.
async function canvasPixels(page, id) {
  return page.evaluate((cid) => {
    const c = document.getElementById(cid);
    return Array.from(c.getContext('2d').getImageData(0, 0, c.width, c.height).data);
  }, id);
}

// What the live view shows: the advisor's markup and a digest (size and FNV-1a
// of the RGBA bytes) of the view and each scope, to compare two pages or modes.
async function shownDigest(page) {
  return page.evaluate(() => {
    const out = { advisor: document.getElementById('advisor').innerHTML };
    for (const id of ['view', 'hist', 'wave', 'parade', 'vector']) {
      const c = document.getElementById(id);
      const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
      let h = 0x811c9dc5;
      for (let i = 0; i < d.length; i++) h = Math.imul(h ^ d[i], 16777619);
      out[id] = `${c.width}x${c.height}:${(h >>> 0).toString(16)}`;
    }
    return out;
  });
}

module.exports = { openConsole, topLogLine, canvasPixels, shownDigest, REFERENCE };
