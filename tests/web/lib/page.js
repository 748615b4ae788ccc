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

module.exports = { openConsole, topLogLine, canvasPixels, REFERENCE };
