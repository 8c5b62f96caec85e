#include "page.h"

namespace qstatus {

const std::string_view page_html = R"page(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Telescope night status</title>
<link rel="stylesheet" href="/status.css">
<script src="/status.js" defer></script>
</head>
<body>
<header>
<h1>Telescope night status</h1>
<p>Page updated <span id="updated">never</span> (site time <span id="generated">-</span>)</p>
<p id="offline" class="alarm" hidden>The status server does not answer; the values below are old.</p>
<p id="stale" class="alarm" hidden>STALE: no telescope status record for <span id="stale-age"></span>.</p>
<noscript><p class="alarm">This page needs JavaScript; the same facts are at <a href="/status.json">/status.json</a>.</p></noscript>
</header>
<main>
<section id="telescope"><h2>Telescope</h2>
<p class="na">not available</p>
<dl class="body" hidden>
<dt>Clock</dt><dd id="clock"></dd>
<dt>Right ascension</dt><dd id="ra"></dd>
<dt>Declination</dt><dd id="dec"></dd>
<dt>Filter</dt><dd id="filter"></dd>
<dt>Last record</dt><dd id="age"></dd>
</dl></section>

<section id="exposure"><h2>Exposure</h2>
<p class="na">not available</p>
<dl class="body" hidden>
<dt>Camera</dt><dd id="phase"></dd>
<dt>Time left</dt><dd id="left"></dd>
<dt>Began</dt><dd id="began"></dd>
</dl></section>

<section id="job"><h2>Frame being taken</h2>
<p class="na">not available</p>
<p id="job-idle" hidden>none: the camera is idle between exposures</p>
<dl class="body" hidden>
<dt>Frame</dt><dd id="job-frame"></dd>
<dt>Object</dt><dd id="job-object"></dd>
<dt>Filter</dt><dd id="job-filter"></dd>
<dt>Exposure</dt><dd id="job-exptime"></dd>
<dt>Size</dt><dd id="job-size"></dd>
</dl></section>

<section id="line"><h2>Line being worked</h2>
<p class="na">not available</p>
<p id="line-finished" hidden>none: the batch is finished, every line is done</p>
<div class="body" hidden>
<pre id="line-text"></pre>
<p>Object <span id="line-object"></span>, filter <span id="line-filter"></span>,
<span id="line-frames"></span> frames of <span id="line-exptime"></span> s</p>
</div></section>

<section id="batch"><h2>Night's progress</h2>
<p class="na">not available</p>
<dl class="body" hidden>
<dt>Lines done</dt><dd id="batch-done"></dd>
<dt>Lines pending</dt><dd id="batch-pending"></dd>
<dt>Frames</dt><dd id="batch-frames"></dd>
</dl></section>

<section id="frames"><h2>Frames taken</h2>
<p class="na">not available</p>
<dl class="body" hidden>
<dt>Tonight</dt><dd id="frames-tonight"></dd>
<dt>Latest</dt><dd id="frames-latest"></dd>
</dl></section>

<section id="preview"><h2>Latest preview</h2>
<p class="na">not available</p>
<div class="body" hidden><img id="preview-img" alt="latest preview">
<p>Preview of <span id="preview-of"></span> <span id="preview-newer" class="note"></span></p></div>
<div id="lastimage">
<p>Frame <span id="preview-frame">not available</span></p>
<pre id="preview-cards"></pre>
</div></section>

<section id="log"><h2>Run log</h2>
<p class="na">not available</p>
<pre id="log-lines" class="body" hidden></pre>
</section>
</main>
</body>
</html>
)page";

const std::string_view page_css = R"page([hidden] { display: none !important; }
body { font-family: sans-serif; margin: 1em; background: #111; color: #ddd; }
h1 { font-size: 1.4em; margin: 0 0 .3em 0; }
h2 { font-size: 1.1em; margin: 0 0 .4em 0; color: #9cf; }
main { display: grid; grid-template-columns: repeat(auto-fill, minmax(22em, 1fr)); gap: 1em; }
section { border: 1px solid #444; padding: .6em .8em; border-radius: 4px; }
dl { display: grid; grid-template-columns: max-content 1fr; gap: .2em 1em; margin: 0; }
dt { color: #999; }
dd { margin: 0; font-family: monospace; font-size: 1.1em; }
pre { white-space: pre-wrap; word-break: break-all; margin: .3em 0; }
.na { color: #f93; font-style: italic; }
.alarm { background: #a00; color: #fff; font-weight: bold; padding: .4em; }
.note { color: #fc6; }
#preview-img { display: block; max-width: 100%; image-rendering: pixelated; }
/* Wide enough for two columns: the preview takes two, room for its 512 pixels. */
@media (min-width: 48em) { #preview { grid-column: span 2; } }
#log { grid-column: 1 / -1; }
)page";

const std::string_view page_js = R"page('use strict';
// Fills the page from /status.json every few seconds. Texts go in through
// textContent only: whatever a file holds is shown as text, never markup.
const POLL_MS = 3000;

function el(id) { return document.getElementById(id); }

function put(id, value) {
  el(id).textContent = (value === undefined || value === null || value === '') ? '-' : String(value);
}

// Shows a part, or its "not available" when the server could not read it.
function part(id, facts) {
  const ok = Boolean(facts && facts.available);
  const section = el(id);
  section.querySelector('.na').hidden = ok;
  section.querySelector('.body').hidden = !ok;
  return ok;
}

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
    const img = el('preview-img');
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
)page";

} // namespace qstatus
