// Looks gallery (thumbnails of the first picture, choosing the previewed look) and
// the snapshot of the canvas as shown.
'use strict';

function buildLooks(img) {
  looksBuilt = true;
  const strip = byId('looks');
  strip.textContent = '';
  const TW = 74, TH = 50;
  const scratch = document.createElement('canvas');
  scratch.width = TW; scratch.height = TH;
  const sctx = scratch.getContext('2d', { willReadFrequently: true });
  const out = new Float64Array(3);
  LOOKS.forEach(function (look) {
    const thumb = document.createElement('canvas');
    thumb.width = TW; thumb.height = TH;
    drawReplacing(sctx, img, TW, TH);
    const px = sctx.getImageData(0, 0, TW, TH);
    const d = px.data;
    for (let i = 0; i < d.length; i += 4) {
      look.fn(d[i], d[i + 1], d[i + 2], out);
      d[i] = out[0]; d[i + 1] = out[1]; d[i + 2] = out[2];
    }
    thumb.getContext('2d').putImageData(px, 0, 0);
    if (look.name === activeLook) thumb.classList.add('sel');
    thumb.onclick = function () {
      activeLook = look.name;
      strip.querySelectorAll('canvas').forEach(function (c) { c.classList.remove('sel'); });
      thumb.classList.add('sel');
      log('look: ' + look.name);
    };
    const box = document.createElement('div');
    const label = document.createElement('div');
    label.className = 'lbl';
    label.textContent = look.name;
    box.appendChild(thumb);
    box.appendChild(label);
    strip.appendChild(box);
  });
}

function snap() {
  const a = document.createElement('a');
  a.download = 'frame.jpg';
  // A data URL keeps the link valid for as long as the browser needs it.
  a.href = viewCanvas.toDataURL('image/jpeg', 0.92);
  a.click();
}
