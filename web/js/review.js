// Tethered review: the newest picture of the capture folder in the "Última foto" card
// with its settings, RGB histogram and clipped share, and the strip of every picture,
// newest first, of the camera it is handed (reviewCamera). Follows the server's
// capture events; polls when it has none.
'use strict';

// ---- Counts and marks (plain functions over RGBA bytes) -----------------------

// Histogram per channel and the pixels at the ends of each channel: highlights
// clipped where a channel is 255, shadows crushed where it is 0.
function clipCounts(px) {
  const c = {
    hr: new Float64Array(256), hg: new Float64Array(256), hb: new Float64Array(256),
    hiR: 0, hiG: 0, hiB: 0, loR: 0, loG: 0, loB: 0, count: px.length >> 2
  };
  const hr = c.hr, hg = c.hg, hb = c.hb;
  for (let i = 0; i < px.length; i += 4) {
    hr[px[i]]++; hg[px[i + 1]]++; hb[px[i + 2]]++;
  }
  c.hiR = hr[255]; c.hiG = hg[255]; c.hiB = hb[255];
  c.loR = hr[0]; c.loG = hg[0]; c.loB = hb[0];
  return c;
}

// Marks in place: a pixel with any channel at 255 turns magenta, else one with any
// channel at 0 turns blue.
function markClipped(px) {
  for (let i = 0; i < px.length; i += 4) {
    const r = px[i], g = px[i + 1], b = px[i + 2];
    if (r === 255 || g === 255 || b === 255) {
      px[i] = 255; px[i + 1] = 0; px[i + 2] = 180;
    } else if (r === 0 || g === 0 || b === 0) {
      px[i] = 0; px[i + 1] = 90; px[i + 2] = 255;
    }
  }
}

// The read-outs of one listing entry, as the settings tiles write them.
function reviewReadouts(e) {
  const ev = typeof e.ev === 'number' ? (e.ev < 0 ? '' : '+') + e.ev.toFixed(1) : '—';
  return {
    iso: typeof e.iso === 'number' ? String(e.iso) : '—',
    fnumber: typeof e.fnumber === 'number' ? 'f/' + e.fnumber : '—',
    shutter: typeof e.shutter === 'string' && e.shutter !== '' ? e.shutter : '—',
    ev: ev,
  };
}

function clipText(c) {
  const pct = function (n) { return (c.count ? n / c.count * 100 : 0).toFixed(1) + '%'; };
  return ['Estouros (255): R ' + pct(c.hiR) + ' · G ' + pct(c.hiG) + ' · B ' + pct(c.hiB),
    'Sombras (0): R ' + pct(c.loR) + ' · G ' + pct(c.loG) + ' · B ' + pct(c.loB)];
}

// ---- The card ---------------------------------------------------------------

const RV_POLL_MS = 2000;
const RV_PAGE = 50;
const rvCanvas = byId('rvview');
const rvCtx = rvCanvas.getContext('2d', { willReadFrequently: true });
const rvHistCtx = byId('rvhist').getContext('2d');
const rv = {
  camera: MAIN_CAMERA, // whose folder the card shows
  shown: null,    // the entry in the card
  pixels: null,   // its pixels as decoded; the marks are painted on a copy
  marks: false,
  token: 0,       // the latest picture asked for; slower loads of older ones give way
  newest: null,   // name of the newest picture seen
  entries: {},    // name -> listing entry, for the strip's pictures
  more: false,    // the strip has more pictures to load at its end
  paging: false,
  heading: false, // a check for a new picture is under way; again: one more after it
  again: false,
  poll: null,
};

function pictureUrl(name, size, camera) {
  return (camera || rv.camera).url('/captures/' + encodeURIComponent(name) + (size ? '?size=' + size : ''));
}

function paintReview() {
  if (!rv.pixels) return;
  if (!rv.marks) {
    rvCtx.putImageData(rv.pixels, 0, 0);
    return;
  }
  const copy = new ImageData(new Uint8ClampedArray(rv.pixels.data), rv.pixels.width, rv.pixels.height);
  markClipped(copy.data);
  rvCtx.putImageData(copy, 0, 0);
}

function drawReviewHist(c) {
  rvHistCtx.clearRect(0, 0, SW, SH);
  // Scaled to the tallest bin between the ends, so a clipped spike (its share is
  // written below) does not flatten the rest; it runs off the top instead.
  const peak = peakOf([c.hr.subarray(1, 255), c.hg.subarray(1, 255), c.hb.subarray(1, 255)]);
  rvHistCtx.globalCompositeOperation = 'lighter';
  histArea(rvHistCtx, c.hr, peak, 'rgba(255,60,60,.5)');
  histArea(rvHistCtx, c.hg, peak, 'rgba(60,255,60,.5)');
  histArea(rvHistCtx, c.hb, peak, 'rgba(80,120,255,.5)');
  rvHistCtx.globalCompositeOperation = 'source-over';
}

function showReadouts(e) {
  const values = reviewReadouts(e);
  byId('review').querySelectorAll('[data-r]').forEach(function (el) {
    el.textContent = values[el.getAttribute('data-r')];
  });
  const size = e.width && e.height ? ' · ' + e.width + ' × ' + e.height : '';
  byId('rvname').textContent = e.name + size + (e.taken ? ' · ' + e.taken.replace('T', ' ') : '');
}

// Shows one picture: its screen-size copy, read-outs, histogram and clipped share.
function reviewShow(e) {
  const token = ++rv.token;
  const img = new Image();
  return pictureInto(img, pictureUrl(e.name, 'screen')).then(function () {
    if (token !== rv.token) return;
    const w = img.naturalWidth, h = img.naturalHeight;
    if (rvCanvas.width !== w) rvCanvas.width = w;
    if (rvCanvas.height !== h) rvCanvas.height = h;
    drawReplacing(rvCtx, img, w, h);
    rv.pixels = rvCtx.getImageData(0, 0, w, h);
    rv.shown = e;
    if (rv.marks) paintReview();
    const c = clipCounts(rv.pixels.data);
    drawReviewHist(c);
    const lines = clipText(c);
    byId('rvclip').textContent = lines[0] + '\n' + lines[1];
    showReadouts(e);
    byId('rvempty').hidden = true;
    byId('rvstrip').querySelectorAll('img').forEach(function (t) {
      t.classList.toggle('sel', t.dataset.name === e.name);
    });
    rvCanvas.dataset.name = e.name;
  }).catch(function () { /* gone or unreadable: the card keeps what it shows */ });
}

function reviewToggleMarks() {
  rv.marks = !rv.marks;
  byId('rvmark').classList.toggle('on', rv.marks);
  paintReview();
}

function reviewOpen() {
  if (rv.shown) window.open(pictureUrl(rv.shown.name), '_blank', 'noopener');
}

// ---- The strip ----------------------------------------------------------------

function thumbOf(e) {
  const t = document.createElement('img');
  t.loading = 'lazy';
  t.alt = e.name;
  t.title = e.name;
  t.dataset.name = e.name;
  if (rv.shown && rv.shown.name === e.name) t.className = 'sel';
  lazyPicture(t, pictureUrl(e.name, 'thumb'));
  t.onclick = function () { reviewShow(e); };
  return t;
}

// A page of the folder's listing; rejects when the card was handed another camera
// meanwhile, so nothing of the camera before lands in it.
function listPage(query) {
  const camera = rv.camera;
  return requestJson(camera.url('/captures?' + query))
    .then(function (j) {
      if (j === null || typeof j !== 'object' || !Array.isArray(j.pictures)) throw new Error('listagem');
      if (camera !== rv.camera) throw new Error('outra câmera');
      return j;
    });
}

// Puts the newest pictures at the strip's head, down to the first one it holds;
// when none of them is held the strip starts again from this page.
function stripHead() {
  return listPage('limit=' + RV_PAGE).then(function (j) {
    const strip = byId('rvstrip');
    const fresh = [];
    let joined = false;
    for (const e of j.pictures) {
      if (rv.entries[e.name]) { joined = true; break; }
      fresh.push(e);
    }
    if (!joined) {
      strip.textContent = '';
      rv.entries = {};
      rv.more = j.more === true;
    }
    const first = strip.firstChild;
    fresh.forEach(function (e) {
      rv.entries[e.name] = e;
      strip.insertBefore(thumbOf(e), first);
    });
    stripFill();
  });
}

// The next page at the strip's end.
function stripMore() {
  const strip = byId('rvstrip');
  if (!rv.more || rv.paging || !strip.lastChild) return Promise.resolve();
  rv.paging = true;
  const last = strip.lastChild.dataset.name;
  return listPage('limit=' + RV_PAGE + '&before=' + encodeURIComponent(last)).then(function (j) {
    rv.more = j.more === true;
    j.pictures.forEach(function (e) {
      if (rv.entries[e.name]) return;
      rv.entries[e.name] = e;
      strip.appendChild(thumbOf(e));
    });
  }).catch(function () { /* the next scroll asks again */ }).then(function () {
    rv.paging = false;
    stripFill();
  });
}

// Loads more while the strip's end is in sight (or it does not fill its width).
function stripFill() {
  const s = byId('rvstrip');
  if (s.scrollLeft + s.clientWidth >= s.scrollWidth - 240) stripMore();
}

// ---- Following the folder -----------------------------------------------------

// Shows the newest picture when it is not the one last seen, then adds the new
// ones to the strip. Calls that come while one runs fold into one more run.
function reviewLatest() {
  if (rv.heading) { rv.again = true; return; }
  rv.heading = true;
  listPage('limit=1').then(function (j) {
    const e = j.pictures[0];
    if (!e || e.name === rv.newest) return null;
    rv.newest = e.name;
    return reviewShow(e).then(stripHead);
  }).catch(function () { /* server away: the next event or poll tries again */ }).then(function () {
    rv.heading = false;
    if (rv.again) { rv.again = false; reviewLatest(); }
  });
}

function reviewPoll() {
  if (rv.poll === null) rv.poll = setInterval(reviewLatest, RV_POLL_MS);
}

// Capture events from /events (the page's one stream, js/health.js); a server
// without them (404) is polled instead. The stream's own reconnection covers a
// server that goes away and returns.
function reviewFollow() {
  if (typeof EventSource !== 'function') return reviewPoll();
  onServerEvent('capture', function (e) {
    if (eventCamera(e) === rv.camera.id) reviewLatest();
  });
  onServerEvent('open', reviewLatest);  // pictures taken while the stream was down
  onServerEvent('error', function (e) {
    if (e.target.readyState === EventSource.CLOSED) reviewPoll();
  });
}

// The card shows `camera`'s folder from now on, empty until its newest picture is in.
function reviewCamera(camera) {
  if (camera === rv.camera) return;
  Object.assign(rv, { camera: camera, shown: null, pixels: null, token: rv.token + 1, newest: null, entries: {}, more: false });
  rvCtx.clearRect(0, 0, rvCanvas.width, rvCanvas.height);
  rvHistCtx.clearRect(0, 0, SW, SH);
  delete rvCanvas.dataset.name;
  byId('rvempty').hidden = false;
  byId('rvstrip').textContent = '';
  byId('rvname').textContent = '—';
  byId('rvclip').textContent = 'Estouros (255): —\nSombras (0): —';
  byId('review').querySelectorAll('[data-r]').forEach(function (el) { el.textContent = '—'; });
  reviewLatest();
}

byId('rvstrip').addEventListener('scroll', stripFill, { passive: true });
reviewLatest();
reviewFollow();
