// Starts Debian's Chromium headless through playwright-core, with a fresh profile
// and the background-networking features off so nothing leaves the machine.
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const { chromium } = require('playwright-core');

const EXECUTABLE = process.env.KAMORA_CHROMIUM || '/usr/bin/chromium';
const ARGS = [
  '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
];

async function launchBrowser(options = {}) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'kamora-web-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: EXECUTABLE,
    headless: true,
    args: ARGS,
    acceptDownloads: true,
    viewport: options.viewport || { width: 1280, height: 900 },
  });
  const errors = [];
  context.on('weberror', (e) => errors.push(String(e.error())));
  return {
    context,
    errors,
    async newPage() {
      const page = await context.newPage();
      page.on('pageerror', (e) => errors.push(String(e)));
      return page;
    },
    async close() {
      await context.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

module.exports = { launchBrowser, EXECUTABLE, ARGS };
