// Fills every element carrying data-key/data-field from /setup/v1/status.json, once a second.
// Only textContent is set, so values cannot inject markup.
(function () {
  function fmt(field, v) {
    if (v === null || v === undefined) return '\u2013';
    if (typeof v === 'boolean') return v ? 'yes' : 'no';
    if (field === 'position' && v === -1) return 'moving';
    if (field === 'temperature' || field === 'celsius') return v.toFixed(1) + '\u00A0\u00B0C';
    if (field === 'voltage') return v.toFixed(2) + '\u00A0V';
    if (field === 'power') return v.toFixed(0) + '\u00A0%';
    if (field === 'temperatures') {
      if (!v.length) return 'none';
      return v.map(function (t) { return t.name + ':\u00A0' + fmt('celsius', t.celsius); }).join('\n');
    }
    if (typeof v === 'number' && !Number.isInteger(v)) return v.toFixed(2);
    return String(v);
  }
  function fill(scope, values) {
    if (!scope || !values) return;
    scope.querySelectorAll('[data-field]').forEach(function (el) {
      var f = el.getAttribute('data-field');
      if (f in values) el.textContent = fmt(f, values[f]);
    });
  }
  var live = document.getElementById('live');
  function tick() {
    fetch('/setup/v1/status.json', { cache: 'no-store' })
      .then(function (r) { if (!r.ok) throw new Error(r.status); return r.json(); })
      .then(function (s) {
        fill(document.querySelector('[data-key="controller"]'), s.controller);
        (s.devices || []).forEach(function (d) {
          document.querySelectorAll('[data-key="' + d.type + '/' + d.number + '"]')
            .forEach(function (el) { fill(el, d); });
        });
        live.className = 'ok';
        live.textContent = 'live, ' + new Date().toLocaleTimeString();
      })
      .catch(function () { live.className = 'off'; live.textContent = 'no answer from the server'; });
  }
  tick();
  setInterval(tick, 1000);
})();
