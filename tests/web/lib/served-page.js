// The console page as the program serves it: the build writes it, style and scripts
// inlined, to BUILD/web/console.html. Tests and benchmarks load that file, never the
// skeleton web/console.html, and refuse it when a source part is newer than it.
'use strict';
const fs = require('fs');
const path = require('path');
const { BUILD } = require('./procs');

const SOURCE = path.join(__dirname, '..', '..', '..', 'web');
const PAGE = path.join(BUILD, 'web', 'console.html');

// The files the page is made of: the skeleton, its style sheets and its scripts,
// one of which the build makes from C (wasm/planes.c).
function sourceFiles() {
  const under = (dir, ext) => fs.readdirSync(dir).filter((f) => f.endsWith(ext)).sort().map((f) => path.join(dir, f));
  return {
    skeleton: path.join(SOURCE, 'console.html'),
    styles: under(SOURCE, '.css'),
    scripts: [...under(path.join(SOURCE, 'js'), '.js'), path.join(BUILD, 'web', 'generated', 'wasm', 'planes.js')],
    compiled: [path.join(SOURCE, 'wasm', 'planes.c')],
  };
}

function servedPage() {
  if (!fs.existsSync(PAGE)) throw new Error(`no ${PAGE}: build first (make build)`);
  const built = fs.statSync(PAGE).mtimeMs;
  const src = sourceFiles();
  const newer = [src.skeleton, ...src.styles, ...src.scripts, ...src.compiled].filter((f) => fs.statSync(f).mtimeMs > built);
  if (newer.length) {
    throw new Error(`${PAGE} is older than ${newer.map((f) => path.relative(SOURCE, f)).join(', ')}: rebuild (make build)`);
  }
  return fs.readFileSync(PAGE);
}

module.exports = { servedPage, sourceFiles, PAGE };
