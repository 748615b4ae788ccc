// "Fluido": reading the server's stream (/liveview.mjpg, one JPEG per multipart
// part) as its bytes arrive, in a worker of its own that does nothing else, so the
// stream is drained as it comes and never piles up in buffers while pictures are
// painted; it keeps the newest whole part for the picture worker to ask for.
'use strict';

const FEED_RETRY_MS = 1000;
const FEED_HEAD_MAX = 8192; // a part's header is a few hundred bytes
const CRLF2 = [13, 10, 13, 10];

// Splits a multipart body into parts as its bytes arrive; each part's length
// comes from its Content-Length, so the picture's bytes are never searched.
class PartReader {
  constructor(boundary) {
    this.delimiter = '--' + boundary;
    this.chunks = [];   // Uint8Arrays not yet consumed; the first from `offset`
    this.offset = 0;
    this.size = 0;      // bytes held
    this.head = null;   // the current part's fields while its body arrives
    this.ended = false; // the closing boundary was read
    this.broken = false;
  }

  // The first n held bytes as one array (n is small: a header).
  peek(n) {
    const out = new Uint8Array(Math.min(n, this.size));
    let at = 0;
    for (let i = 0; i < this.chunks.length && at < out.length; i++) {
      const c = i === 0 ? this.chunks[0].subarray(this.offset) : this.chunks[i];
      const k = Math.min(c.length, out.length - at);
      out.set(c.subarray(0, k), at);
      at += k;
    }
    return out;
  }

  // Removes n bytes from the front; returns them as views, without copying.
  take(n) {
    const views = [];
    this.size -= n;
    while (n > 0) {
      const c = this.chunks[0];
      const k = Math.min(c.length - this.offset, n);
      views.push(c.subarray(this.offset, this.offset + k));
      n -= k;
      this.offset += k;
      if (this.offset === c.length) { this.chunks.shift(); this.offset = 0; }
    }
    return views;
  }

  // A part's bytes in one array of their own, which can be moved to a worker.
  static bytesOf(part) {
    const out = new Uint8Array(part.views.reduce(function (n, v) { return n + v.length; }, 0));
    let at = 0;
    part.views.forEach(function (v) { out.set(v, at); at += v.length; });
    return out;
  }

  // Adds bytes; returns the parts they complete: { views, type, stamp, frame, camera,
  // view } (camera and view: the rig's stream, /tiles.mjpg).
  push(bytes) {
    const done = [];
    if (bytes.length) { this.chunks.push(bytes); this.size += bytes.length; }
    while (!this.ended && !this.broken) {
      if (this.head === null && !this.readHead()) break;
      if (this.size < this.head.length) break;
      const part = this.head;
      part.views = this.take(part.length);
      this.head = null;
      done.push(part);
    }
    return done;
  }

  // Reads the next part's header when it has arrived whole; false when more bytes are needed.
  readHead() {
    const win = this.peek(FEED_HEAD_MAX);
    let start = 0;
    while (start + 1 < win.length && win[start] === 13 && win[start + 1] === 10) start += 2;
    const closing = this.delimiter + '--';
    if (win.length - start >= closing.length && latin1(win, start, start + closing.length) === closing) {
      this.ended = true;
      return false;
    }
    const end = indexOf(win, CRLF2, start);
    if (end < 0) {
      if (win.length >= FEED_HEAD_MAX) this.broken = true;
      return false;
    }
    const lines = latin1(win, start, end).split('\r\n');
    if (lines[0] !== this.delimiter) { this.broken = true; return false; }
    const head = { length: -1, type: 'image/jpeg', stamp: 0, frame: 0, camera: '', view: '' };
    for (let i = 1; i < lines.length; i++) {
      const colon = lines[i].indexOf(':');
      if (colon < 0) continue;
      const name = lines[i].slice(0, colon).trim().toLowerCase(), value = lines[i].slice(colon + 1).trim();
      if (name === 'content-length') head.length = /^\d+$/.test(value) ? Number(value) : -1;
      else if (name === 'content-type') head.type = value;
      else if (name === 'x-timestamp') head.stamp = Number(value) || 0;
      else if (name === 'x-frame') head.frame = Number(value) || 0;
      else if (name === 'x-camera') head.camera = value;
      else if (name === 'x-view') head.view = value;
    }
    if (head.length < 0) { this.broken = true; return false; }
    this.take(end + 4);
    this.head = head;
    return true;
  }
}

function latin1(bytes, from, to) {
  let s = '';
  for (let i = from; i < to; i++) s += String.fromCharCode(bytes[i]);
  return s;
}

function indexOf(bytes, pattern, from) {
  outer: for (let i = from; i + pattern.length <= bytes.length; i++) {
    for (let k = 0; k < pattern.length; k++) if (bytes[i + k] !== pattern[k]) continue outer;
    return i;
  }
  return -1;
}

function boundaryOf(contentType) {
  const m = /boundary="?([^";]+)"?/i.exec(contentType || '');
  return m ? m[1] : 'kamoraframe';
}

// Starts following the stream at `url` (absolute: a worker started from a Blob has
// no page address to resolve against). onPart(part, skipped) gets the newest part
// of each read, its bytes in one array, with its type and its X-Timestamp in
// seconds (0 without one);
// `skipped` counts the older parts of that read left out. A stream that ends or
// fails is opened again after a pause, until feedStop.
function feedStart(url, onPart) {
  const run = { url: url, onPart: onPart, stopped: false, abort: null, retry: null };
  feedConnect(run);
  return run;
}

function feedStop(run) {
  run.stopped = true;
  clearTimeout(run.retry);
  if (run.abort) run.abort.abort();
}

function feedConnect(run) {
  run.abort = new AbortController();
  fetch(run.url, { cache: 'no-store', signal: run.abort.signal })
    .then(function (r) {
      if (!r.ok || !r.body) throw new Error('HTTP ' + r.status);
      return feedRead(run, r.body.getReader(), new PartReader(boundaryOf(r.headers.get('Content-Type'))));
    })
    .catch(function () { /* stopped, refused or cut: tried again below */ })
    .then(function () {
      if (!run.stopped) run.retry = setTimeout(function () { feedConnect(run); }, FEED_RETRY_MS);
    });
}

// Reads a multipart body until it ends or stopped() says so, handing the whole
// parts each read completes to onParts. A loop, not a promise that returns the
// next read's: such a chain keeps every read of a stream that never ends (about
// 100 bytes each) until it ends. Also the tiles' stream's reader (js/tiles.js).
async function readParts(reader, parts, stopped, onParts) {
  for (;;) {
    const chunk = await reader.read();
    if (chunk.done || stopped()) return;
    const done = parts.push(chunk.value);
    if (done.length) onParts(done);
    if (parts.ended || parts.broken) {
      await reader.cancel();
      return;
    }
  }
}

function feedRead(run, reader, parts) {
  return readParts(reader, parts, function () { return run.stopped; }, function (done) {
    const part = done[done.length - 1];
    run.onPart({ bytes: PartReader.bytesOf(part), type: part.type, stamp: part.stamp, frame: part.frame }, done.length - 1);
  });
}

// The stream's reader: follows the stream it is told to, keeps only the newest
// whole part, and posts it on the port from the picture worker when asked
// ('next'), at once or as soon as one is whole. Thread-bound: its worker's.
class FeedReader {
  constructor() {
    this.run = null;
    this.port = null;
    this.newest = null;  // { bytes, type, stamp, frame }
    this.wanted = false;
    this.skipped = 0;    // parts a newer one replaced before they were asked for
  }

  receive(msg) {
    if (msg.kind === 'stop') this.stop();
    if (msg.kind !== 'follow') return;
    this.stop();
    this.port = msg.port;
    this.port.addEventListener('message', () => { this.wanted = true; this.give(); });
    this.port.start();
    this.run = feedStart(msg.url, (part, skipped) => {
      this.skipped += skipped + (this.newest !== null ? 1 : 0);
      this.newest = part;
      this.give();
    });
  }

  give() {
    if (!this.wanted || this.newest === null) return;
    const part = this.newest;
    this.newest = null;
    this.wanted = false;
    this.port.postMessage({ bytes: part.bytes, type: part.type, stamp: part.stamp, frame: part.frame, skipped: this.skipped },
      [part.bytes.buffer]);
  }

  stop() {
    if (this.run !== null) { feedStop(this.run); this.run = null; }
    if (this.port !== null) { this.port.close(); this.port = null; }
    this.newest = null;
    this.wanted = false;
  }
}
