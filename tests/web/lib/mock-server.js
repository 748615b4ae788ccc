// A stand-in for the KAMORA server: serves the console page as the program does (the
// inlined page the build writes), answers the API routes with replies the test chooses
// and records every request.
'use strict';
const http = require('http');
const { servedPage } = require('./served-page');

function json(res, status, obj) {
  const body = typeof obj === 'string' ? obj : JSON.stringify(obj);
  res.writeHead(status, { 'Content-Type': 'application/json' });
  res.end(body);
}

class MockServer {
  constructor(host) {
    this.host = host;
    this.port = 0;
    this.requests = [];
    this.handlers = new Map(); // "METHOD path" -> (req, res, record) => void
    this.waiters = [];
    this.sockets = new Set();
    this.server = null;
    this.page = null;
    this.streams = new Set(); // open GET /events answers
    this.eventId = 0;
  }

  // Sends one server-sent event to every open /events stream.
  event(type, data) {
    const text = `id: ${++this.eventId}\nevent: ${type}\ndata: ${JSON.stringify(data)}\n\n`;
    for (const res of this.streams) res.write(text);
  }

  get url() { return `http://${this.host}:${this.port}`; }

  // Replaces the answer of one route; fn(req, res, record).
  on(method, route, fn) { this.handlers.set(`${method} ${route}`, fn); }

  // Shorthand: answer one route with a JSON object and a status code.
  reply(method, route, obj, status = 200) { this.on(method, route, (req, res) => json(res, status, obj)); }

  start() {
    try {
      this.page = servedPage();
    } catch (e) {
      return Promise.reject(e);
    }
    this.server = http.createServer((req, res) => this.handle(req, res));
    this.server.keepAliveTimeout = 1000;
    this.server.on('connection', (s) => { this.sockets.add(s); s.on('close', () => this.sockets.delete(s)); });
    return new Promise((resolve, reject) => {
      this.server.once('error', reject);
      this.server.listen(this.port, this.host, () => {
        this.port = this.server.address().port;
        resolve(this);
      });
    });
  }

  // Stops listening and drops open connections, as a server that went away.
  stop() {
    return new Promise((resolve) => {
      if (!this.server) return resolve();
      for (const s of this.sockets) s.destroy();
      this.server.close(() => resolve());
      this.server = null;
    });
  }

  handle(req, res) {
    const chunks = [];
    req.on('data', (c) => chunks.push(c));
    req.on('end', () => {
      const u = new URL(req.url, 'http://mock');
      const record = {
        method: req.method,
        path: u.pathname,
        query: u.search.startsWith('?') ? u.search.slice(1) : u.search,
        body: Buffer.concat(chunks),
        headers: req.headers,
        at: Date.now(),
      };
      this.requests.push(record);
      this.waiters = this.waiters.filter((w) => !(w.match(record) && (w.resolve(record), true)));
      const fn = this.handlers.get(`${req.method} ${u.pathname}`);
      if (fn) return fn(req, res, record);
      this.defaultAnswer(req, res, u.pathname);
    });
  }

  defaultAnswer(req, res, p) {
    if (req.method === 'GET' && p === '/') {
      res.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
      return res.end(this.page);
    }
    if (req.method === 'GET' && p === '/status') return json(res, 200, { status: 'online' });
    if (req.method === 'GET' && p === '/properties') return json(res, 200, {});
    if (req.method === 'GET' && p === '/camera') {
      return json(res, 200, { state: 'sem camera', model: null, ip: null, mac: null, since_ms: 0, reconnections: 0,
        last_error: null, liveview_age_ms: null, downloads: 0, suspect: false });
    }
    if (req.method === 'GET' && p === '/events') {
      // Held open, as the server's stream; event() writes to it.
      res.writeHead(200, { 'Content-Type': 'text/event-stream', 'Cache-Control': 'no-cache' });
      res.write('retry: 1000\n\n');
      this.streams.add(res);
      res.on('close', () => this.streams.delete(res));
      return;
    }
    if (req.method === 'GET' && p === '/liveview.jpg') return json(res, 503, { status: 'live view indisponivel' });
    if (req.method === 'POST') return json(res, 200, { status: 'ok' });
    res.writeHead(404);
    res.end();
  }

  // Resolves with the first request (already seen or future) that matches.
  waitFor(match, timeoutMs = 5000, since = 0) {
    const seen = this.requests.slice(since).find(match);
    if (seen) return Promise.resolve(seen);
    return new Promise((resolve, reject) => {
      const w = { match, resolve: (r) => { clearTimeout(w.timer); resolve(r); } };
      w.timer = setTimeout(() => {
        this.waiters = this.waiters.filter((x) => x !== w);
        reject(new Error('no matching request within ' + timeoutMs + ' ms'));
      }, timeoutMs);
      this.waiters.push(w);
    });
  }

  count(method, p) { return this.requests.filter((r) => r.method === method && r.path === p).length; }
}

async function startMock(host) {
  return new MockServer(host).start();
}

module.exports = { startMock, MockServer };
