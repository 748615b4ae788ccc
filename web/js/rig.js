// The console as a rig console: with more than one camera in the server, the
// "Câmeras" card shows a tile per camera (GET /cameras, in that order) and one
// camera is in focus. Focusing a camera hands it to every per-camera part, one
// call each; the focus is kept in the page address (#camera=<id>) and chosen
// with a click on a tile or Alt+1…Alt+9. Also adding and removing cameras. With
// only `main` the card stays hidden and nothing here changes the page.
'use strict';

// Ordinary requests at a time while the card shows: with the event stream and the
// tile stream, the page holds at most four connections (js/api.js).
const RIG_REQUESTS = 2;
const RIG_WATCH_MS = 500;

const rig = {
  cameras: [],      // the camera objects of GET /cameras, in its order
  refs: new Map(),  // id -> CameraRef: one per camera, so parts can compare them
  tiles: new Map(), // id -> Tile
  focus: MAIN_CAMERA,
  many: false,      // more than one camera: the card shows
  stream: null,     // the tiles' stream while the card shows
  watch: 0,         // the tiles' no-signal timer
  loading: false,   // a GET /cameras is under way; again: one more after it
  again: false,
};

function rigRef(id) {
  if (id === MAIN_CAMERA.id) return MAIN_CAMERA;
  if (!rig.refs.has(id)) rig.refs.set(id, new CameraRef(id));
  return rig.refs.get(id);
}

function rigInfo(id) { return rig.cameras.find(function (c) { return c.id === id; }) || null; }

// ---- Focus ---------------------------------------------------------------------------

// Every per-camera part addresses camera `id` from now on.
function rigFocus(id) {
  const info = rigInfo(id);
  if (info === null) return;
  const camera = rigRef(id);
  rig.focus = camera;
  commandCards.camera = camera;
  settingsShow(camera);
  healthShow(camera);
  reviewCamera(camera);
  ptzShow(camera, rig.many ? info.model : undefined);
  logShow(camera);
  if (typeof lvCamera === 'function') lvCamera(camera);
  if (typeof sequenceShow === 'function') sequenceShow(camera);
  // The head's card only for a camera with one (with one camera it always shows).
  byId('ptzpad').closest('section').hidden = rig.many && !hasHead(info.model);
  rig.tiles.forEach(function (tile) { tile.focused(tile.id === id); });
  if (rig.many && rigHashId() !== id) history.replaceState(null, '', '#camera=' + encodeURIComponent(id));
}

function rigHashId() {
  const m = /^#camera=(.+)$/.exec(location.hash);
  if (m === null) return null;
  try { return decodeURIComponent(m[1]); } catch (e) { return null; }
}

function rigKeys(e) {
  const digit = /^Digit([1-9])$/.exec(e.code);
  if (!rig.many || !e.altKey || e.ctrlKey || e.metaKey || digit === null) return;
  const info = rig.cameras[Number(digit[1]) - 1];
  if (!info) return;
  e.preventDefault();
  rigFocus(info.id);
}

// ---- The cameras -----------------------------------------------------------------------

// Reads the cameras again (one added or removed, a model that may have changed).
function rigLoad() {
  if (rig.loading) { rig.again = true; return; }
  rig.loading = true;
  requestJson('/cameras')
    .then(function (j) { if (j !== null && typeof j === 'object' && Array.isArray(j.cameras)) rigShow(j.cameras); })
    .catch(function () { /* a server without a rig, or away: as it is */ })
    .then(function () {
      rig.loading = false;
      if (rig.again) { rig.again = false; rigLoad(); }
    });
}

function rigShow(cameras) {
  const known = new Set(rig.tiles.keys());
  rig.cameras = cameras;
  // Before the new tiles ask for their latest shots.
  if (cameras.length > 1) requestsLimit(RIG_REQUESTS);
  const box = byId('tiles');
  cameras.forEach(function (info) {
    known.delete(info.id);
    if (cameras.length > 1 && !health.heard.has(info.id)) cameraChanged(info.id, info);
    let tile = rig.tiles.get(info.id);
    if (tile === undefined) {
      tile = new Tile(info, rigFocus, rigRemove);
      rig.tiles.set(info.id, tile);
      tile.showState(cameraStateOf(info.id));
      rigLatestShot(tile);
    } else {
      tile.update(info);
    }
    box.appendChild(tile.el); // in the server's order
  });
  known.forEach(function (id) {
    rig.tiles.get(id).el.remove();
    rig.tiles.delete(id);
    rig.refs.delete(id);
  });
  rigMany(cameras.length > 1);
  const focus = rigInfo(rig.focus.id) ? rig.focus.id : MAIN_CAMERA.id;
  if (rig.many || focus !== rig.focus.id) rigFocus(focus);
}

// The card shows from the second camera on; the tiles' stream runs while it shows.
function rigMany(many) {
  if (many === rig.many) return;
  rig.many = many;
  byId('rig').hidden = !many;
  requestsLimit(many ? RIG_REQUESTS : Infinity);
  if (many) {
    rig.stream = new TileStream(function (id, bitmap) {
      const tile = rig.tiles.get(id);
      if (tile !== undefined) tile.arrived(bitmap);
      else bitmap.close();
    });
    rig.watch = setInterval(function () { rig.tiles.forEach(function (tile) { tile.watch(); }); }, RIG_WATCH_MS);
    const wanted = rigHashId();
    if (wanted !== null && rigInfo(wanted) !== null) rig.focus = rigRef(wanted);
    // A running live view opens the stream with its full pictures; once only.
    if (typeof lvReopen === 'function') lvReopen();
    if (!rig.stream.running) rig.stream.open(null, 0);
  } else {
    rig.stream.close();
    rig.stream = null;
    clearInterval(rig.watch);
    if (location.hash.startsWith('#camera=')) history.replaceState(null, '', location.pathname + location.search);
    if (typeof lvReopen === 'function') lvReopen();
  }
}

// The full pictures of `camera` come with the tiles, at most fps a second (0: all
// of them; camera null: none); true when the tiles' stream runs to carry them.
function rigStreamFull(camera, fps) {
  if (rig.stream === null) return false;
  const full = camera === null ? null : camera.id;
  if (rig.stream.full !== full || rig.stream.fps !== (fps || 0)) rig.stream.open(full, fps || 0);
  return true;
}

function rigLatestShot(tile) {
  requestJson(tile.camera.url('/captures?limit=1'))
    .then(function (j) { if (j && Array.isArray(j.pictures) && j.pictures[0]) tile.showShot(j.pictures[0].name); })
    .catch(function () { /* no pictures yet */ });
}

// ---- Adding and removing -----------------------------------------------------------------

function rigSay(text) { byId('rigmsg').textContent = text; }

function rigAdd() {
  const login = byId('addssh').value === '1' ? '&user=adduser&pass=addpass' : '';
  // A form body: the SSH password stays out of the address.
  const body = fields('id=addid&ip=addip&mac=addmac&model=addmodel&ssh=addssh' + login);
  const button = byId('addbtn');
  button.disabled = true;
  rigSay('adicionando…');
  request('/cameras', { method: 'POST', headers: { 'Content-Type': 'application/x-www-form-urlencoded' }, body: body }, 'json')
    .then(function (r) {
      if (r.status !== 201) return rigSay(r.body.status);
      rigSay('câmera ' + r.body.id + ' adicionada: ' + cameraLook(r.body.state, r.body.attempt)[1]);
      log('câmera ' + r.body.id + ' adicionada');
      rigLoad();
    })
    .catch(function (e) { rigSay('✗ ' + (e && e.message ? e.message : String(e))); })
    .then(function () { button.disabled = false; });
}

function rigRemove(tile) {
  if (!confirm('Remover a câmera ' + tile.id + '?')) return;
  request(tile.camera.url(''), { method: 'DELETE' }, 'json')
    .then(function (r) {
      rigSay(tile.id + ': ' + r.body.status);
      if (r.ok) log('câmera ' + tile.id + ' removida');
      rigLoad();
    })
    .catch(function (e) { rigSay('✗ ' + (e && e.message ? e.message : String(e))); });
}

// ---- Wiring -----------------------------------------------------------------------------

// The cameras come first on each (re)opened event stream, then their changes.
onServerEvent('cameras', function (e) {
  try {
    const j = JSON.parse(e.data);
    if (j !== null && typeof j === 'object' && Array.isArray(j.cameras)) rigShow(j.cameras);
  } catch (err) { /* not JSON: ignore */ }
});
onServerEvent('rig', rigLoad);
onServerEvent('capture', function (e) {
  const tile = rig.tiles.get(eventCamera(e));
  try {
    const name = JSON.parse(e.data).name;
    if (tile !== undefined && typeof name === 'string') tile.showShot(name);
  } catch (err) { /* not JSON: ignore */ }
});
health.watchers.push(function (id, state) {
  const tile = rig.tiles.get(id);
  if (tile !== undefined) tile.showState(state);
  // A camera that (re)connects may be another model now: its head, its tile.
  if (state.state === 'conectada' && rig.many) rigLoad();
});
document.addEventListener('keydown', rigKeys);
window.addEventListener('hashchange', function () {
  const id = rigHashId();
  if (rig.many && id !== null && id !== rig.focus.id) rigFocus(id);
});
// The add form offers what the connection form does.
byId('addmodel').innerHTML = byId('model').innerHTML;
byId('addssh').innerHTML = byId('ssh').innerHTML;
byId('addssh').addEventListener('change', function () { byId('addlogin').hidden = this.value !== '1'; });
byId('addform').addEventListener('submit', function (e) { e.preventDefault(); rigAdd(); });
