'use strict';
// The night report, from /night.json every ten seconds: the night's frames
// as a table and its events as a timeline drawn in SVG (el, put and part
// come from page.js).
const POLL_MS = 10000;
const SVG = 'http://www.w3.org/2000/svg';

// The timeline's rows, top to bottom; spans and marks go to their kind's row.
const ROWS = [
  {kind: 'exposure', label: 'Exposures', one: 'exposure', many: 'exposures'},
  {kind: 'readout', label: 'Read-outs', one: 'read-out', many: 'read-outs'},
  {kind: 'slew', label: 'Slews', one: 'slew', many: 'slews'},
  {kind: 'filter', label: 'Filter changes', one: 'filter change', many: 'filter changes'},
  {kind: 'wait', label: 'Waits', one: 'wait', many: 'waits'},
  {kind: 'fault', label: 'Faults', one: 'fault', many: 'faults'},
  {kind: 'line', label: 'Batch lines', one: 'line begun', many: 'lines begun'},
];
const ROW_H = 22;
const LEFT = 110;
const AXIS_H = 26;

function notes(id, list) {
  const ul = el(id);
  ul.replaceChildren();
  for (const n of list || []) {
    const li = document.createElement('li');
    li.textContent = n;
    ul.appendChild(li);
  }
  ul.hidden = ul.children.length === 0;
}

function pad(n) { return String(n).padStart(2, '0'); }

// Site time on the 24-hour clock, whatever the browser's own zone.
function siteClock(t, seconds) {
  const d = new Date(t * 1000);
  return pad(d.getUTCHours()) + ':' + pad(d.getUTCMinutes()) +
      (seconds ? ':' + pad(d.getUTCSeconds()) : '');
}

function duration(s) {
  s = Math.round(s);
  const h = Math.floor(s / 3600), m = Math.floor((s % 3600) / 60);
  if (h > 0) return h + ' h ' + pad(m) + ' min';
  if (m > 0) return m + ' min ' + pad(s % 60) + ' s';
  return s + ' s';
}

function node(name, attrs, parent) {
  const e = document.createElementNS(SVG, name);
  for (const [k, v] of Object.entries(attrs)) e.setAttribute(k, String(v));
  if (parent) parent.appendChild(e);
  return e;
}

function titled(e, text) {
  node('title', {}, e).textContent = text;
  return e;
}

// Neighbours narrower than a few pixels are drawn as one mark, so a long
// night draws no more marks than the picture has pixels.
function groups(items, x, x2) {
  const out = [];
  for (const item of items) {
    const a = x(item), b = Math.max(x2(item), a + 1);
    const last = out[out.length - 1];
    if (last && a < last.b + 1 && (last.b - last.a < 3 || b - a < 3)) {
      last.items.push(item);
      last.b = Math.max(last.b, b);
    } else {
      out.push({a: a, b: b, items: [item]});
    }
  }
  return out;
}

function drawTimeline(t, width) {
  const chart = el('chart');
  chart.replaceChildren();
  const spans = t.spans, marks = t.marks;
  if (spans.length === 0 && marks.length === 0) {
    chart.textContent = 'No events of the driver tonight.';
    return;
  }
  const plot = Math.max(width - LEFT - 10, 100);
  const length = Math.max(t.length_s, 1);
  const at = function (s) { return LEFT + (s / length) * plot; };
  const site = function (s) { return t.t0 + t.utc_offset_s + s; };
  const height = ROWS.length * ROW_H + AXIS_H;
  const svg = node('svg', {width: width, height: height, viewBox: '0 0 ' + width + ' ' + height,
                           role: 'img', 'aria-label': 'timeline of the night'});

  ROWS.forEach(function (row, i) {
    const y = i * ROW_H;
    const g = node('g', {'class': 'row'}, svg);
    node('rect', {'class': 'lane', x: LEFT, y: y + 2, width: plot, height: ROW_H - 4}, g);
    // The label, with its colour, is the legend.
    node('rect', {'class': 'k-' + row.kind, x: 2, y: y + 6, width: 10, height: 10}, g);
    node('text', {'class': 'label', x: 16, y: y + 15}, g).textContent = row.label;

    const span = function (from, to) {
      return siteClock(site(from), true) + ' to ' + siteClock(site(to), true);
    };
    const mine = spans.filter(function (s) { return s.kind === row.kind; })
      .sort(function (p, q) { return p.from - q.from; });
    for (const grp of groups(mine, function (s) { return at(s.from); },
                             function (s) { return at(s.to); })) {
      const s0 = grp.items[0], open = grp.items.some(function (s) { return s.open; });
      const rect = node('rect', {'class': 'bar k-' + row.kind + (open ? ' open' : ''),
                                 x: grp.a.toFixed(1), y: y + 4,
                                 width: (grp.b - grp.a).toFixed(1), height: ROW_H - 8}, g);
      let text;
      if (grp.items.length === 1) {
        text = row.one.charAt(0).toUpperCase() + row.one.slice(1) + ' ' + span(s0.from, s0.to) + ' (' +
            duration(s0.to - s0.from) + (s0.open ? ', still going' : '') + '): ' + s0.text;
      } else {
        const last = grp.items[grp.items.length - 1];
        const sum = grp.items.reduce(function (n, s) { return n + s.to - s.from; }, 0);
        text = grp.items.length + ' ' + row.many + ' ' + span(s0.from, last.to) + ', ' +
            duration(sum) + ' in all';
      }
      titled(rect, text);
    }

    const dots = marks.filter(function (m) { return m.kind === row.kind ||
        (row.kind === 'line' && m.kind === 'end'); })
      .sort(function (p, q) { return p.at - q.at; });
    for (const grp of groups(dots, function (m) { return at(m.at); },
                             function (m) { return at(m.at); })) {
      const x = (grp.a + grp.b) / 2;
      const fault = row.kind === 'fault';
      const m = node('path', {'class': 'mark k-' + grp.items[0].kind,
                              d: 'M' + x.toFixed(1) + ' ' + (y + 3) + ' l4 ' + (ROW_H - 6) +
                                 ' h-8 z'}, g);
      if (fault) node('line', {'class': 'fault-line', x1: x, x2: x, y1: 0, y2: height - AXIS_H}, svg);
      const texts = grp.items.slice(0, 5).map(function (mk) {
        return siteClock(site(mk.at), true) + ' ' + (mk.kind === 'end' ? 'end: ' : '') + mk.text;
      });
      if (grp.items.length > 5) texts.push('and ' + (grp.items.length - 5) + ' more');
      titled(m, (grp.items.length > 1 ? grp.items.length + ' ' + row.many + '\n' : '') +
             texts.join('\n'));
    }
  });

  // The time axis: ticks at round site times, at least 80 pixels apart.
  const steps = [10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 10800, 21600];
  const step = steps.find(function (s) { return (s / length) * plot >= 80; }) || 21600;
  const axis = node('g', {'class': 'axis'}, svg);
  const y0 = ROWS.length * ROW_H;
  node('line', {x1: LEFT, x2: LEFT + plot, y1: y0 + 1, y2: y0 + 1}, axis);
  const first = Math.ceil(site(0) / step) * step - site(0);
  for (let s = first; s <= length + 1e-6; s += step) {
    const x = at(s);
    node('line', {x1: x, x2: x, y1: y0 + 1, y2: y0 + 6}, axis);
    node('line', {'class': 'grid', x1: x, x2: x, y1: 0, y2: y0}, axis);
    node('text', {x: x, y: y0 + 18}, axis).textContent = siteClock(site(s), step < 60);
  }
  chart.appendChild(svg);
}

function showTotals(t, frames) {
  const parts = [];
  const o = t.totals;
  const share = function (s) {
    return duration(s) + ' (' + Math.round((100 * s) / Math.max(t.length_s, 1)) + ' %)';
  };
  parts.push('exposing ' + share(o.exposure));
  parts.push('reading out ' + share(o.readout));
  parts.push('slewing ' + share(o.slew));
  parts.push('changing filters ' + share(o.filter));
  parts.push('waiting ' + share(o.wait));
  let text = 'From ' + siteClock(t.t0 + t.utc_offset_s, false) + ' to ' +
      siteClock(t.t0 + t.utc_offset_s + t.length_s, false) + ' (' + duration(t.length_s) + '): ' +
      parts.join(', ') + '; ' + o.fault + (o.fault === 1 ? ' fault' : ' faults');
  if (frames !== null) text += '; ' + frames + (frames === 1 ? ' frame' : ' frames');
  el('totals').textContent = text + '.';
}

const rowCache = new Map(); // a row's facts as text -> its table row

function cell(tr, value, cls) {
  const td = document.createElement('td');
  td.textContent = value === undefined || value === null || value === '' ? '-' : String(value);
  if (cls) td.className = cls;
  tr.appendChild(td);
  return td;
}

function makeRow(r) {
  const tr = document.createElement('tr');
  tr.dataset.frame = r.frame;
  const preview = cell(tr, 'none', 'thumb');
  if (r.thumb) {
    preview.replaceChildren();
    const a = document.createElement('a');
    a.href = r.thumb;
    const img = document.createElement('img');
    img.src = r.thumb;
    img.alt = 'preview of ' + r.frame;
    img.width = 64;
    img.height = 64;
    img.loading = 'lazy';
    a.appendChild(img);
    preview.appendChild(a);
  }
  cell(tr, r.frame);
  const start = cell(tr, r.start, 'num');
  start.title = r.utc_start ? r.utc_start + ' UTC' : '';
  cell(tr, r.line, 'num');
  cell(tr, r.object);
  cell(tr, r.filter);
  cell(tr, r.exposure_s, 'num');
  cell(tr, r.ra_j2000 ? r.ra_j2000 + ' ' + r.dec_j2000 : '', 'num');
  cell(tr, r.ra_telescope ? r.ra_telescope + ' ' + r.dec_telescope + ' (' + r.telescope_equinox + ')'
                          : '', 'num');
  cell(tr, r.offset_arcsec, 'num');
  cell(tr, r.fits);
  cell(tr, r.source === 'record' ? 'record' : 'frame header');
  return tr;
}

// Rows that did not change keep their element, so their preview is not
// fetched again.
function showIndex(index) {
  const body = el('frame-rows');
  const seen = new Map();
  const wanted = [];
  for (const r of index.rows) {
    const key = JSON.stringify(r);
    const tr = rowCache.get(key) || makeRow(r);
    seen.set(key, tr);
    wanted.push(tr);
  }
  body.replaceChildren.apply(body, wanted);
  rowCache.clear();
  for (const [k, v] of seen) rowCache.set(k, v);
  put('index-count', index.rows.length === 1 ? '1 frame' : index.rows.length + ' frames');
  notes('index-notes', index.notes);
}

let drawn = {text: null, width: 0};
let last = null;

function show(f) {
  put('generated', f.generated);
  put('night-begin', f.night.begin);
  put('night-end', f.night.end);
  const frames = f.index.available ? f.index.rows.length : null;
  if (part('index', f.index)) showIndex(f.index);
  if (part('timeline', f.timeline)) {
    showTotals(f.timeline, frames);
    notes('timeline-notes', f.timeline.notes);
    const text = JSON.stringify(f.timeline);
    const width = Math.max(el('chart').clientWidth, 400);
    if (text !== drawn.text || width !== drawn.width) {
      drawTimeline(f.timeline, width);
      drawn = {text: text, width: width};
    }
  }
  last = f;
}

async function poll() {
  try {
    const signal = AbortSignal.timeout ? AbortSignal.timeout(20000) : undefined;
    const answer = await fetch('/night.json', {cache: 'no-store', signal: signal});
    if (!answer.ok) throw new Error('status ' + answer.status);
    show(await answer.json());
    el('offline').hidden = true;
  } catch (err) {
    el('offline').hidden = false;
  }
  setTimeout(poll, POLL_MS);
}

window.addEventListener('resize', function () {
  if (last) show(last);
});

poll();
