// "Disparar todas": fires every connected camera together (POST /volley with the
// shots field) and shows the volley: each camera's offset from the release as a
// bar in ms, or its error, the spread, and its files, each linking to its picture.
// A volley fired elsewhere (another tab, the command line) shows the same way.
'use strict';

function volleyFire() {
  const button = byId('volleybtn');
  if (button.disabled) return Promise.resolve();
  button.disabled = true;
  byId('vsum').textContent = 'disparando…';
  return request('/volley?' + fields('shots=vshots'), { method: 'POST' }, 'json')
    .then(function (r) {
      if (!r.ok || !Array.isArray(r.body.cameras)) {
        byId('vsum').textContent = r.body.status;
        log('/volley → ' + r.body.status);
        return;
      }
      volleyShow(r.body);
      log('rajada ' + r.body.volley + ': dispersão ' + volleyMs(r.body.spread_ms));
    })
    .catch(function (e) { byId('vsum').textContent = '✗ ' + (e && e.message ? e.message : String(e)); })
    .then(function () { button.disabled = false; });
}

function volleyMs(ms) { return (typeof ms === 'number' ? ms.toFixed(2) : '—') + ' ms'; }

// The picture a volley names: "left/KAMORA_00007.JPG" is left's KAMORA_00007.JPG.
function volleyLink(id, file) {
  const a = document.createElement('a');
  a.href = rigRef(id).url('/captures/' + encodeURIComponent(file.split('/').pop()));
  a.target = '_blank';
  a.rel = 'noopener';
  a.textContent = file;
  return a;
}

// v: the volley's object, as POST /volley answers and the "volley" event carries it.
function volleyShow(v) {
  byId('vsum').textContent = 'Rajada ' + v.volley + ' · dispersão ' + volleyMs(v.spread_ms);
  const chart = byId('vchart');
  chart.textContent = '';
  // Bars share one scale: the latest press of the volley fills its row.
  const most = v.cameras.reduce(function (m, c) { return c.ok ? Math.max(m, c.offset_ms) : m; }, 0);
  v.cameras.forEach(function (c) {
    const row = document.createElement('div');
    row.className = 'vrow' + (c.ok ? '' : ' err');
    row.dataset.camera = c.id;
    row.innerHTML = '<span class="vid"></span><span class="vbar"><span></span></span><span class="vval"></span><span class="vfiles"></span>';
    row.querySelector('.vid').textContent = c.id;
    row.querySelector('.vbar span').style.width = (c.ok && most > 0 ? c.offset_ms / most * 100 : 0) + '%';
    row.querySelector('.vval').textContent = c.ok ? volleyMs(c.offset_ms) : c.error;
    const files = row.querySelector('.vfiles');
    (c.files || []).forEach(function (f) { files.appendChild(volleyLink(c.id, f)); });
    chart.appendChild(row);
  });
  byId('volley').hidden = false;
}

byId('volleybtn').addEventListener('click', volleyFire);
onServerEvent('volley', function (e) {
  try { volleyShow(JSON.parse(e.data)); } catch (err) { /* not a volley: ignore */ }
});
