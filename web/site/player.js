// The web player: the page over the vantrel package. The song is opened three
// times from the same bytes: here (texts, structure, the draws), in the
// AudioWorklet that plays it (worklet.js) and in a worker for the picture's events
// and "Save as WAV" (worker.js).
import { loadCore, openSong, SAMPLE_RATE } from './vantrel/vantrel.mjs';
import { drawPicture, timeAt } from './picture.js';

const $ = (id) => document.getElementById(id);
const RATE = SAMPLE_RATE;
const DEMO = 'demo.vn';
const NOT_A_SONG = 'File is not a VNF or is corrupted.';

const state = {
  bytes: null,        // the song file
  songUrl: null,      // where it came from, when it has an address
  name: '',
  song: null,         // this thread's Song: texts, structure, draws
  perf: null,         // the prepared performance
  arrangement: -1,    // the arrangement asked for (-1: any)
  events: null,
  playing: false,
  frame: 0,           // the worklet's last reported position
  reportedAt: 0,      // and the audio clock then
  played: new Set(),  // performance numbers of this song played since the page opened
  shapes: new Set(),  // and their sequences, so that "new each time" never repeats one
  heard: new Map(),   // the two sets of every song opened, by name and size
  ctx: null, node: null, gain: null,
  requests: 0,
  opening: Promise.resolve(),
};

// Exposed for tests and for the curious: the state, the worklet's counters and the
// last WAV made.
window.vantrelPlayer = { state, stats: () => ask({ type: 'stats' }) };

// ---- Audio: one AudioContext at 44 100 Hz and the worklet node, made on first use.

let wasmModule = null;
async function compiledCore() {
  if (!wasmModule) {
    const response = await fetch(new URL('./vantrel/vantrel-core.wasm', import.meta.url));
    wasmModule = await WebAssembly.compile(await response.arrayBuffer());
  }
  return wasmModule;
}

const pending = new Map();
function ask(msg) {
  const id = ++state.requests;
  return new Promise((resolve, reject) => {
    pending.set(id, { resolve, reject });
    state.node.port.postMessage({ ...msg, id });
  });
}

async function audio() {
  if (state.node) return;
  const ctx = new AudioContext({ sampleRate: RATE, latencyHint: 'playback' });
  await ctx.audioWorklet.addModule(new URL('./worklet.js', import.meta.url));
  const node = new AudioWorkletNode(ctx, 'vantrel-player', {
    numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [2],
    processorOptions: { wasmModule: await compiledCore() },
  });
  const gain = new GainNode(ctx, { gain: volume() });
  node.connect(gain).connect(ctx.destination);
  node.port.onmessage = (e) => fromWorklet(e.data);
  Object.assign(state, { ctx, node, gain });
  if (state.bytes) await sendSong();
}

function fromWorklet(msg) {
  if (msg.id !== undefined && pending.has(msg.id)) {
    const { resolve, reject } = pending.get(msg.id);
    pending.delete(msg.id);
    if (msg.type === 'error') reject(new Error(msg.message));
    else resolve(msg);
    return;
  }
  if (msg.type === 'position') {
    state.frame = msg.frame;
    state.reportedAt = msg.time;
  } else if (msg.type === 'ended') {
    ended();
  } else if (msg.type === 'error') {
    showError(msg.message);
  }
}

async function sendSong() {
  await ask({ type: 'open', bytes: state.bytes.slice() });
  // Where the page stands: a seek made before the first play counts too.
  if (state.perf) await ask({ type: 'prepare', performance: state.perf.number, arrangement: state.perf.arrangement, frame: state.frame });
}

// ---- Opening a song

function showError(text) {
  $('error').textContent = text;
  $('error').hidden = !text;
}
function status(text) { $('status').textContent = text; }

async function fetchSong(url) {
  const response = await fetch(url);
  if (!response.ok) throw new Error(`cannot load ${url}: HTTP ${response.status}`);
  return new Uint8Array(await response.arrayBuffer());
}

// Opens a song; on failure the page keeps the song it had and says why.
function open(getBytes, name, songUrl, wanted = {}) {
  state.opening = state.opening.then(async () => {
    showError('');
    status(`Opening ${name}…`);
    let bytes, song;
    try {
      bytes = await getBytes();
      song = await openSong(bytes);
    } catch (error) {
      status(state.song ? `Loaded ${state.name}` : "");
      showError(`${name}: ${error.message || NOT_A_SONG}`);
      return false;
    }
    await pause();
    if (state.song) state.song.close();
    const key = `${name}:${bytes.length}`;
    if (!state.heard.has(key)) state.heard.set(key, { played: new Set(), shapes: new Set() });
    Object.assign(state, { bytes, song, name, songUrl, perf: null, events: null, frame: 0, ...state.heard.get(key) });
    showSong();
    if (state.node) await ask({ type: 'open', bytes: bytes.slice() });
    const arrangement = wanted.arrangement === undefined ? -1 : arrangementIndex(wanted.arrangement);
    if (!(await choose(wanted.performance || drawNumber(), arrangement))) await choose(drawNumber(), -1);
    status(`Loaded ${name}`);
    return true;
  });
  return state.opening;
}

function arrangementIndex(name) {
  const i = state.song.arrangements.findIndex((a) => a.name === name);
  return i;
}

function text(el, value) { $(el).textContent = value || '—'; }

function showSong() {
  const { song } = state;
  $('title').textContent = song.texts.title || state.name;
  document.title = `${song.texts.title || state.name} · Vantrel player`;
  text('author', song.texts.author);
  text('publisher', song.texts.publisher);
  text('genre', song.texts.genre);
  text('copyright', song.texts.copyright);
  const menu = $('arrangement');
  menu.replaceChildren(new Option('any', '-1'), ...song.arrangements.map((a, i) => new Option(a.name, String(i))));
  $('arrangements').replaceChildren(...song.arrangements.map((a) => {
    const li = document.createElement('li');
    li.textContent = `${a.name}: `;
    const list = document.createElement('span');
    list.className = 'minor';
    list.textContent = a.sections.map((s) => song.sections[s]?.name ?? `#${s}`).join(' → ');
    li.append(list);
    return li;
  }));
  $('sections').replaceChildren(...song.sections.map((s) => {
    const li = document.createElement('li');
    li.textContent = `${s.name}: `;
    const list = document.createElement('span');
    list.className = 'minor';
    list.textContent = s.variations.map((v) => `${v.name || '(unnamed)'} ${seconds(v.lengthMs)}`).join(', ');
    li.append(list);
    return li;
  }));
  for (const id of ['play', 'seek', 'new', 'arrangement', 'wav']) $(id).disabled = false;
  $('choose').querySelector('button').disabled = false;
}

// ---- Performances

function drawNumber() {
  const r = new Uint32Array(1);
  crypto.getRandomValues(r);
  return 1 + (r[0] % 9999);
}

// Prepares performance `number` (with `arrangement` >= 0, the first from it on that
// chose that arrangement) here and in the worklet. False when it cannot be played.
async function choose(number, arrangement, { play = state.playing } = {}) {
  let perf;
  try {
    perf = state.song.prepare(number, arrangement >= 0 ? arrangement : undefined);
  } catch (error) {
    showError(error.message);
    return false;
  }
  showError('');
  const wasPlaying = state.playing;
  if (wasPlaying) await pause();
  state.perf = perf;
  state.arrangement = arrangement;
  state.frame = 0;
  state.played.add(perf.number);
  state.shapes.add(shape(perf));
  if (state.node) await ask({ type: 'prepare', performance: perf.number, arrangement: perf.arrangement });
  $('number').textContent = String(perf.number);
  $('wanted').value = String(perf.number);
  $('arrangement').value = String(arrangement);
  $('seek').max = String(perf.lengthMs);
  $('total').textContent = clock(perf.lengthMs);
  updateAddress();
  requestEvents();
  redraw();
  if (play || wasPlaying) await start();
  return true;
}

function shape(perf) { return `${perf.arrangement}:${perf.entries.map((e) => `${e.section}.${e.variation}`).join(',')}`; }

// A performance not heard yet since the page opened the song: a number not played, and
// while there are any, a sequence of sections and variations not played either.
function freshNumber() {
  let fallback = 0;
  for (let tries = 0; tries < 400; tries++) {
    const n = tries < 200 ? drawNumber() : 10000 + state.played.size + tries;
    if (state.played.has(n)) continue;
    if (!fallback) fallback = n;
    try {
      const perf = state.song.prepare(n, state.arrangement >= 0 ? state.arrangement : undefined);
      if (!state.played.has(perf.number) && !state.shapes.has(shape(perf))) return perf.number;
    } catch {
      return fallback;
    }
  }
  return fallback;
}

function updateAddress() {
  const params = new URLSearchParams();
  if (state.songUrl) params.set('song', state.songUrl);
  params.set('performance', String(state.perf.number));
  if (state.arrangement >= 0) params.set('arrangement', state.song.arrangements[state.arrangement].name);
  history.replaceState(null, '', `${location.pathname}${location.search}#${params}`);
}

function readAddress() {
  const hash = new URLSearchParams(location.hash.slice(1));
  const query = new URLSearchParams(location.search);
  const performance = Number.parseInt(hash.get('performance') ?? '', 10);
  return {
    song: hash.get('song') || query.get('song') || null,
    performance: performance >= 1 ? performance : undefined,
    arrangement: hash.get('arrangement') ?? undefined,
  };
}

// ---- The picture's events, from the worker

const worker = new Worker(new URL('./worker.js', import.meta.url), { type: 'module' });
const jobs = new Map();
worker.onmessage = (e) => {
  const job = jobs.get(e.data.id);
  if (job) job(e.data);
};
function work(msg, onMessage) {
  const id = ++state.requests;
  jobs.set(id, onMessage);
  worker.postMessage({ ...msg, id });
  return id;
}

function requestEvents() {
  const { perf } = state;
  state.events = null;
  work({ type: 'events', bytes: state.bytes, performance: perf.number, arrangement: -1 }, (msg) => {
    if (state.perf !== perf) return;
    if (msg.type === 'events') state.events = msg.events;
    redraw();
  });
}

// ---- Transport

async function start() {
  await audio();
  if (state.ctx.state !== 'running') await state.ctx.resume();
  if (state.frame >= framesOf(state.perf)) await seekFrame(0);
  await ask({ type: 'play' });
  state.playing = true;
  state.reportedAt = state.ctx.currentTime;
  playButton();
}

async function pause() {
  if (!state.playing) return;
  state.playing = false;
  playButton();
  if (state.node) await ask({ type: 'pause' });
}

function playButton() {
  const b = $('play');
  b.setAttribute('aria-label', state.playing ? 'Pause' : 'Play');
  b.firstElementChild.innerHTML = state.playing ? '&#10074;&#10074;' : '&#9654;';
}

async function ended() {
  state.playing = false;
  state.frame = framesOf(state.perf);
  playButton();
  const mode = $('repeat').value;
  if (mode === 'same') await choose(state.perf.number, state.arrangement, { play: true });
  else if (mode === 'new') await choose(freshNumber(), state.arrangement, { play: true });
}

function framesOf(perf) { return perf ? Math.floor(perf.lengthMs * RATE / 1000) : 0; }

async function seekFrame(frame) {
  const target = Math.max(0, Math.min(frame, framesOf(state.perf)));
  state.frame = target;
  if (state.node) {
    await ask({ type: 'seek', frame: target });
    state.reportedAt = state.ctx.currentTime;
  }
  redraw();
}
// The bar's value is in ms: the frame it lands on is floor(ms * 44.1).
const seekMs = (ms) => seekFrame(Math.floor(ms * RATE / 1000));

// The position now: the worklet's last report, moved on by the audio clock.
function nowFrame() {
  if (!state.playing || !state.ctx) return state.frame;
  const moved = Math.max(0, state.ctx.currentTime - state.reportedAt) * RATE;
  return Math.min(state.frame + Math.min(moved, RATE / 4), framesOf(state.perf));
}

function volume() { return (Number($('volume').value) / 100) ** 2; }

// ---- Drawing

function redraw() {
  if (!state.perf) return;
  const frame = nowFrame();
  const ms = frame * 1000 / RATE;
  if (!seeking) $('seek').value = String(Math.floor(ms));
  $('elapsed').textContent = clock(ms);
  $('seek').setAttribute('aria-valuetext', `${clock(ms)} of ${clock(state.perf.lengthMs)}`);
  drawPicture($('picture'), { song: state.song, perf: state.perf, events: state.events, ms });
}

function tick() {
  if (state.playing) redraw();
  requestAnimationFrame(tick);
}

const clock = (ms) => {
  const s = Math.floor(ms / 1000);
  return `${Math.floor(s / 60)}:${String(s % 60).padStart(2, '0')}`;
};
const seconds = (ms) => `${(ms / 1000).toFixed(ms % 1000 ? 1 : 0)} s`;

// ---- Save as WAV

function saveWav() {
  const { perf, song } = state;
  const bar = $('wav-progress');
  bar.hidden = false;
  bar.value = 0;
  $('wav').disabled = true;
  const base = (song.texts.title || state.name.replace(/\.vn$/i, '') || 'song').replace(/[\\/:*?"<>|]+/g, '_');
  work({ type: 'wav', bytes: state.bytes, performance: perf.number, arrangement: -1 }, (msg) => {
    if (msg.type === 'progress') { bar.value = msg.done; return; }
    bar.hidden = true;
    $('wav').disabled = false;
    if (msg.type === 'error') { showError(msg.message); return; }
    const blob = new Blob([msg.bytes], { type: 'audio/wav' });
    const a = document.createElement('a');
    a.href = URL.createObjectURL(blob);
    a.download = `${base}-${perf.number}.wav`;
    document.body.append(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(a.href), 60000);
    status(`Saved ${a.download} (${(msg.frames / RATE).toFixed(1)} s)`);
  });
}

// ---- Controls

let seeking = false;

function wire() {
  $('play').onclick = () => (state.playing ? pause() : start());
  const seek = $('seek');
  seek.addEventListener('input', () => { seeking = true; $('elapsed').textContent = clock(Number(seek.value)); });
  seek.addEventListener('change', async () => { seeking = false; await seekMs(Number(seek.value)); });
  $('volume').addEventListener('input', () => { if (state.gain) state.gain.gain.value = volume(); });
  $('new').onclick = () => choose(freshNumber(), state.arrangement);
  $('choose').addEventListener('submit', (e) => {
    e.preventDefault();
    const n = Number.parseInt($('wanted').value, 10);
    if (n >= 1) choose(n, state.arrangement);
  });
  $('arrangement').addEventListener('change', () => {
    const a = Number($('arrangement').value);
    choose(a >= 0 ? state.perf.number : state.perf.number, a);
  });
  $('wav').onclick = saveWav;
  $('file').addEventListener('change', () => {
    const file = $('file').files[0];
    if (file) open(async () => new Uint8Array(await file.arrayBuffer()), file.name, null);
    $('file').value = '';
  });
  $('picture').addEventListener('click', (e) => {
    if (!state.perf) return;
    const rect = e.currentTarget.getBoundingClientRect();
    const ms = timeAt(e.currentTarget, state.perf, e.clientX - rect.left);
    if (ms !== null) seekMs(ms);
  });
  new ResizeObserver(() => redraw()).observe($('picture'));
  matchMedia('(prefers-color-scheme: dark)').addEventListener('change', () => redraw());

  // Drag and drop anywhere on the page.
  let depth = 0;
  const overlay = $('drop');
  const hasFiles = (e) => [...(e.dataTransfer?.types || [])].includes('Files');
  window.addEventListener('dragenter', (e) => { if (hasFiles(e)) { depth++; overlay.hidden = false; e.preventDefault(); } });
  window.addEventListener('dragover', (e) => { if (hasFiles(e)) e.preventDefault(); });
  window.addEventListener('dragleave', () => { if (--depth <= 0) { depth = 0; overlay.hidden = true; } });
  window.addEventListener('drop', (e) => {
    e.preventDefault();
    depth = 0;
    overlay.hidden = true;
    const file = e.dataTransfer?.files?.[0];
    if (file) open(async () => new Uint8Array(await file.arrayBuffer()), file.name, null);
  });

  document.addEventListener('keydown', (e) => {
    const t = e.target;
    if (e.altKey || e.ctrlKey || e.metaKey || !state.perf) return;
    if (t instanceof HTMLInputElement && t.type !== 'range' && t.type !== 'file') return;
    if (t instanceof HTMLSelectElement) return;
    if (e.key === ' ' && !(t instanceof HTMLButtonElement)) {
      e.preventDefault();
      state.playing ? pause() : start();
    } else if ((e.key === 'ArrowLeft' || e.key === 'ArrowRight') && !(t instanceof HTMLInputElement)) {
      e.preventDefault();
      seekFrame(nowFrame() + (e.key === 'ArrowLeft' ? -5 : 5) * RATE);
    } else if ((e.key === 'ArrowUp' || e.key === 'ArrowDown') && !(t instanceof HTMLInputElement)) {
      e.preventDefault();
      const v = $('volume');
      v.value = String(Math.max(0, Math.min(100, Number(v.value) + (e.key === 'ArrowUp' ? 5 : -5))));
      v.dispatchEvent(new Event('input'));
    }
  });
}

async function main() {
  wire();
  requestAnimationFrame(tick);
  loadCore().catch((error) => showError(`The player cannot start: ${error.message}`));
  const wanted = readAddress();
  const url = wanted.song || DEMO;
  const name = decodeURIComponent(url.split('/').pop() || url);
  if (!(await open(() => fetchSong(url), name, wanted.song ? url : null, wanted)) && url !== DEMO)
    await open(() => fetchSong(DEMO), DEMO, null);
}

main();
