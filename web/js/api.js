// Requests and the log: the command calls every control makes, the status and
// settings polls, and byId, which every other part uses.
'use strict';

function byId(id) { return document.getElementById(id); }

// ---- Log and command calls --------------------------------------------------

function log(msg) {
  const box = byId('log');
  const line = new Date().toLocaleTimeString() + '  ' + msg;
  // Newest first: each line goes on top, the box scrolls and is never trimmed.
  box.insertBefore(document.createTextNode(box.firstChild ? line + '\n' : line), box.firstChild);
}

// Builds "name=value&..." from "name=fieldId&..." so the parameter order is the
// markup's and every value is URI-component encoded (an empty field sends "").
function fields(layout) {
  return layout.split('&').map(function (pair) {
    const parts = pair.split('=');
    return parts[0] + '=' + encodeURIComponent(byId(parts[1]).value);
  }).join('&');
}

function api(path, query) {
  // Commands carry their parameters in the query string and send no body.
  return fetch(query ? path + '?' + query : path, { method: 'POST' })
    .then(function (r) { return r.json(); })
    .then(function (j) { log(path + ' → ' + j.status); })
    .catch(function (e) { log(path + ' ✗ ' + (e && e.message ? e.message : String(e))); });
}

function showValue(spanId, input) { byId(spanId).textContent = input.value; }

// ---- Status and settings polls ----------------------------------------------

function setOnline(online) {
  byId('dot').classList.toggle('on', online);
  byId('st').textContent = online ? 'servidor online' : 'offline';
}

function ping() {
  return fetch('/status', { cache: 'no-store' })
    .then(function (r) { return r.json(); })
    .then(function (j) { setOnline(j !== null && typeof j === 'object' && j.status === 'online'); })
    .catch(function () { setOnline(false); });
}

function readoutText(key, v) {
  if (key === 'battery') return v === undefined || v === null || v < 0 ? '—' : v + '%';
  return v === undefined || v === null || v === '' ? '—' : String(v);
}

function pollProps() {
  return fetch('/properties', { cache: 'no-store' })
    .then(function (r) { return r.json(); })
    .then(function (o) {
      if (o === null || typeof o !== 'object') return;
      byId('reads').querySelectorAll('[data-p]').forEach(function (el) {
        const key = el.getAttribute('data-p');
        el.textContent = readoutText(key, o[key]);
      });
    })
    .catch(function () { /* keep the last read-outs */ });
}
