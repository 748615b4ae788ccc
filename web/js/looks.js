// Looks gallery (thumbnails of the first picture, made by the picture worker;
// choosing the previewed look) and the snapshot of the canvas as shown.
'use strict';

// thumbs: [{ name, bitmap }] in LOOKS order, each the picture under that look.
function buildLooks(thumbs) {
  looksBuilt = true;
  const strip = byId('looks');
  strip.textContent = '';
  thumbs.forEach(function (t) {
    const thumb = document.createElement('canvas');
    thumb.width = t.bitmap.width; thumb.height = t.bitmap.height;
    drawReplacing(thumb.getContext('2d'), t.bitmap, thumb.width, thumb.height);
    if (t.name === activeLook) thumb.classList.add('sel');
    thumb.addEventListener('click', function () {
      activeLook = t.name;
      strip.querySelectorAll('canvas').forEach(function (c) { c.classList.remove('sel'); });
      thumb.classList.add('sel');
      settingsChanged();
      log('look: ' + t.name);
    });
    const box = document.createElement('div');
    const label = document.createElement('div');
    label.className = 'lbl';
    label.textContent = t.name;
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
