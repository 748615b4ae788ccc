// "Fluido": the live view read from the server's stream (/liveview.mjpg, one
// JPEG per multipart part), each picture decoded off the main thread. A view
// that falls behind drops pictures: only the newest undecoded one is kept.
'use strict';

const FEED_RETRY_MS = 1000;
const FEED_HEAD_MAX = 8192; // a part's header is a few hundred bytes
const CRLF2 = [13, 10, 13, 10];

// Splits a multipart body into parts as its bytes arrive; each part's length
// comes from its Content-Length, so the picture's bytes are never searched.
function PartReader(boundary) {
  this.delimiter = '--' + boundary;
  this.chunks = [];   // Uint8Arrays not yet consumed; the first from `offset`
  this.offset = 0;
  this.size = 0;      // bytes held
  this.head = null;   // the current part's fields while its body arrives
  this.ended = false; // the closing boundary was read
  this.broken = false;
}

// The first n held bytes as one array (n is small: a header).
PartReader.prototype.peek = function (n) {
  const out = new Uint8Array(Math.min(n, this.size));
  let at = 0;
  for (let i = 0; i < this.chunks.length && at < out.length; i++) {
    const c = i === 0 ? this.chunks[0].subarray(this.offset) : this.chunks[i];
    const k = Math.min(c.length, out.length - at);
    out.set(c.subarray(0, k), at);
    at += k;
  }
  return out;
};

// Removes n bytes from the front; returns them as views, without copying.
PartReader.prototype.take = function (n) {
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
};

// Adds bytes; returns the parts they complete: { views, type, stamp, frame }.
PartReader.prototype.push = function (bytes) {
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
};

// Reads the next part's header when it has arrived whole; false when more bytes are needed.
PartReader.prototype.readHead = function () {
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
  const head = { length: -1, type: 'image/jpeg', stamp: 0, frame: 0 };
  for (let i = 1; i < lines.length; i++) {
    const colon = lines[i].indexOf(':');
    if (colon < 0) continue;
    const name = lines[i].slice(0, colon).trim().toLowerCase(), value = lines[i].slice(colon + 1).trim();
    if (name === 'content-length') head.length = /^\d+$/.test(value) ? Number(value) : -1;
    else if (name === 'content-type') head.type = value;
    else if (name === 'x-timestamp') head.stamp = Number(value) || 0;
    else if (name === 'x-frame') head.frame = Number(value) || 0;
  }
  if (head.length < 0) { this.broken = true; return false; }
  this.take(end + 4);
  this.head = head;
  return true;
};

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

// Starts following the stream; onPicture(bitmap, stamp) gets each picture drawn
// (stamp: its X-Timestamp in seconds, 0 without one). A stream that ends or
// fails is opened again after a pause, until feedStop.
function feedStart(onPicture) {
  const run = { onPicture: onPicture, stopped: false, abort: null, retry: null, pending: null, busy: false, dropped: 0 };
  feedConnect(run);
  return run;
}

function feedStop(run) {
  run.stopped = true;
  run.pending = null;
  clearTimeout(run.retry);
  if (run.abort) run.abort.abort();
}

function feedConnect(run) {
  run.abort = new AbortController();
  fetch('/liveview.mjpg', { cache: 'no-store', signal: run.abort.signal })
    .then(function (r) {
      if (!r.ok || !r.body) throw new Error('HTTP ' + r.status);
      return feedRead(run, r.body.getReader(), new PartReader(boundaryOf(r.headers.get('Content-Type'))));
    })
    .catch(function () { /* stopped, refused or cut: tried again below */ })
    .then(function () {
      if (!run.stopped) run.retry = setTimeout(function () { feedConnect(run); }, FEED_RETRY_MS);
    });
}

function feedRead(run, reader, parts) {
  return reader.read().then(function (chunk) {
    if (chunk.done || run.stopped) return undefined;
    const done = parts.push(chunk.value);
    if (done.length) feedOffer(run, done[done.length - 1], done.length - 1);
    if (parts.ended || parts.broken) return reader.cancel();
    return feedRead(run, reader, parts);
  });
}

// The newest part replaces any that waits undecoded.
function feedOffer(run, part, skipped) {
  run.dropped += skipped + (run.pending !== null ? 1 : 0);
  run.pending = part;
  if (!run.busy) feedDecode(run);
}

// One picture is decoded at a time, off the main thread; the next decode
// starts before the decoded one is drawn, so decoding and drawing overlap.
function feedDecode(run) {
  const part = run.pending;
  run.pending = null;
  if (part === null || run.stopped) return;
  run.busy = true;
  createImageBitmap(new Blob(part.views, { type: part.type }))
    .then(function (bitmap) {
      run.busy = false;
      if (run.stopped) { bitmap.close(); return; }
      feedDecode(run);
      run.onPicture(bitmap, part.stamp);
    }, function () {
      run.busy = false; // a picture that does not decode is skipped
      feedDecode(run);
    });
}
