// The loop viewer, loop.html: one page with its style and script inline
// (no network, no external script, style or font), kept beside the frame
// pictures.  It follows the loop's state file (loop-state.js) by adding it
// anew as a script element every second with a query that defeats caches:
// a page opened straight from disk (file://) may load a script but may not
// read a file, and the same works over http.
//
// What it shows: the loop's frames in loop order, one at a time, each
// labelled with its dataset, image date and time and frame number, with a
// counter ("3 / 8"); a frame not drawn yet is an empty slot of the
// pictures' size, never a broken image.  A strip under the picture lists
// the loop's frames and marks each frame the loop leaves out between two of
// its frames (SEQS 1-4 6-10 leaves out 5: the loop's bad frame).  Play and
// pause, step back and forward, first and last, and the speed are buttons
// and keys (space, left, right, +, -, Home, End); a step pauses.  The kit's
// loop is followed: a change of its running (SCRNSET, VWF) starts or stops
// the play, a change of its dwell (ZRNG) sets the speed; between changes the
// operator's choice stands.  The picture is scaled to the window, its
// aspect kept.  The body's data attributes (frame, index, count, playing,
// dwell, serial) say what is shown, for a test or a script.

#include <string>

#include "kit/kit.h"

namespace kit {

const std::string &LoopPageText() {
  static const std::string page = R"PAGE(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Frame loop</title>
<style>
  [hidden] { display: none !important; }
  html, body { margin: 0; height: 100%; }
  body { display: flex; flex-direction: column; background: #11161b; color: #d9e0e6;
         font: 14px/1.4 sans-serif; }
  header { display: flex; flex-wrap: wrap; gap: 0.4em 1.4em; align-items: baseline; padding: 6px 10px; }
  #counter { font-weight: bold; font-size: 120%; font-variant-numeric: tabular-nums; }
  #label { font-family: monospace; font-size: 115%; }
  #bad { color: #ff9c9c; }
  #note { color: #8fa1b3; font-size: 90%; margin-left: auto; }
  #stage { flex: 1 1 auto; min-height: 120px; display: flex; align-items: center; justify-content: center;
           overflow: hidden; }
  #picture { image-rendering: pixelated; display: block; }
  #slot { box-sizing: border-box; border: 2px dashed #4b5a68; color: #8fa1b3; display: flex;
          align-items: center; justify-content: center; text-align: center; }
  nav { display: flex; flex-wrap: wrap; gap: 4px; align-items: center; justify-content: center; padding: 6px; }
  button { background: #24303b; color: #e8eef3; border: 1px solid #4b5a68; border-radius: 3px;
           padding: 3px 10px; font: inherit; cursor: pointer; min-width: 3em; }
  button:hover { background: #2f3e4b; }
  #speed { min-width: 7em; text-align: center; font-variant-numeric: tabular-nums; }
  #strip { display: flex; flex-wrap: wrap; gap: 3px; justify-content: center; padding: 2px 10px 8px; }
  .cell { min-width: 2.4em; padding: 1px 4px; border: 1px solid #4b5a68; border-radius: 3px; text-align: center;
          font-size: 85%; cursor: pointer; background: #1a232c; }
  .cell.empty { border-style: dashed; color: #7b8a98; }
  .cell.bad { background: #5c1f1f; border-color: #e05a5a; color: #ffc2c2; cursor: default;
              text-decoration: line-through; }
  .cell.current { outline: 2px solid #ffd34d; }
</style>
</head>
<body data-frame="0" data-index="-1" data-count="0" data-playing="false" data-dwell="0" data-serial="0">
<header>
  <span id="counter">&ndash; / &ndash;</span>
  <span id="label">waiting for the loop's state (loop-state.js)</span>
  <span id="bad"></span>
  <span id="note"></span>
</header>
<main id="stage">
  <img id="picture" alt="" hidden>
  <div id="slot" hidden></div>
</main>
<nav>
  <button id="first" title="first frame (Home)">|&lt;</button>
  <button id="back" title="step back (&larr;)">&lt;</button>
  <button id="play" title="play or pause (space)">play</button>
  <button id="forward" title="step forward (&rarr;)">&gt;</button>
  <button id="last" title="last frame (End)">&gt;|</button>
  <button id="slower" title="slower (&minus;)">&minus;</button>
  <span id="speed"></span>
  <button id="faster" title="faster (+)">+</button>
</nav>
<div id="strip"></div>
<script>
'use strict';
(function () {
  const kStateFile = 'loop-state.js';
  const kPollMs = 1000;
  const kLeastDwell = 50, kMostDwell = 60000;
  const $ = (id) => document.getElementById(id);
  const picture = $('picture'), slot = $('slot'), stage = $('stage');

  let state = null;                   // the kit's state as last read
  let kitRunning = null, kitDwell = null;  // the kit's running and dwell last followed
  let playing = false, dwell = 500, at = 0, timer = null;
  const cached = new Map();           // frame -> Image, so that playing does not wait for the files
  const shown = [];                   // [frame, ms] each time another frame is shown
  window.varnekShown = shown;

  const pad = (n, w) => String(n).padStart(w, '0');
  const pictureName = (f) => 'frame' + pad(f, 4) + '.png';
  function dateText(ccyyddd) {
    const day = new Date(Date.UTC(Math.floor(ccyyddd / 1000), 0, ccyyddd % 1000));
    return day.getUTCFullYear() + '-' + pad(day.getUTCMonth() + 1, 2) + '-' + pad(day.getUTCDate(), 2) +
           ' (' + ccyyddd + ')';
  }
  const timeText = (t) => pad(Math.floor(t / 10000), 2) + ':' + pad(Math.floor(t / 100) % 100, 2) + ':' +
                          pad(t % 100, 2);

  // The lines of the state file, as the kit writes them; null for lines
  // that are not of its kind.
  function parse(lines) {
    if (!Array.isArray(lines) || lines[0] !== 'VARNEK-LOOP 1') return null;
    const st = { serial: 0, running: false, dwell: 500, loop: [], labels: new Map() };
    for (const line of lines.slice(1)) {
      const w = String(line).split(' ').filter((x) => x !== '');
      if (w[0] === 'serial') {
        st.serial = Number(w[1]);
      } else if (w[0] === 'loop' && w.length >= 3) {
        st.running = w[1] === '1';
        st.dwell = Math.min(kMostDwell, Math.max(kLeastDwell, Number(w[2]) || 500));
        st.loop = w.slice(3).map(Number).filter((f) => Number.isInteger(f) && f >= 1);
      } else if (w[0] === 'frame' && w.length === 8) {
        const f = Number(w[1]);
        st.labels.set(f, { frame: f, date: Number(w[2]), time: Number(w[3]), width: Number(w[4]),
                           height: Number(w[5]), drawn: Number(w[6]), dataset: w[7] });
      }
    }
    return st;
  }

  // The frames stepped through: the loop, or without one every drawn frame.
  function frames() {
    if (!state) return [];
    if (state.loop.length) return state.loop;
    return Array.from(state.labels.keys()).sort((a, b) => a - b);
  }
  const current = () => { const list = frames(); return list.length ? list[at] : 0; };

  // Frames the loop leaves out between two of its frames that follow each
  // other upwards: the bad frame the client leaves out of a loop.
  function leftOut() {
    const list = state ? state.loop : [], held = new Set(list), out = [];
    for (let i = 0; i + 1 < list.length; ++i)
      for (let g = list[i] + 1; g < list[i + 1]; ++g)
        if (!held.has(g)) out.push([i, g]);
    return out;
  }

  function note(text) { $('note').textContent = text; }

  function buildStrip() {
    const box = $('strip');
    box.textContent = '';
    const list = frames(), out = leftOut();
    list.forEach((f, i) => {
      const cell = document.createElement('span');
      cell.className = 'cell' + (state.labels.has(f) ? '' : ' empty');
      cell.dataset.frame = f;
      cell.dataset.index = i;
      cell.textContent = f;
      cell.title = state.labels.has(f) ? 'frame ' + f : 'frame ' + f + ': not drawn yet';
      cell.addEventListener('click', () => { playing = false; at = i; show(); });
      box.appendChild(cell);
      for (const [after, g] of out) {
        if (after !== i) continue;
        const bad = document.createElement('span');
        bad.className = 'cell bad';
        bad.dataset.frame = g;
        bad.textContent = g;
        bad.title = 'frame ' + g + ': left out of the loop (bad)';
        box.appendChild(bad);
      }
    });
    const bad = out.map(([, g]) => g);
    $('bad').textContent = bad.length === 0 ? '' :
        (bad.length === 1 ? 'frame ' + bad[0] : 'frames ' + bad.join(', ')) + ' left out of the loop (bad)';
  }

  function preload() {
    for (const f of frames()) {
      const label = state.labels.get(f);
      if (!label) continue;
      const src = pictureName(f) + '?v=' + label.drawn;
      const had = cached.get(f);
      if (had && had.getAttribute('src') === src) continue;
      const image = new Image();
      image.src = src;
      cached.set(f, image);
    }
  }

  // The size an empty slot takes: that of a drawn picture of the loop, or
  // of a frame (640 x 480).
  function slotSize() {
    for (const f of frames()) {
      const label = state.labels.get(f);
      if (label) return [label.width, label.height];
    }
    return [640, 480];
  }

  // Scales the picture (or the slot) to the room the window leaves, its
  // aspect kept.
  function fit() {
    const showing = picture.hidden ? slot : picture;
    let w, h;
    if (!picture.hidden && picture.naturalWidth > 0) {
      w = picture.naturalWidth;
      h = picture.naturalHeight;
    } else {
      const label = state && state.labels.get(current());
      [w, h] = label && !picture.hidden ? [label.width, label.height] : slotSize();
    }
    const room_w = Math.max(1, stage.clientWidth - 8), room_h = Math.max(1, stage.clientHeight - 8);
    const scale = Math.min(room_w / w, room_h / h);
    showing.style.width = Math.max(1, Math.floor(w * scale)) + 'px';
    showing.style.height = Math.max(1, Math.floor(h * scale)) + 'px';
  }

  function showSlot(text) {
    picture.hidden = true;
    picture.removeAttribute('src');
    slot.hidden = false;
    slot.textContent = text;
  }

  function show() {
    clearTimeout(timer);
    timer = null;
    const list = frames();
    if (at >= list.length) at = 0;
    const f = current();
    const label = state && f ? state.labels.get(f) : undefined;
    $('counter').textContent = list.length ? (at + 1) + ' / ' + list.length : '0 / 0';
    if (!f) {
      $('label').textContent = state ? 'no frame drawn and no loop set yet' : 'waiting for the loop\'s state';
      showSlot('no frames');
    } else if (label) {
      $('label').textContent = label.dataset + ' \u00b7 ' + dateText(label.date) + ' ' + timeText(label.time) +
                               ' UTC \u00b7 frame ' + f;
      const src = pictureName(f) + '?v=' + label.drawn;
      slot.hidden = true;
      picture.hidden = false;
      picture.alt = 'frame ' + f + ': ' + label.dataset + ' ' + label.date + ' ' + timeText(label.time);
      if (picture.getAttribute('src') !== src) picture.src = src;
    } else {
      $('label').textContent = 'frame ' + f + ' \u00b7 not drawn yet';
      showSlot('frame ' + f + ': not drawn yet');
    }
    fit();
    for (const cell of $('strip').children)
      cell.classList.toggle('current', cell.dataset.index !== undefined && Number(cell.dataset.index) === at);
    const b = document.body.dataset;
    b.frame = f;
    b.index = list.length ? at : -1;
    b.count = list.length;
    b.playing = playing && list.length > 1;
    b.dwell = dwell;
    b.serial = state ? state.serial : 0;
    if (!shown.length || shown[shown.length - 1][0] !== f) {
      shown.push([f, performance.now()]);
      if (shown.length > 100) shown.shift();
    }
    $('play').textContent = playing ? 'pause' : 'play';
    $('speed').textContent = dwell + ' ms' + (kitDwell !== null && dwell !== kitDwell ? ' (kit ' + kitDwell + ')' : '');
    if (playing && list.length > 1) timer = setTimeout(() => { at = (at + 1) % frames().length; show(); }, dwell);
  }

  picture.addEventListener('load', fit);
  picture.addEventListener('error', () => {
    if (!picture.hidden && picture.getAttribute('src')) showSlot('frame ' + current() + ': the picture cannot be loaded');
    fit();
  });
  window.addEventListener('resize', fit);

  // The state file calls this with its lines.
  window.varnekLoopState = function (lines) {
    const st = parse(lines);
    const now = new Date();
    if (!st) {
      note('loop-state.js is not a loop state (' + now.toLocaleTimeString() + ')');
      return;
    }
    note('following loop-state.js: serial ' + st.serial + ', the kit\'s loop ' +
         (st.running ? 'runs' : 'is stopped') + ' (read ' + now.toLocaleTimeString() + ')');
    if (state && st.serial === state.serial) return;
    const before = current();
    state = st;
    if (st.running !== kitRunning) { kitRunning = st.running; playing = st.running; }
    if (st.dwell !== kitDwell) { kitDwell = st.dwell; dwell = st.dwell; }
    const i = frames().indexOf(before);
    at = i >= 0 ? i : 0;
    buildStrip();
    preload();
    show();
  };

  // Adds the state file anew, unless the last one is still on its way (a
  // slow server) and not yet given up on.
  let asked = 0, arrived = true;
  function poll() {
    if (!arrived && Date.now() - asked < 5 * kPollMs) return;
    const old = $('state-script');
    if (old) old.remove();
    const script = document.createElement('script');
    script.id = 'state-script';
    script.src = kStateFile + '?t=' + Date.now();
    script.onload = () => { arrived = true; };
    script.onerror = () => { arrived = true; note('no loop state yet: ' + kStateFile + ' cannot be loaded'); };
    asked = Date.now();
    arrived = false;
    document.head.appendChild(script);
  }

  function move(to) {
    const n = frames().length;
    if (!n) return;
    playing = false;
    at = ((to % n) + n) % n;
    show();
  }
  const actions = {
    first: () => move(0),
    back: () => move(at - 1),
    forward: () => move(at + 1),
    last: () => move(frames().length - 1),
    play: () => { playing = !playing; show(); },
    faster: () => { dwell = Math.max(kLeastDwell, Math.round(dwell / 1.5)); show(); },
    slower: () => { dwell = Math.min(kMostDwell, Math.round(dwell * 1.5)); show(); },
  };
  for (const [id, act] of Object.entries(actions))
    $(id).addEventListener('click', (e) => { act(); e.currentTarget.blur(); });
  const keys = { ' ': 'play', 'Spacebar': 'play', 'ArrowLeft': 'back', 'ArrowRight': 'forward', '+': 'faster',
                 '=': 'faster', 'Add': 'faster', '-': 'slower', '_': 'slower', 'Subtract': 'slower',
                 '\u2212': 'slower', 'Home': 'first', 'End': 'last' };
  document.addEventListener('keydown', (e) => {
    if (e.altKey || e.ctrlKey || e.metaKey || !(e.key in keys)) return;
    e.preventDefault();
    actions[keys[e.key]]();
  });

  show();
  poll();
  setInterval(poll, kPollMs);
})();
</script>
</body>
</html>
)PAGE";
  return page;
}

}  // namespace kit
