// Counts the TCP connections a server holds, as the kernel lists them
// (/proc/net/tcp, Linux): established sockets whose local end is host:port.
// Everything in one network namespace shares the list, so a test that lets
// only the browser talk to its server counts the browser's connections.
'use strict';
const fs = require('fs');

// "127.19.2.1", 8080 -> "0102137F:1F90": the kernel writes the address as a
// 32-bit number in host (little-endian) order, the port in hex.
function procAddress(host, port) {
  const ip = host.split('.').map(Number).reverse().map((b) => b.toString(16).padStart(2, '0')).join('');
  return (ip + ':' + port.toString(16).padStart(4, '0')).toUpperCase();
}

// The far ends ("address:port" as the kernel writes them) of those connections,
// each once: the kernel writes the list a page at a time, and a socket that
// moves in its table between two pages can be listed twice.
function serverPeers(host, port) {
  const local = procAddress(host, port);
  return [...new Set(fs.readFileSync('/proc/net/tcp', 'utf8').split('\n').slice(1).map((line) => line.trim().split(/\s+/))
    .filter((f) => f[1] === local && f[3] === '01') // 01: ESTABLISHED
    .map((f) => f[2]))];
}

function serverConnections(host, port) {
  return serverPeers(host, port).length;
}

// Samples the count every `everyMs` until stop(); stop() returns
// { max, held, histogram, over } (histogram: count -> samples; over: the
// [Date.now(), count] of every sample above `most`). `held` is the most
// connections seen in two samples running: a connection that comes and goes
// between two samples was never held. One is seen for a moment when a browser
// opens its next connection as it reads the last reply of one the server is
// closing.
function sampleConnections(host, port, everyMs = 25, most = Infinity) {
  const histogram = new Map();
  const over = [];
  let max = 0, held = 0;
  let before = new Set();
  const look = () => {
    const peers = serverPeers(host, port);
    const n = peers.length;
    max = Math.max(max, n);
    held = Math.max(held, peers.filter((p) => before.has(p)).length);
    before = new Set(peers);
    histogram.set(n, (histogram.get(n) || 0) + 1);
    if (n > most) over.push([Date.now(), n]);
  };
  look();
  // Unref'd: a sampler a failed test left running must not keep the test
  // process alive, nor its reads of the kernel's list outlive the test.
  const timer = setInterval(look, everyMs);
  timer.unref();
  return { stop() { clearInterval(timer); look(); return { max, held, histogram: Object.fromEntries(histogram), over }; } };
}

module.exports = { serverConnections, sampleConnections };
