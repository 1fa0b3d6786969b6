// The zarn console page: plain script, no framework. Every indicator shows
// what the drive reports (the server reads it back), never what was sent.
'use strict';

(() => {
  const $ = (id) => document.getElementById(id);
  const KEEP_MS = 60000;           // samples kept per drive for the scope
  const HEARTBEAT_MS = 100;        // a held jog is renewed this often
  const TYPES = {                  // value ranges of the object types
    u8: [0n, 255n], i8: [-128n, 127n], u16: [0n, 65535n], i16: [-32768n, 32767n],
    u32: [0n, 4294967295n], i32: [-2147483648n, 2147483647n],
  };

  const app = {
    drives: new Map(),   // id -> {info, state, t, p, v, q}
    current: null,
    objects: [],
    paused: null,        // the frozen window while paused
    jog: null,           // {drive, number, timer}
  };

  // The token of a console listening beyond loopback came in the address; the
  // server keeps it in a cookie for this page, so it leaves the address bar.
  if (new URLSearchParams(location.search).has('token')) history.replaceState(null, '', location.pathname);

  // ------------------------------------------------------------ errors

  function showError(error) {
    const box = document.createElement('div');
    box.className = 'error';
    const text = document.createElement('span');
    let message = error.message || String(error);
    if (error.context) message = `${error.context}: ${message}`;
    if (error.code !== undefined) message += ` (code ${error.code}${error.name ? ' ' + error.name : ''})`;
    text.textContent = message;
    box.append(text);
    if (error.hint) {
      const hint = document.createElement('span');
      hint.className = 'hint';
      hint.textContent = error.hint;
      box.append(hint);
    }
    const close = document.createElement('button');
    close.type = 'button';
    close.textContent = '×';
    close.title = 'Dismiss';
    close.onclick = () => box.remove();
    box.append(close);
    const list = $('errors');
    list.prepend(box);
    while (list.children.length > 4) list.lastChild.remove();
  }

  class ApiError extends Error {
    constructor(status, error) {
      super(error.message);
      Object.assign(this, error);
      this.status = status;
    }
  }

  async function api(method, path, body) {
    const options = {method, headers: {}};
    if (body !== undefined) {
      options.headers['Content-Type'] = 'application/json';
      options.body = typeof body === 'string' ? body : JSON.stringify(body);
    }
    const response = await fetch(path, options);
    const text = await response.text();
    let data = null;
    try { data = JSON.parse(text); } catch (e) { data = null; }
    if (!response.ok) {
      const error = new ApiError(response.status, (data && data.error) || {message: `${response.status} ${response.statusText}`});
      error.body = data;
      throw error;
    }
    return {data, text, response};
  }

  // Runs a command; its failure is shown with the library's message and code.
  async function act(what) {
    try {
      const result = await what();
      if (result && result.data && result.data.state) applyState(result.data.state);
      return result;
    } catch (e) {
      showError(e);
      return null;
    }
  }

  const drivePath = (rest) => `/api/drives/${app.current}${rest}`;

  // ------------------------------------------------------------ drives

  function driveEntry(id) {
    if (!app.drives.has(id)) app.drives.set(id, {state: null, where: '', t: [], p: [], v: [], q: []});
    return app.drives.get(id);
  }

  // The list is built once and then changed in place, so that a click never
  // meets an element that a state event has just replaced.
  function renderDriveList() {
    const list = $('drive-list');
    for (const [id, d] of app.drives) {
      let b = document.getElementById(`drive-${id}`);
      if (!b) {
        const li = document.createElement('li');
        b = document.createElement('button');
        b.type = 'button';
        b.id = `drive-${id}`;
        b.innerHTML = '<span class="dot"></span><span class="name"></span><span class="where"></span><span class="flags"></span>';
        b.onclick = () => selectDrive(id);
        li.append(b);
        list.append(li);
      }
      b.setAttribute('aria-current', String(id === app.current));
      const conn = d.state ? d.state.connection.state : 'connecting';
      b.querySelector('.dot').className = `dot ${conn.replace(' ', '-')}`;
      b.querySelector('.name').textContent = `Drive ${id}: ${conn}`;
      b.querySelector('.where').textContent = d.where;
      const flags = b.querySelector('.flags');
      const s = d.state && d.state.status;
      const parts = [];
      if (s) {
        if (s.emergency_stop) parts.push(['E-STOP', true]);
        if (s.alarm) parts.push([`ALARM ${hex(s.alarm_code, 4)}`, true]);
        parts.push([s.servo_on ? 'servo on' : 'servo off', false]);
      }
      const text = parts.map((p) => p[0]).join(' ');
      if (flags.dataset.text === text) continue;
      flags.dataset.text = text;
      flags.replaceChildren();
      for (const [part, bad] of parts) {
        const f = document.createElement('span');
        f.textContent = part + ' ';
        if (bad) f.className = 'bad';
        flags.append(f);
      }
    }
  }

  function selectDrive(id) {
    if (id === app.current) return;
    if (app.jog) endJog('another drive was chosen');
    app.current = id;
    app.paused = null;
    $('scope-pause').setAttribute('aria-pressed', 'false');
    $('scope-pause').textContent = 'Pause';
    $('scope-drive').textContent = `drive ${id}`;
    renderDriveList();
    renderState();
    clearParameterValues();
    readParameters();
    readAlarms();
  }

  const hex = (v, digits) => '0x' + (v >>> 0).toString(16).toUpperCase().padStart(digits, '0');

  function applyState(state) {
    const d = driveEntry(state.drive);
    const before = d.state;
    d.state = state;
    if (state.where) d.where = state.where;
    renderDriveList();
    if (state.drive !== app.current) return;
    renderState();
    const was = before && before.status;
    const now = state.status;
    if (now && (!was || was.alarm !== now.alarm || was.alarm_code !== now.alarm_code)) readAlarms();
    if (app.jog && state.jog && state.jog.number === app.jog.number && state.jog.direction === 0) {
      endJog(state.jog.ended ? `jog ended: ${state.jog.ended}` : 'jog ended');
    }
  }

  function renderState() {
    const d = app.drives.get(app.current);
    const dl = $('state');
    dl.replaceChildren();
    if (!d || !d.state) return;
    const st = d.state;
    const s = st.status;
    const rows = [];
    const flag = (name, value, badWhen) => rows.push([name, value ? 'yes' : 'no', value === badWhen ? 'bad' : value ? 'yes' : 'no']);
    if (s) {
      flag('servo on', s.servo_on, null);
      flag('enable commanded', s.servo_enable_command, null);
      flag('emergency stop', s.emergency_stop, true);
      rows.push(['alarm', s.alarm ? `yes, ${hex(s.alarm_code, 4)}` : 'no', s.alarm ? 'bad' : 'no']);
      flag('in position', s.in_position, null);
      flag('in velocity', s.in_velocity, null);
      flag('torque limit', s.torque_limit, true);
      flag('homed', s.homed, null);
      flag('stop bit', s.stop_command, null);
    }
    if (st.position !== undefined) {
      rows.push(['position', String(st.position), '']);
      rows.push(['velocity', String(st.velocity), '']);
      rows.push(['torque', String(st.torque), '']);
    }
    for (const [name, value, cls] of rows) {
      const dt = document.createElement('dt');
      dt.textContent = name;
      const dd = document.createElement('dd');
      dd.textContent = value;
      dd.className = cls;
      dd.dataset.name = name;
      dl.append(dt, dd);
    }
    const c = st.connection;
    $('connection').textContent = c.state === 'connected'
      ? `${st.where}: answering`
      : `${st.where}: ${c.state}${c.message ? ' — ' + c.message : ''}`;
    $('alarm-current').textContent = s ? (s.alarm ? `alarm ${hex(s.alarm_code, 4)}` : 'none') : '–';
    const jog = st.jog;
    if (jog && jog.direction !== 0) $('jog-state').textContent = `jogging ${jog.direction > 0 ? '+' : '−'}`;
    else if (jog && jog.ended) $('jog-state').textContent = `last jog ended: ${jog.ended}`;
    else $('jog-state').textContent = '';
  }

  // ------------------------------------------------------------ events

  function connectEvents() {
    const source = new EventSource('/api/events');
    source.onopen = () => { $('link').textContent = 'live'; $('link').className = 'link up'; };
    source.onerror = () => { $('link').textContent = 'connection to the console lost — retrying'; $('link').className = 'link down'; };
    source.addEventListener('state', (e) => applyState(JSON.parse(e.data)));
    source.addEventListener('samples', (e) => {
      const m = JSON.parse(e.data);
      const d = driveEntry(m.drive);
      for (let i = 0; i < m.t.length; i++) {
        d.t.push(m.t[i]); d.p.push(m.p[i]); d.v.push(m.v[i]); d.q.push(m.q[i]);
      }
      const last = d.t[d.t.length - 1];
      let drop = 0;
      while (drop < d.t.length && d.t[drop] < last - KEEP_MS) drop++;
      if (drop > 500) for (const k of ['t', 'p', 'v', 'q']) d[k].splice(0, drop);
      if (m.drive === app.current && m.t.length) {
        const i = m.t.length - 1;
        $('read-position').textContent = m.p[i];
        $('read-velocity').textContent = m.v[i];
        $('read-torque').textContent = m.q[i];
      }
    });
  }

  // ------------------------------------------------------------ scope

  const TRACES = [
    {key: 'p', name: 'position', color: '#1f5fbf'},
    {key: 'v', name: 'velocity', color: '#1a7f37'},
    {key: 'q', name: 'torque', color: '#c75b00'},
  ];

  // The samples of the window: the frozen ones while paused.
  function scopeWindow() {
    if (app.paused) return app.paused;
    const d = app.drives.get(app.current);
    const span = Number($('scope-window').value);
    const w = {t: [], p: [], v: [], q: [], span, end: 0};
    if (!d || !d.t.length) return w;
    w.end = d.t[d.t.length - 1];
    let i = d.t.length;
    while (i > 0 && d.t[i - 1] >= w.end - span) i--;
    for (const k of ['t', 'p', 'v', 'q']) w[k] = d[k].slice(i);
    return w;
  }

  function sampleRate() {
    const d = app.drives.get(app.current);
    if (!d || d.t.length < 2) return 0;
    const end = d.t[d.t.length - 1];
    let n = 0;
    for (let i = d.t.length - 1; i >= 0 && d.t[i] > end - 1000; i--) n++;
    return n;
  }

  function drawScope() {
    const canvas = $('scope');
    const ratio = window.devicePixelRatio || 1;
    const width = canvas.clientWidth, height = canvas.clientHeight;
    if (canvas.width !== Math.round(width * ratio) || canvas.height !== Math.round(height * ratio)) {
      canvas.width = Math.round(width * ratio);
      canvas.height = Math.round(height * ratio);
    }
    const g = canvas.getContext('2d');
    g.setTransform(ratio, 0, 0, ratio, 0, 0);
    g.fillStyle = '#fff';
    g.fillRect(0, 0, width, height);
    const w = scopeWindow();
    const left = 78, right = 10, top = 6, bottom = 22;
    const lane = (height - top - bottom) / TRACES.length;
    const x = (t) => left + (width - left - right) * (1 - (w.end - t) / w.span);
    g.font = '11px system-ui, sans-serif';
    TRACES.forEach((trace, n) => {
      const y0 = top + n * lane, y1 = y0 + lane - 8;
      const values = w[trace.key];
      let lo = Infinity, hi = -Infinity;
      for (const v of values) { if (v < lo) lo = v; if (v > hi) hi = v; }
      if (!values.length) { lo = -1; hi = 1; }
      if (hi - lo < 1e-9) { lo -= 1; hi += 1; }
      const pad = (hi - lo) * 0.08;
      lo -= pad; hi += pad;
      const y = (v) => y1 - (y1 - y0) * (v - lo) / (hi - lo);
      g.strokeStyle = '#e4e7eb';
      g.lineWidth = 1;
      g.strokeRect(left, y0, width - left - right, y1 - y0);
      if (lo < 0 && hi > 0) { g.beginPath(); g.moveTo(left, y(0)); g.lineTo(width - right, y(0)); g.stroke(); }
      g.fillStyle = trace.color;
      g.textAlign = 'right';
      g.fillText(trace.name, left - 6, (y0 + y1) / 2 + 4);
      g.fillStyle = '#66707a';
      g.fillText(String(Math.round(hi)), left - 6, y0 + 10);
      g.fillText(String(Math.round(lo)), left - 6, y1);
      g.strokeStyle = trace.color;
      g.lineWidth = 1.5;
      g.beginPath();
      for (let i = 0; i < values.length; i++) {
        const px = x(w.t[i]), py = y(values[i]);
        if (i === 0) g.moveTo(px, py); else g.lineTo(px, py);
      }
      g.stroke();
    });
    g.fillStyle = '#66707a';
    for (let k = 0; k <= 5; k++) {
      const t = w.end - w.span * (1 - k / 5);
      g.textAlign = k === 0 ? 'left' : k === 5 ? 'right' : 'center';
      g.fillText(`${((t - w.end) / 1000).toFixed(1)} s`, x(t), height - 6);
    }
    if (app.paused) {
      g.fillStyle = '#c62828';
      g.textAlign = 'left';
      g.fillText('paused', left + 6, top + 12);
    }
  }

  let lastDraw = 0;
  function frame(now) {
    if (now - lastDraw > 50) {   // 20 frames a second are plenty for the eye
      lastDraw = now;
      drawScope();
      $('scope-rate').textContent = `${sampleRate()} samples/s`;
    }
    requestAnimationFrame(frame);
  }

  function download(name, blob) {
    const a = document.createElement('a');
    a.href = URL.createObjectURL(blob);
    a.download = name;
    document.body.append(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(a.href), 10000);
  }

  const stamp = () => new Date().toISOString().replace(/[:.]/g, '-').slice(0, 19);

  function exportCsv() {
    const w = scopeWindow();
    const lines = ['time_ms,position,velocity,torque'];
    for (let i = 0; i < w.t.length; i++) lines.push(`${w.t[i]},${w.p[i]},${w.v[i]},${w.q[i]}`);
    download(`zarn-drive-${app.current}-scope-${stamp()}.csv`, new Blob([lines.join('\n') + '\n'], {type: 'text/csv'}));
  }

  function exportPng() {
    drawScope();
    $('scope').toBlob((blob) => download(`zarn-drive-${app.current}-scope-${stamp()}.png`, blob), 'image/png');
  }

  function togglePause() {
    app.paused = app.paused ? null : scopeWindow();
    $('scope-pause').setAttribute('aria-pressed', String(!!app.paused));
    $('scope-pause').textContent = app.paused ? 'Resume' : 'Pause';
  }

  // ------------------------------------------------------------ parameters

  function parseValue(text, type) {
    const range = TYPES[type];
    const t = text.trim();
    if (!/^-?(0x[0-9a-f]+|[0-9]+)$/i.test(t)) return {error: 'a whole number, decimal or 0x hexadecimal'};
    const negative = t.startsWith('-');
    let v = BigInt(negative ? t.slice(1) : t);
    if (negative) v = -v;
    if (v < range[0] || v > range[1]) return {error: `${type} takes ${range[0]} to ${range[1]}`};
    return {value: v.toString()};
  }

  function buildParameterTable() {
    const body = $('params').tBodies[0];
    body.replaceChildren();
    for (const o of app.objects) {
      const tr = document.createElement('tr');
      tr.id = `param-${o.name}`;
      tr.dataset.search = `${o.name} ${o.address} ${o.meaning}`.toLowerCase();
      const cells = [o.name, o.address, o.type, o.access];
      for (const c of cells) {
        const td = document.createElement('td');
        td.textContent = c;
        tr.append(td);
      }
      tr.children[0].title = o.meaning;
      const value = document.createElement('td');
      value.className = 'value';
      const unit = document.createElement('td');
      unit.textContent = o.unit;
      const tools = document.createElement('td');
      if (o.access === 'setting') {
        const input = document.createElement('input');
        input.type = 'text';
        input.setAttribute('aria-label', `value of ${o.name}`);
        input.onkeydown = (e) => { if (e.key === 'Enter') writeParameter(o, input, tr); };
        input.oninput = () => {
          const p = parseValue(input.value, o.type);
          input.classList.toggle('invalid', !!p.error);
          input.title = p.error || '';
        };
        value.append(input);
        const write = document.createElement('button');
        write.type = 'button';
        write.textContent = 'Write';
        write.onclick = () => writeParameter(o, input, tr);
        tools.append(write);
      }
      tr.append(value, unit, tools);
      body.append(tr);
    }
    filterParameters();
  }

  function setParameterValue(name, entry) {
    const tr = document.getElementById(`param-${name}`);
    if (!tr) return;
    const cell = tr.querySelector('td.value');
    const shown = entry.error ? `error ${entry.error.code ?? ''}` : `${entry.value}`;
    const input = cell.querySelector('input');
    if (input) {
      if (document.activeElement !== input) input.value = entry.error ? '' : String(entry.value);
      input.classList.remove('invalid');
      input.dataset.readBack = entry.error ? '' : String(entry.value);
    } else {
      cell.textContent = shown;
    }
    cell.title = entry.error ? entry.error.message : (entry.hex || '');
  }

  function clearParameterValues() {
    for (const o of app.objects) setParameterValue(o.name, {value: ''});
    $('params-note').textContent = '';
  }

  async function readParameters() {
    const drive = app.current;
    $('params-note').textContent = 'reading…';
    const r = await act(() => api('GET', drivePath('/objects')));
    if (!r || drive !== app.current) return;
    for (const entry of r.data) setParameterValue(entry.name, entry);
    $('params-note').textContent = `read from drive ${drive} at ${new Date().toLocaleTimeString()}`;
  }

  async function writeParameter(o, input, tr) {
    const p = parseValue(input.value, o.type);
    if (p.error) {
      input.classList.add('invalid');
      showError({message: `${o.name}: ${p.error}`});
      return;
    }
    tr.classList.remove('written', 'failed');
    try {
      const r = await api('PUT', drivePath(`/objects/${o.name}`), {value: p.value});
      input.blur();
      setParameterValue(o.name, r.data);   // the value read back from the drive
      tr.classList.add('written');
    } catch (e) {
      tr.classList.add('failed');
      showError(e);
      if (e.value !== undefined) setParameterValue(o.name, {value: e.value});
    }
  }

  function filterParameters() {
    const words = $('params-filter').value.toLowerCase().trim();
    for (const tr of $('params').tBodies[0].rows) tr.hidden = words !== '' && !tr.dataset.search.includes(words);
  }

  // ------------------------------------------------------------ motion

  function number(id, label, lo, hi) {
    const input = $(id);
    const t = input.value.trim();
    const v = /^-?\d+$/.test(t) ? Number(t) : NaN;
    if (!Number.isSafeInteger(v) || v < lo || v > hi) {
      input.classList.add('invalid');
      throw new ApiError(0, {message: `${label} must be a whole number from ${lo} to ${hi}`});
    }
    input.classList.remove('invalid');
    return v;
  }

  const U32 = 4294967295, I32 = 2147483647;

  function command(path, body) {
    return act(() => api('POST', drivePath(path), body === undefined ? {} : body()));
  }

  function move() {
    return command('/move', () => ({
      mode: $('move-mode').value,
      target: number('move-target', 'target', -I32 - 1, I32),
      velocity: number('move-velocity', 'velocity', 1, U32),
      acceleration: number('move-acceleration', 'acceleration', 1, U32),
      deceleration: number('move-deceleration', 'deceleration', 1, U32),
    }));
  }

  function home() {
    return command('/home', () => ({
      method: number('home-method', 'homing method', -128, 127),
      switch_speed: number('home-switch', 'switch speed', -I32 - 1, I32),
      zero_speed: number('home-zero', 'zero speed', -I32 - 1, I32),
      acceleration: number('home-acceleration', 'homing acceleration', 1, U32),
      offset: number('home-offset', 'home offset', -32768, 32767),
    }));
  }

  async function startJog(direction, button) {
    if (app.jog) return;
    let body;
    try {
      body = {
        direction,
        velocity: number('jog-velocity', 'jog velocity', 1, U32),
        acceleration: number('jog-acceleration', 'jog acceleration', 1, U32),
      };
    } catch (e) { showError(e); return; }
    const drive = app.current;
    const jog = {drive, number: 0, timer: null, button, released: false};
    app.jog = jog;
    button.classList.add('active');
    try {
      const r = await api('POST', drivePath('/jog'), body);
      jog.number = r.data.jog;
    } catch (e) {
      showError(e);
      endJog(null);
      return;
    }
    if (jog.released) { stopJog(); return; }
    // The dead man: the server stops the axis when these stop coming.
    jog.timer = setInterval(async () => {
      try {
        await api('POST', `/api/drives/${drive}/jog/heartbeat`, {jog: jog.number});
      } catch (e) {
        if (app.jog === jog) { showError(e); endJog(null); }
      }
    }, HEARTBEAT_MS);
  }

  function endJog(note) {
    const jog = app.jog;
    if (!jog) return;
    clearInterval(jog.timer);
    jog.button.classList.remove('active');
    app.jog = null;
    if (note) $('jog-state').textContent = note;
  }

  function stopJog() {
    const jog = app.jog;
    if (!jog) return;
    if (!jog.number) { jog.released = true; return; }   // the start is still on its way
    endJog(null);
    act(() => api('POST', `/api/drives/${jog.drive}/stop`, {}));
  }

  async function emergencyStop() {
    endJog(null);
    try {
      const r = await api('POST', '/api/estop', {});
      $('link').textContent = 'emergency stop sent';
      return r;
    } catch (e) {
      showError(e);
      const drives = (e.body && e.body.drives) || [];
      for (const d of drives) if (!d.ok) showError({...d.error, context: `drive ${d.drive}: ${d.error.context || 'emergency stop'}`});
      return null;
    }
  }

  // ------------------------------------------------------------ alarms and backup

  async function readAlarms() {
    if (app.current === null) return;
    const drive = app.current;
    const r = await act(() => api('GET', drivePath('/alarms')));
    if (!r || drive !== app.current) return;
    const list = $('alarm-history');
    list.replaceChildren();
    for (const entry of r.data.history) {
      const li = document.createElement('li');
      li.textContent = entry;
      list.append(li);
    }
    if (!r.data.history.length) {
      const li = document.createElement('li');
      li.textContent = '(no alarms recorded)';
      li.className = 'muted';
      list.append(li);
    }
  }

  async function backup() {
    const r = await act(() => api('GET', drivePath('/backup')));
    if (!r) return;
    const disposition = r.response.headers.get('Content-Disposition') || '';
    const name = (/filename="([^"]+)"/.exec(disposition) || [])[1] || `zarn-drive-${app.current}-backup.json`;
    download(name, new Blob([r.text], {type: 'application/json'}));
  }

  let restoreText = null;
  async function chooseRestore() {
    const file = $('restore-file').files[0];
    if (!file) return;
    restoreText = await file.text();
    let summary = `${file.name}`;
    try {
      const doc = JSON.parse(restoreText);
      summary += `: ${Object.keys(doc.parameters || {}).length} parameters, ${(doc.index_records || []).length} index records`;
      if (doc.drive !== undefined) summary += `, saved from drive ${doc.drive}`;
    } catch (e) {
      summary += ' (not JSON: the drive will refuse it)';
    }
    $('restore-note').textContent = summary;
    $('restore').hidden = false;
    $('restore').textContent = `Write to drive ${app.current}`;
  }

  async function restore() {
    const r = await act(() => api('POST', drivePath('/restore'), restoreText));
    if (!r) return;
    $('restore-note').textContent =
      `written and read back: ${r.data.parameters} parameters, ${r.data.index_records} index records`;
    $('restore').hidden = true;
    $('restore-file').value = '';
    readParameters();
  }

  // ------------------------------------------------------------ start

  function wire() {
    $('estop').onclick = emergencyStop;
    document.addEventListener('keydown', (e) => {
      if (e.key === 'Escape') { e.preventDefault(); emergencyStop(); }
    }, true);
    $('enable').onclick = () => command('/enable');
    $('disable').onclick = () => command('/disable');
    $('stop').onclick = () => { endJog(null); command('/stop'); };
    $('estop-release').onclick = () => command('/estop/release');
    $('move').onclick = move;
    $('home').onclick = home;
    for (const [id, direction] of [['jog-minus', -1], ['jog-plus', 1]]) {
      const b = $(id);
      b.addEventListener('pointerdown', (e) => { e.preventDefault(); startJog(direction, b); });
      for (const end of ['pointerup', 'pointerleave', 'pointercancel', 'blur']) b.addEventListener(end, stopJog);
      b.addEventListener('keydown', (e) => { if ((e.key === ' ' || e.key === 'Enter') && !e.repeat) startJog(direction, b); });
      b.addEventListener('keyup', (e) => { if (e.key === ' ' || e.key === 'Enter') stopJog(); });
    }
    window.addEventListener('blur', stopJog);
    $('alarm-reset').onclick = async () => { await command('/alarm/reset'); readAlarms(); };
    $('alarm-refresh').onclick = readAlarms;
    $('scope-pause').onclick = togglePause;
    $('scope-csv').onclick = exportCsv;
    $('scope-png').onclick = exportPng;
    $('params-read').onclick = readParameters;
    $('params-filter').oninput = filterParameters;
    $('backup').onclick = backup;
    $('restore-file').onchange = chooseRestore;
    $('restore').onclick = restore;
  }

  async function start() {
    wire();
    try {
      const info = (await api('GET', '/api/info')).data;
      $('version').textContent = info.version;
      for (const d of info.drives) driveEntry(d.drive).where = d.where;
      app.objects = (await api('GET', '/api/objects')).data;
      buildParameterTable();
      connectEvents();
      selectDrive(info.drives[0].drive);
      requestAnimationFrame(frame);
    } catch (e) {
      showError(e);
    }
  }

  start();
})();
