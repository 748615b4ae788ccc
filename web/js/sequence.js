// The "Sequência" card: starts a sequence on the server (interval, frames, bracket,
// start) and follows it from the server's "sequence" events, so a sequence another
// tool started shows too: its state, frame k of N and the time to the next frame, the
// lateness p95, a strip of the newest frames taken or skipped, Pausar / Retomar / Parar.
// It addresses the camera in focus (js/rig.js hands it over with sequenceShow).
'use strict';

// Shown as the state's word; anything else reads as no sequence.
const SEQUENCE_STATES = { rodando: 'rodando', pausada: 'pausada', concluida: 'concluída', parada: 'parada' };

class SequenceCard {
  // camera: the CameraRef whose sequence the card follows.
  constructor(camera) {
    this.camera = camera;
    this.now = null;          // the latest sequence object
    this.marks = new Map();   // frame -> '' (taken) or the reason it was skipped
    this.reading = false;     // a GET /sequence is under way; again: one more after it
    this.again = false;
    this.el = {
      state: byId('seqstate'), bar: byId('seqbar'), progress: byId('seqprog'), next: byId('seqnext'),
      late: byId('seqlate'), strip: byId('seqstrip'), go: byId('seqgo'), pause: byId('seqpause'),
      resume: byId('seqresume'), stop: byId('seqstop'),
    };
    this.el.go.addEventListener('click', () => this.start());
    this.el.pause.addEventListener('click', () => this.control('pause'));
    this.el.resume.addEventListener('click', () => this.control('resume'));
    this.el.stop.addEventListener('click', () => this.control('stop'));
    onServerEvent('sequence', (e) => this.heard(e));
    onServerEvent('open', () => this.read());
    setInterval(() => this.tick(), 250);
    this.render();
  }

  // Follows `camera` from now on: its sequence, read at once; nothing of the one before.
  follow(camera) {
    if (camera === this.camera) return;
    this.camera = camera;
    this.now = null;
    this.marks.clear();
    this.render();
    this.read();
  }

  // ---- Requests ----------------------------------------------------------------

  query() {
    const parts = [['interval', 'seqint'], ['count', 'seqcount'], ['bracket', 'seqbr']]
      .map(([name, id]) => name + '=' + encodeURIComponent(byId(id).value.trim()));
    const start = byId('seqstart').value;
    if (start) parts.push('start=' + new Date(start).getTime());
    return parts.join('&');
  }

  start() {
    this.send('/sequence?' + this.query(), 'sequência iniciada');
  }

  control(what) {
    this.send('/sequence/' + what, { pause: 'sequência pausada', resume: 'sequência retomada', stop: 'sequência parada' }[what]);
  }

  // A POST whose answer is the sequence object, or a status reply saying why not.
  send(path, done) {
    const camera = this.camera;
    request(camera.url(path), { method: 'POST' }, 'json')
      .then((r) => {
        const o = r.body;
        if (r.ok && o && typeof o.state === 'string') {
          if (camera === this.camera) this.show(o);
          log(done, camera);
        } else {
          log(path.split('?')[0] + ' → ' + (o && o.status ? o.status : 'erro'), camera);
        }
      })
      .catch((e) => log(path.split('?')[0] + ' ✗ ' + (e && e.message ? e.message : String(e)), camera));
  }

  // GET /sequence, one at a time; asked again meanwhile, once more after it.
  read() {
    if (this.reading) { this.again = true; return; }
    this.reading = true;
    const camera = this.camera;
    request(camera.url('/sequence'), { cache: 'no-store' }, 'json')
      .then((r) => { if (r.ok && r.body && typeof r.body.state === 'string' && camera === this.camera) this.show(r.body); })
      .catch(() => { /* keep what is shown */ })
      .finally(() => {
        this.reading = false;
        if (this.again) { this.again = false; this.read(); }
      });
  }

  // ---- Following the server ----------------------------------------------------

  heard(e) {
    let data;
    try { data = JSON.parse(e.data); } catch (err) { return; }
    // The camera's own events only: another camera's, and the rig's (no camera), are not this card's.
    if (!data || typeof data !== 'object' || data.camera !== this.camera.id) return;
    if (typeof data.state === 'string') { this.show(data); return; }
    if (typeof data.frame !== 'number') return;
    this.mark(data.frame, data.skipped ? data.reason || '?' : '');
    if (this.now) this.now.frame = Math.max(this.now.frame, data.frame);
    this.render();
    // Lateness and the next due time are the server's to reckon.
    this.read();
  }

  show(o) {
    const fresh = !this.now || this.now.start !== o.start;
    // Answers and events travel on different connections: an older view of the same
    // sequence (fewer frames, or running after it ended) may arrive last.
    if (!fresh && (o.frame < this.now.frame || (SequenceCard.ended(this.now) && !SequenceCard.ended(o)))) return;
    if (fresh) this.marks.clear();
    this.now = o;
    // The object names the skipped frames; every other frame up to `frame` was taken.
    const from = Math.max(1, o.frame - SequenceCard.STRIP + 1);
    for (let f = from; f <= o.frame; f++) if (!this.marks.has(f)) this.mark(f, '');
    for (const run of o.skipped || []) {
      for (let f = Math.max(run.frame, from); f < run.frame + run.frames; f++) this.mark(f, run.reason);
    }
    this.render();
  }

  mark(frame, reason) {
    this.marks.set(frame, reason);
    if (this.marks.size > SequenceCard.STRIP) {
      const oldest = Math.min(...this.marks.keys());
      this.marks.delete(oldest);
    }
  }

  // ---- Drawing -------------------------------------------------------------------

  running() { return this.now !== null && (this.now.state === 'rodando' || this.now.state === 'pausada'); }

  render() {
    const o = this.now, el = this.el;
    el.state.textContent = o ? SEQUENCE_STATES[o.state] || o.state : 'sem sequência';
    el.state.className = o ? 'seqstate ' + o.state : 'seqstate';
    if (o && o.count > 0) {
      el.bar.max = o.count;
      el.bar.value = o.frame;
      el.progress.textContent = 'quadro ' + o.frame + ' de ' + o.count;
    } else {
      // Until stopped: a bar without an end while it runs.
      if (this.running()) el.bar.removeAttribute('value');
      else el.bar.value = 0;
      el.progress.textContent = o ? 'quadro ' + o.frame + ' (até parar)' : '—';
    }
    const p95 = o && o.late_ms ? o.late_ms.p95 : null;
    el.late.textContent = 'atraso p95: ' + (typeof p95 === 'number' ? p95.toFixed(1).replace('.', ',') + ' ms' : '—');
    el.go.disabled = this.running();
    el.pause.disabled = !o || o.state !== 'rodando';
    el.resume.disabled = !o || o.state !== 'pausada';
    el.stop.disabled = !this.running();
    this.drawStrip();
    this.tick();
  }

  drawStrip() {
    const frames = [...this.marks.keys()].sort((a, b) => a - b);
    const strip = this.el.strip;
    strip.textContent = '';
    for (const f of frames) {
      const reason = this.marks.get(f);
      const cell = document.createElement('span');
      cell.className = reason ? 'sq skip ' + reason : 'sq ok';
      cell.dataset.frame = String(f);
      cell.title = 'quadro ' + f + (reason ? ': pulado (' + reason + ')' : '');
      strip.appendChild(cell);
    }
  }

  tick() {
    const o = this.now;
    const due = o && o.state === 'rodando' && o.next_due ? Date.parse(o.next_due) : NaN;
    this.el.next.textContent = Number.isNaN(due)
      ? ''
      : 'próximo em ' + Math.max(0, (due - Date.now()) / 1000).toFixed(1).replace('.', ',') + ' s';
  }
}
SequenceCard.STRIP = 120;  // frames the strip shows, the newest
SequenceCard.ended = (o) => o.state === 'concluida' || o.state === 'parada';

const sequenceCard = new SequenceCard(MAIN_CAMERA);

function sequenceShow(camera) { sequenceCard.follow(camera); }
