// The view's page (see view_page.h). It talks to the program through:
//   GET  /api/cameras                  the camera list and its generation
//   GET  /api/camera?camera=N          formats, scan area, presets, features
//   GET  /api/stats?camera=N           the stream's counts, polled twice a second
//   POST /api/feature?camera=N&feature=F&value=V
//   POST /api/format?camera=N&index=K
//   POST /api/area?camera=N&left=L&top=T&width=W&height=H
//   POST /api/preset?camera=N&action=save|load&preset=P
//   GET  /stream?camera=N              the live picture (multipart JPEG)
//   GET  /picture?camera=N             the newest picture as PNG
#include "tools/tavcam/view/view_page.h"

namespace view {

const char kViewPage[] = R"page(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>tavcam view</title>
<style>
  body { font: 14px system-ui, sans-serif; margin: 0; background: #1d1f21; color: #e0e0e0; }
  header { display: flex; gap: 1em; align-items: center; padding: .6em 1em; background: #282a2e; }
  h1 { font-size: 1.1em; margin: 0; }
  main { display: flex; flex-wrap: wrap; gap: 1em; padding: 1em; }
  #live { flex: 1 1 480px; }
  #picture { max-width: 100%; background: #000; min-height: 120px; display: block;
             image-rendering: pixelated; }
  #stats { font-variant-numeric: tabular-nums; margin: .5em 0; }
  #stats span { margin-right: 1.2em; }
  aside { flex: 0 1 360px; }
  fieldset { border: 1px solid #444; margin: 0 0 .8em; }
  .row { display: grid; grid-template-columns: 9em 1fr 3.5em; gap: .5em; align-items: center;
         margin: .25em 0; }
  .row output { text-align: right; font-variant-numeric: tabular-nums; }
  input[type=number] { width: 5em; }
  #message { padding: 0 1em; min-height: 1.2em; }
  .bad { color: #ff8a80; }
  button, select, input { font: inherit; }
</style>
</head>
<body>
<header>
  <h1>tavcam view</h1>
  <label>Camera <select id="camera"></select></label>
  <span id="note"></span>
</header>
<p id="message" role="status"></p>
<main>
  <section id="live">
    <img id="picture" alt="live picture of the camera">
    <div id="stats">
      <span>fps <b id="fps">-</b></span><span>frames <b id="frames">-</b></span>
      <span>dropped <b id="dropped">-</b></span><span>restarts <b id="restarts">-</b></span>
      <span id="state"></span>
    </div>
    <button id="download">Download picture (PNG)</button>
  </section>
  <aside>
    <fieldset><legend>Format</legend><select id="format"></select></fieldset>
    <fieldset><legend>Scan area</legend>
      <label>left <input id="left" type="number" min="0"></label>
      <label>top <input id="top" type="number" min="0"></label><br>
      <label>width <input id="width" type="number" min="1"></label>
      <label>height <input id="height" type="number" min="1"></label>
      <button id="area">Apply</button>
    </fieldset>
    <fieldset><legend>Presets</legend>
      <select id="preset"></select> <button id="save">Save</button>
      <button id="load">Load</button>
    </fieldset>
    <fieldset><legend>Features</legend><div id="features"></div></fieldset>
  </aside>
</main>
<script>
'use strict';
const $ = id => document.getElementById(id);
let current = '', generation = -1, reconnectAt = 0;

async function api(path, params, method) {
  const r = await fetch(path + '?' + new URLSearchParams(params || {}),
                        {method: method || 'GET', cache: 'no-store'});
  const body = await r.json().catch(() => ({error: r.statusText}));
  if (!r.ok) throw Object.assign(new Error(body.error || r.statusText), {status: r.status});
  return body;
}
function say(text, bad) {
  $('message').textContent = text;
  $('message').className = bad ? 'bad' : '';
}

async function loadCameras() {
  const list = await api('/api/cameras');
  generation = list.generation;
  const names = list.cameras.map(c => c.name);
  $('camera').replaceChildren(...names.map(n => new Option(n, n)));
  $('note').textContent = list.plugAndPlay ? '' : '(cameras coming and going are not reported)';
  if (current && !names.includes(current)) say(current + ' left', true);
  const keep = names.includes(current) ? current : '';
  const want = keep || (names.includes(list.initial) ? list.initial : names[0] || '');
  $('camera').value = want;
  if (want !== current || !keep) await show(want);
}

async function show(name) {
  current = name;
  $('picture').src = name ? '/stream?' + new URLSearchParams({camera: name, t: Date.now()}) : '';
  if (!name) {
    $('features').replaceChildren();
    $('state').textContent = 'no camera';
    return;
  }
  try {
    render(await api('/api/camera', {camera: name}));
    say('');
  } catch (e) {
    say(e.message, true);
  }
}

function render(d) {
  $('format').replaceChildren(...d.formats.map(f => new Option(
      f.index + ': ' + f.width + ' x ' + f.height + ', ' + (f.bits == 24 ? 'colour' : 'grey') +
      ', code ' + f.code + (f.partial ? ', partial' : ', fixed'), f.index)));
  $('format').value = d.format;
  const f = d.formats.find(x => x.index == d.format) || {};
  for (const k of ['left', 'top', 'width', 'height']) {
    $(k).value = d.area[k];
    $(k).step = (k == 'left' || k == 'width') ? f.unitWidth || 1 : f.unitHeight || 1;
    $(k).disabled = !f.partial;
  }
  $('area').disabled = !f.partial;
  $('preset').replaceChildren(
      ...Array.from({length: d.maxPreset + 1}, (_, i) => new Option('preset ' + i, i)));
  $('preset').value = d.preset;
  $('features').replaceChildren(...d.features.map(featureRow));
}

// A feature's control: applied as it moves, with one request on the way at a
// time and the newest value sent next.
function featureRow(f) {
  const row = document.createElement('label');
  row.className = 'row';
  const input = document.createElement('input');
  const out = document.createElement('output');
  input.name = f.name;
  if (f.kind == 'switch') {
    input.type = 'checkbox';
    input.checked = f.value != 0;
  } else {
    input.type = 'range';
    input.min = f.min;
    input.max = f.max;
    input.value = f.value;
  }
  out.textContent = f.value;
  const value = () => f.kind == 'switch' ? (input.checked ? 1 : 0) : Number(input.value);
  let busy = false, next = null;
  async function send() {
    busy = true;
    const v = next;
    next = null;
    try {
      const r = await api('/api/feature', {camera: current, feature: f.name, value: v}, 'POST');
      out.textContent = r.value;
    } catch (e) {
      say(f.name + ': ' + e.message, true);
    }
    busy = false;
    if (next !== null) send();
  }
  input.addEventListener(f.kind == 'switch' ? 'change' : 'input', () => {
    next = value();
    out.textContent = next;
    if (!busy) send();
  });
  row.append(Object.assign(document.createElement('span'), {textContent: f.label}), input, out);
  return row;
}

async function change(path, params, what) {
  try {
    render(await api(path, Object.assign({camera: current}, params), 'POST'));
    say(what);
  } catch (e) {
    say(e.message, true);
  }
}

$('camera').addEventListener('change', () => show($('camera').value));
$('format').addEventListener('change',
    () => change('/api/format', {index: $('format').value}, 'format changed'));
$('area').addEventListener('click', () => change('/api/area', {
  left: $('left').value, top: $('top').value, width: $('width').value, height: $('height').value
}, 'scan area applied'));
$('save').addEventListener('click', () => change('/api/preset',
    {action: 'save', preset: $('preset').value}, 'preset ' + $('preset').value + ' saved'));
$('load').addEventListener('click', () => change('/api/preset',
    {action: 'load', preset: $('preset').value}, 'preset ' + $('preset').value + ' loaded'));
$('download').addEventListener('click', async () => {
  const r = await fetch('/picture?' + new URLSearchParams({camera: current}), {cache: 'no-store'});
  if (!r.ok) return say((await r.json().catch(() => ({}))).error || r.statusText, true);
  const a = document.createElement('a');
  a.href = URL.createObjectURL(await r.blob());
  a.download = (r.headers.get('Content-Disposition') || '').split('filename="')[1]?.slice(0, -1)
      || 'picture.png';
  a.click();
  setTimeout(() => URL.revokeObjectURL(a.href), 10000);
});

async function poll() {
  try {
    if (!current) {
      const list = await api('/api/cameras');
      if (list.generation != generation) await loadCameras();
      return;
    }
    const s = await api('/api/stats', {camera: current});
    const now = performance.now();
    $('fps').textContent = s.fps.toFixed(1);
    $('frames').textContent = s.frames;
    $('dropped').textContent = s.droppedSize + s.droppedMarkers;
    $('restarts').textContent = s.restarts;
    $('state').textContent = s.state == 'failed' ? s.failure : s.state;
    if (s.generation != generation) await loadCameras();
    // The picture's stream ended (the camera went and came back, say): open it again.
    if (s.viewers == 0 && now > reconnectAt) {
      reconnectAt = now + 2000;
      $('picture').src = '/stream?' + new URLSearchParams({camera: current, t: Date.now()});
    }
  } catch (e) {
    if (e.status == 404) await loadCameras().catch(() => {});
  }
}

loadCameras().catch(e => say(e.message, true));
setInterval(poll, 500);
</script>
</body>
</html>
)page";

}  // namespace view
