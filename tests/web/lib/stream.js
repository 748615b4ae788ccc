// The server's live-view stream as the recording stand-in serves it: multipart
// parts written when and as the test likes.
'use strict';

const BOUNDARY = 'kamoraframe';

// One multipart part as the server writes it.
function part(bytes, { type = 'image/jpeg', stamp = Date.now() / 1000, frame = 1 } = {}) {
  const head = `--${BOUNDARY}\r\nContent-Type: ${type}\r\nContent-Length: ${bytes.length}\r\n` +
    `X-Timestamp: ${stamp.toFixed(6)}\r\nX-Frame: ${frame}\r\n\r\n`;
  return Buffer.concat([Buffer.from(head, 'latin1'), bytes, Buffer.from('\r\n', 'latin1')]);
}

// Answers `route` (/liveview.mjpg by default) with the stream's headers and hands
// the response to `feed`, which writes parts as it likes; every stream is ended
// when the test ends.
function serveStream(mock, t, feed, route = '/liveview.mjpg') {
  const open = new Set();
  mock.on('GET', route, (req, res) => {
    res.writeHead(200, { 'Content-Type': `multipart/x-mixed-replace; boundary=${BOUNDARY}`, 'Cache-Control': 'no-cache' });
    open.add(res);
    res.on('close', () => open.delete(res));
    feed(res);
  });
  t.after(() => {
    mock.handlers.delete('GET ' + route);
    for (const res of open) res.destroy();
  });
}

module.exports = { BOUNDARY, part, serveStream };
