'use strict';
// What both pages do with their facts. Texts go in through textContent
// only: whatever a file holds is shown as text, never markup.

function el(id) { return document.getElementById(id); }

function put(id, value) {
  el(id).textContent = (value === undefined || value === null || value === '') ? '-' : String(value);
}

// Shows a part, or why it is not available (when the server says why).
function part(id, facts) {
  const ok = Boolean(facts && facts.available);
  const section = el(id);
  section.querySelector('.na').hidden = ok;
  section.querySelector('.body').hidden = !ok;
  if (!ok) {
    section.querySelector('.na').textContent = 'not available' +
        (facts && facts.why ? ': ' + (facts.file ? facts.file + ' ' : '') + facts.why : '');
  }
  return ok;
}
