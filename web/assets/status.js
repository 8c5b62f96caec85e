'use strict';
// Fills the page from /status.json every few seconds (el, put and part come
// from page.js).
const POLL_MS = 3000;

// hh:mm:ss on the 24-hour clock, as the site's own times are.
function clock(d) {
  return [d.getHours(), d.getMinutes(), d.getSeconds()]
    .map(function (n) { return String(n).padStart(2, '0'); }).join(':');
}

function duration(s) {
  if (s === null || s === undefined) return null;
  const m = Math.floor(Math.abs(s) / 60);
  return (s < 0 ? '-' : '') + (m > 0 ? m + ' min ' : '') + (Math.abs(s) % 60) + ' s';
}

// The image comes with the first preview: HTML has no image without a source.
function previewImage() {
  let img = el('preview-img');
  if (!img) {
    img = document.createElement('img');
    img.id = 'preview-img';
    img.alt = 'latest preview';
    el('preview').querySelector('.body').prepend(img);
  }
  return img;
}

function show(f) {
  put('generated', f.generated);
  el('stale').hidden = !f.stale;
  put('stale-age', duration(f.status_age_s));

  const t = f.telescope;
  if (part('telescope', t)) {
    put('clock', t.clock);
    put('ra', t.ra);
    put('dec', t.dec);
    put('filter', t.filter_number === null ? null
        : t.filter_number + (t.filter_letter ? ' (' + t.filter_letter + ')' : ''));
    put('age', duration(f.status_age_s) + ' ago');
  }

  const e = f.exposure;
  if (part('exposure', e)) {
    put('phase', e.phase + (f.stale ? ' (stale)' : ''));
    put('left', e.phase === 'exposing' ? duration(e.remaining_s)
        : e.phase === 'reading out' ? 'reading out' + (e.readout_s === null ? '' : ' for ' + e.readout_s + ' s')
        : 'none');
    put('began', e.began);
  }

  const j = f.job;
  const idle = !j.available && Boolean(j.idle);
  el('job-idle').hidden = !idle;
  part('job', j);
  if (idle) el('job').querySelector('.na').hidden = true;
  if (j.available) {
    put('job-frame', j.frame + (j.note ? ' (' + j.note + ')' : ''));
    put('job-object', j.object ? j.object + ' - ' + j.title : j.title);
    put('job-filter', j.filter);
    put('job-exptime', duration(j.exptime_s));
    put('job-size', j.size);
  }

  // After the last line nowjob.txt still holds it: say the batch is done.
  const finished = Boolean(f.batch.available && f.batch.finished);
  el('line-finished').hidden = !finished;
  const l = finished ? {available: false} : f.line;
  part('line', l);
  if (finished) el('line').querySelector('.na').hidden = true;
  if (l.available) {
    put('line-text', l.text);
    put('line-object', l.object);
    put('line-filter', l.filter);
    put('line-frames', l.frames);
    put('line-exptime', l.exptime);
  }

  const b = f.batch;
  if (part('batch', b)) {
    put('batch-done', b.done);
    put('batch-pending', b.pending + (b.next_line ? ' (next: line ' + b.next_line + ')' : ''));
    put('batch-frames', b.frames_done + ' in done lines, ' + b.frames_pending + ' to go');
  }

  const fr = f.frames;
  if (part('frames', fr)) {
    put('frames-tonight', fr.tonight + ' since ' + fr.since);
    put('frames-latest', fr.latest);
  }

  const p = f.preview;
  if (part('preview', p)) {
    const img = previewImage();
    if (img.getAttribute('src') !== p.url) img.setAttribute('src', p.url);
    put('preview-of', p.frame || 'an earlier frame');
    el('preview-newer').textContent =
        p.newer ? '(older: ' + p.newer + ' is newer, its preview is not made yet)' : '';
  }
  const li = f.lastimage;
  put('preview-frame', li.available ? li.frame : 'not available');
  put('preview-cards', li.available ? li.cards.join('\n') : '');

  const g = f.log;
  if (part('log', g)) put('log-lines', g.lines.join('\n'));
}

async function poll() {
  try {
    // A server that stopped answering must not hold the page forever.
    const signal = AbortSignal.timeout ? AbortSignal.timeout(POLL_MS * 2) : undefined;
    const answer = await fetch('/status.json', {cache: 'no-store', signal: signal});
    if (!answer.ok) throw new Error('status ' + answer.status);
    show(await answer.json());
    put('updated', clock(new Date()));
    el('offline').hidden = true;
  } catch (err) {
    el('offline').hidden = false;
  }
  setTimeout(poll, POLL_MS);
}

poll();
