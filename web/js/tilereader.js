// The tiles' worker: follows the rig's one stream (/tiles.mjpg) for the page,
// turns each camera's newest tile picture into a bitmap, and passes the focused
// camera's full pictures on as whole bytes, straight to the picture worker. On
// the page the stream's reads, the parts' headers and copies, a Blob of each
// tile's bytes and the start of its decoding cost the main thread about 2 ms a
// tile picture, with eight cameras 64 times a second, and a held key waited
// behind them. The stream is fetched here too: a body read on the page, even
// one handed to a worker, passes every chunk through the page's main thread.
// Loaded in the page, this file only defines names.
'use strict';

// Receives { kind: 'open', n, url } (url absolute: a worker started from a Blob has
// no page address), { kind: 'stop', n } and { kind: 'pictures', port }, the
// channel to the picture worker. Posts to the page, for stream n:
//   { kind: 'opened', n, ok, status, stream }: its answer came (stream: X-Stream);
//   { kind: 'tile', n, camera, bitmap }: a camera's newest tile, decoded;
//   { kind: 'ended', n }: the stream ended, failed or was stopped;
// and on the port each full picture, { camera, bytes, type, stamp }
// (left out while there is no port: no live view has asked for them).
// One tile decodes at a time per camera; a newer part replaces the one waiting,
// and a part that does not decode is skipped. Thread-bound: its worker's.
class TileReader {
  constructor(scope) {
    this.scope = scope;
    this.reading = new Map(); // n -> the AbortController of each stream followed
    this.cameras = new Map(); // camera id -> { pending, decoding }
    this.pictures = null;     // the port to the picture worker
  }

  receive(msg) {
    if (msg.kind === 'stop') this.stop(msg.n);
    if (msg.kind === 'open') this.open(msg.n, msg.url);
    if (msg.kind === 'pictures') this.pictures = msg.port;
  }

  open(n, url) {
    const abort = new AbortController();
    this.reading.set(n, abort);
    const stopped = () => abort.signal.aborted;
    fetch(url, { cache: 'no-store', signal: abort.signal })
      .then((r) => {
        const ok = r.ok && !!r.body;
        this.scope.postMessage({ kind: 'opened', n: n, ok: ok, status: r.status, stream: r.headers.get('X-Stream') });
        if (!ok) throw new Error('HTTP ' + r.status);
        return readParts(r.body.getReader(), new PartReader(boundaryOf(r.headers.get('Content-Type'))), stopped,
          (done) => this.parts(n, done));
      })
      .catch(() => { /* refused, cut or stopped: ended all the same */ })
      .then(() => {
        this.reading.delete(n);
        this.scope.postMessage({ kind: 'ended', n: n });
      });
  }

  stop(n) {
    const abort = this.reading.get(n);
    if (abort !== undefined) abort.abort();
  }

  // Every camera's newest part of a read; older ones of the same camera are left.
  parts(n, done) {
    const newest = new Map();
    done.forEach((part) => newest.set(part.view + ' ' + part.camera, part));
    newest.forEach((part) => {
      if (part.view !== 'full') return this.offer(n, part);
      if (this.pictures === null) return;
      const bytes = PartReader.bytesOf(part);
      this.pictures.postMessage({ camera: part.camera, bytes: bytes, type: part.type, stamp: part.stamp }, [bytes.buffer]);
    });
  }

  offer(n, part) {
    let camera = this.cameras.get(part.camera);
    if (camera === undefined) this.cameras.set(part.camera, camera = { pending: null, decoding: false });
    camera.pending = { n: n, part: part };
    if (!camera.decoding) this.decode(part.camera, camera);
  }

  decode(id, camera) {
    const next = camera.pending;
    camera.pending = null;
    if (next === null) return;
    camera.decoding = true;
    createImageBitmap(new Blob(next.part.views, { type: next.part.type }))
      .then((bitmap) => this.scope.postMessage({ kind: 'tile', n: next.n, camera: id, bitmap: bitmap }, [bitmap]),
        () => { /* does not decode: skipped */ })
      .then(() => {
        camera.decoding = false;
        this.decode(id, camera);
      });
  }
}
