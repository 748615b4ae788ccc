// Starts the real programs (build/kamora, build/kamora-vcam) for end-to-end tests,
// waits until they answer over HTTP and stops them again.
'use strict';
const { spawn } = require('child_process');
const fs = require('fs');
const path = require('path');
const http = require('http');

const BUILD = path.resolve(process.env.KAMORA_BUILD || path.join(__dirname, '..', '..', '..', 'build'));

function binary(name) {
  const p = path.join(BUILD, name);
  return fs.existsSync(p) ? p : null;
}

function get(url, timeoutMs = 2000) {
  return new Promise((resolve, reject) => {
    const req = http.get(url, { timeout: timeoutMs }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => resolve({ status: res.statusCode, headers: res.headers, body: Buffer.concat(chunks) }));
    });
    req.on('timeout', () => req.destroy(new Error('timeout')));
    req.on('error', reject);
  });
}

function post(url) {
  return new Promise((resolve, reject) => {
    const req = http.request(url, { method: 'POST', timeout: 20000 }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => resolve({ status: res.statusCode, body: Buffer.concat(chunks).toString() }));
    });
    req.on('error', reject);
    req.end();
  });
}

// Runs a program; resolves once `readyUrl` answers, rejects if it exits first or the deadline passes.
async function startProgram(file, args, readyUrl, { cwd, deadlineMs = 10000 } = {}) {
  const child = spawn(file, args, { cwd, stdio: ['ignore', 'pipe', 'pipe'] });
  const proc = { child, output: '', exited: null };
  child.stdout.on('data', (d) => { proc.output += d; });
  child.stderr.on('data', (d) => { proc.output += d; });
  child.on('exit', (code, signal) => { proc.exited = { code, signal }; });
  proc.stop = () => new Promise((resolve) => {
    if (proc.exited) return resolve();
    child.once('exit', () => resolve());
    child.kill('SIGTERM');
    setTimeout(() => { if (!proc.exited) child.kill('SIGKILL'); }, 3000);
  });
  const end = Date.now() + deadlineMs;
  for (;;) {
    if (proc.exited) throw new Error(`${path.basename(file)} exited (${JSON.stringify(proc.exited)}): ${proc.output}`);
    try {
      await get(readyUrl, 500);
      return proc;
    } catch (e) {
      if (Date.now() > end) {
        await proc.stop();
        throw new Error(`${path.basename(file)} did not answer ${readyUrl}: ${proc.output}`);
      }
      await new Promise((r) => setTimeout(r, 100));
    }
  }
}

module.exports = { BUILD, binary, get, post, startProgram };
