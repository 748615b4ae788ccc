// The tiles of the "Câmeras" card, one per camera: its id, model, state (the
// camera indicator's dot and words), a live picture and its latest shot; and the
// one stream all tiles read together (GET /tiles.mjpg), which also carries the
// focused camera's full pictures while its live view follows the stream.
'use strict';

const TILE_SILENCE_MS = 2000; // no picture for this long reads as no signal
const TILE_RETRY_MS = 1000;

// One camera's tile. Thread-bound: the page's.
class Tile {
  constructor(info, onFocus, onRemove) {
    this.id = info.id;
    this.camera = new CameraRef(info.id);
    this.model = null;
    this.el = document.createElement('div');
    this.el.className = 'tile';
    this.el.dataset.camera = info.id;
    this.el.tabIndex = 0;
    this.el.innerHTML = '<div class="tview"><canvas width="256" height="170"></canvas>' +
      '<div class="tnosig">SEM SINAL</div><img class="tshot" alt="" hidden></div>' +
      '<div class="tinfo"><span class="tdot"></span><b class="tid"></b><span class="tmodel"></span>' +
      '<button class="sec tdel" title="Remover câmera">×</button></div><div class="tstate"></div>';
    this.canvas = this.el.querySelector('canvas');
    this.ctx = this.canvas.getContext('2d');
    this.shot = this.el.querySelector('.tshot');
    this.el.querySelector('.tid').textContent = info.id;
    const remove = this.el.querySelector('.tdel');
    if (info.id === MAIN_CAMERA.id) remove.remove();
    else remove.addEventListener('click', (e) => { e.stopPropagation(); onRemove(this); });
    this.el.addEventListener('click', () => onFocus(this.id));
    this.drawn = 0;         // pictures drawn, for the figures
    this.lastPicture = 0;   // when the last one was drawn (ms)
    this.ready = null;      // the newest bitmap decoded and not drawn yet
    this.shotName = null;
    this.update(info);
  }

  // info: the camera object of GET /cameras.
  update(info) {
    this.model = info.model;
    this.el.querySelector('.tmodel').textContent = info.model || '';
  }

  // state: { state, attempt } as health.js keeps it.
  showState(state) {
    const look = cameraLook(state.state, state.attempt);
    this.el.querySelector('.tdot').className = 'tdot ' + look[0];
    this.el.querySelector('.tstate').textContent = look[1];
    this.watch();
  }

  // "SEM SINAL" over the last picture while the camera is lost or silent.
  watch() {
    const silent = this.lastPicture > 0 && Date.now() - this.lastPicture > TILE_SILENCE_MS;
    this.el.classList.toggle('nosignal', cameraLostById(this.id) || silent);
  }

  // A picture decoded by the tiles' worker: drawn with the next batch, in place
  // of one still waiting.
  arrived(bitmap) {
    if (this.ready !== null) this.ready.close();
    this.ready = bitmap;
    tileWaits(this);
  }

  drawReady() {
    const bitmap = this.ready;
    this.ready = null;
    if (bitmap === null) return;
    try { this.draw(bitmap); } finally { bitmap.close(); }
  }

  draw(bitmap) {
    if (this.canvas.width !== bitmap.width) this.canvas.width = bitmap.width;
    if (this.canvas.height !== bitmap.height) this.canvas.height = bitmap.height;
    this.ctx.drawImage(bitmap, 0, 0);
    this.drawn++;
    this.lastPicture = Date.now();
    this.watch();
  }

  // The thumbnail of the camera's newest picture, by its name in the capture folder.
  showShot(name) {
    if (name === this.shotName) return;
    this.shotName = name;
    this.shot.title = name;
    pictureInto(this.shot, this.camera.url('/captures/' + encodeURIComponent(name) + '?size=thumb'))
      .then(() => { if (this.shotName === name) this.shot.hidden = false; })
      .catch(() => { /* gone or unreadable: the tile keeps the one before */ });
  }

  focused(on) { this.el.classList.toggle('focus', on); }
}

// The tiles' stream is followed by a worker of its own (js/tilereader.js), made
// with the first stream or by tileWorker(): tileOpen(url, handlers) asks it to
// open one and gives { n, opened, ended }: opened settles with { ok, status,
// stream } when the answer came (ok false when it failed first), ended when the
// worker is done with the stream or tileStop(n). Its tiles come to
// handlers.tile(camera, bitmap); its full pictures go straight to the picture
// worker, linked by the live view (PictureHost.followTiles).
// Thread-bound: the page's.
const tileReading = { worker: null, next: 0, streams: new Map() };

function tileWorker() {
  if (tileReading.worker === null) {
    const worker = tileReading.worker = pageWorker('tiles');
    worker.addEventListener('message', function (e) { tileMessage(e.data); });
    // A worker that fails ends every stream it followed: each is opened again.
    worker.addEventListener('error', function () {
      Array.from(tileReading.streams.keys()).forEach(tileStop);
    });
  }
  return tileReading.worker;
}

function tileOpen(url, handlers) {
  tileWorker();
  const n = tileReading.next++;
  const stream = { tile: handlers.tile, opened: null, ended: null };
  const run = {
    n: n,
    opened: new Promise(function (resolve) { stream.opened = resolve; }),
    ended: new Promise(function (resolve) { stream.ended = resolve; }),
  };
  tileReading.streams.set(n, stream);
  tileReading.worker.postMessage({ kind: 'open', n: n, url: new URL(url, location.href).href });
  return run;
}

function tileStop(n) {
  const stream = tileReading.streams.get(n);
  if (stream === undefined) return;
  tileReading.streams.delete(n);
  tileReading.worker.postMessage({ kind: 'stop', n: n });
  stream.opened({ ok: false, status: 0, stream: null }); // no effect once the answer came
  stream.ended();
}

function tileMessage(msg) {
  const stream = tileReading.streams.get(msg.n);
  if (stream === undefined) { // a stream let go meanwhile
    if (msg.kind === 'tile') msg.bitmap.close();
    return;
  }
  if (msg.kind === 'opened') stream.opened(msg);
  else if (msg.kind === 'tile') stream.tile(msg.camera, msg.bitmap);
  else if (msg.kind === 'ended') tileStop(msg.n);
}

// Tiles' pictures decoded and not drawn yet are drawn together, in the frame the
// live view draws its next picture in (tilesDrawReady from showPicture), or
// TILE_BATCH_MS after the first came when no picture of the view comes sooner.
// Every frame of the page costs its main thread the page's layout, paint and
// commit; tiles drawn as each came made a frame of their own for nearly every
// picture, about twice as many frames as the view alone with eight cameras.
const TILE_BATCH_MS = 60;
const tileBatch = { ready: new Set(), timer: 0 };

function tileWaits(tile) {
  tileBatch.ready.add(tile);
  if (!tileBatch.timer) tileBatch.timer = setTimeout(tilesDrawReady, TILE_BATCH_MS);
}

function tilesDrawReady() {
  clearTimeout(tileBatch.timer);
  tileBatch.timer = 0;
  tileBatch.ready.forEach(function (tile) { tile.drawReady(); });
  tileBatch.ready.clear();
}

// The one stream of every camera's pictures, followed by the tiles' worker. Tiles get
// their pictures as onTile(camera id, bitmap); the full pictures of the camera asked
// for go from the tiles' worker to the picture worker. A stream that ends
// or fails is opened again a second later until stopped. Thread-bound: the page's.
class TileStream {
  constructor(onTile) {
    this.onTile = onTile;
    this.full = null;      // the id of the camera whose full pictures are asked for
    this.fps = 0;
    this.abort = null;
    this.retry = 0;
    this.running = false;
    this.id = null;        // the running stream's X-Stream, once its answer came
    this.opening = false;  // its request is waiting for a turn or for the answer
    this.moving = false;   // a POST /tiles/full is under way; again: one more after it
    this.again = false;
  }

  // Asks for the full pictures of camera `full` (null: none), at most fps a second
  // (0: every one): on the stream already running, which the server moves over
  // (POST /tiles/full), or on a stream opened now. A stream still opening is left
  // to open: it asks for what is wanted when it leaves, and moves once answered
  // if that changed meanwhile. Moving keeps the connection: a stream opened again
  // would hold a second one until the first is let go.
  open(full, fps) {
    this.full = full;
    this.fps = fps;
    if (this.running && this.id !== null) this.move();
    else if (!this.running || !this.opening) this.reconnect();
  }

  // One move at a time, each asking for what is wanted when it leaves: two under
  // way together could reach the server in either order.
  move() {
    if (this.moving) { this.again = true; return; }
    this.moving = true;
    const id = this.id;
    const query = 'stream=' + encodeURIComponent(id) + '&full=' + encodeURIComponent(this.full === null ? '' : this.full) +
      (this.fps ? '&fps=' + this.fps : '');
    request('/tiles/full?' + query, { method: 'POST' }, 'json')
      .then((r) => { if (!r.ok) throw new Error('HTTP ' + r.status); })
      .catch(() => {
        // Gone meanwhile (a new server, a stream cut): a new stream with what is asked now.
        if (this.running && this.id === id) this.reconnect();
      })
      .then(() => {
        this.moving = false;
        if (!this.again) return;
        this.again = false;
        if (this.running && this.id !== null) this.move();
      });
  }

  reconnect() {
    this.close();
    this.running = true;
    this.connect();
  }

  close() {
    this.running = false;
    this.id = null;
    this.opening = false;
    clearTimeout(this.retry);
    if (this.abort !== null) this.abort.abort();
    this.abort = null;
  }

  // Opening takes one of the page's request turns until the answer comes
  // (js/api.js), so the browser finds the stream a free connection.
  connect() {
    const abort = new AbortController();
    this.abort = abort;
    let asked = null; // [full, fps] as they were when the request left
    let run = null;
    let turn = false;
    const done = () => { if (turn) { turn = false; requestDone(); } if (this.abort === abort) this.opening = false; };
    this.opening = true;
    requestTurn()
      .then(() => {
        turn = true;
        if (abort.signal.aborted) throw new Error('closed');
        asked = [this.full, this.fps];
        let url = '/tiles.mjpg';
        if (this.full !== null) url += '?full=' + encodeURIComponent(this.full) + (this.fps ? '&fps=' + this.fps : '');
        run = tileOpen(url, { tile: this.onTile });
        abort.signal.addEventListener('abort', function () { tileStop(run.n); });
        return run.opened;
      })
      .then((answer) => {
        done();
        if (!answer.ok) throw new Error('HTTP ' + answer.status);
        this.id = answer.stream;
        // Asked for something else while it opened: moved over, or without an id opened again.
        if (asked[0] !== this.full || asked[1] !== this.fps) {
          if (this.id === null) return this.reconnect();
          this.move();
        }
        return run.ended;
      })
      .catch(() => { /* closed, refused or cut: tried again below */ })
      .then(() => {
        done();
        if (this.abort !== abort) return;
        this.id = null;
        if (this.running) this.retry = setTimeout(() => this.connect(), TILE_RETRY_MS);
      });
  }
}
