// vantrel: VNF songs (.vn) in JavaScript. The engine runs in WebAssembly
// (vantrel-core.wasm) and is reached through its C interface; this module turns
// that interface into songs, performances and typed-array renders, and the
// library's failures into VantrelError exceptions.
import createVantrelCore from './vantrel-core.mjs';

// The PCM every render gives: the C interface's VANTREL_SAMPLE_RATE and
// VANTREL_CHANNELS (16-bit samples, interleaved).
export const SAMPLE_RATE = 44100;
export const CHANNELS = 2;

const TEXTS = ['title', 'author', 'publisher', 'genre', 'copyright'];
const CLIP_SOURCES = ['direct', 'cache'];

/** A failure of the engine: `message` is the engine's own, `code` its result code. */
export class VantrelError extends Error {
  constructor(message, code) {
    super(message);
    this.name = 'VantrelError';
    this.code = code;
  }
}

let corePromise = null;

function isNode() {
  return typeof process === 'object' && typeof process.versions === 'object' && !!process.versions.node;
}

async function defaultWasmBinary() {
  const url = new URL('./vantrel-core.wasm', import.meta.url);
  if (url.protocol === 'file:' && isNode()) {
    const { readFile } = await import('node:fs/promises');
    return readFile(url);
  }
  const response = await fetch(url);
  if (!response.ok) throw new Error(`cannot load ${url}: HTTP ${response.status}`);
  return new Uint8Array(await response.arrayBuffer());
}

/**
 * Loads the engine once. Called by openSong; call it yourself to hand over the
 * WebAssembly where this module cannot fetch it (an AudioWorklet has no fetch):
 * `{ wasmModule }` (a compiled WebAssembly.Module) or `{ wasmBinary }` (its bytes).
 */
export function loadCore(options = {}) {
  if (!corePromise) {
    corePromise = (async () => {
      // The WebAssembly is handed over below, so the loader need not locate it (it
      // would use URL, which an AudioWorklet's scope does not have).
      const settings = { print: () => {}, printErr: () => {}, locateFile: (path) => path };
      if (options.wasmModule) {
        settings.instantiateWasm = (imports, receive) => {
          WebAssembly.instantiate(options.wasmModule, imports).then((instance) => receive(instance, options.wasmModule));
          return {};
        };
      } else {
        settings.wasmBinary = options.wasmBinary || (await defaultWasmBinary());
      }
      return new Core(await createVantrelCore(settings));
    })();
    corePromise.catch(() => { corePromise = null; });
  }
  return corePromise;
}

// The C interface, with the memory that crosses it.
class Core {
  constructor(m) {
    this.m = m;
    this.scratch = m._malloc(64);
  }
  get u8() { return this.m.HEAPU8; }
  view() { return new DataView(this.m.HEAPU8.buffer); }
  i32(ptr) { return this.view().getInt32(ptr, true); }
  i64(ptr) { return Number(this.view().getBigInt64(ptr, true)); }
  // An 8-bit C string: each byte is the character of the same code.
  text(ptr, length = -1) {
    const heap = this.u8;
    let end = ptr;
    if (length < 0) while (heap[end]) end++;
    else end = ptr + length;
    let s = '';
    for (let i = ptr; i < end; i += 4096) s += String.fromCharCode.apply(null, heap.subarray(i, Math.min(end, i + 4096)));
    return s;
  }
  cString(s) {
    const ptr = this.m._malloc(s.length + 1);
    const heap = this.u8;
    for (let i = 0; i < s.length; i++) heap[ptr + i] = s.charCodeAt(i) & 0xff;
    heap[ptr + s.length] = 0;
    return ptr;
  }
  // Throws the library's message for a negative result; returns the result otherwise.
  check(result) {
    if (result < 0) throw new VantrelError(this.lastError() || this.text(this.m._vantrel_strerror(result)), result);
    return result;
  }
  lastError() {
    // Songs opened from memory are named "(memory)" by the library; the name says nothing here.
    return this.text(this.m._vantrel_get_last_error()).replace(/^\(memory\): /, '');
  }
  // A name getter of the C interface: (…, buffer, size, length, …) called twice.
  name(call) {
    const lengthPtr = this.scratch + 56;
    this.check(call(0, 0, lengthPtr));
    const length = this.i32(lengthPtr);
    const buffer = this.m._malloc(length + 1);
    try {
      this.check(call(buffer, length + 1, lengthPtr));
      return this.text(buffer, length);
    } finally {
      this.m._free(buffer);
    }
  }
}

function toBytes(bytes) {
  if (bytes instanceof Uint8Array) return bytes;
  if (bytes instanceof ArrayBuffer) return new Uint8Array(bytes);
  if (ArrayBuffer.isView(bytes)) return new Uint8Array(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  throw new TypeError('a song is opened from a Uint8Array or an ArrayBuffer');
}

/**
 * Opens a song from its bytes. Options: `clipSource` ("direct" or "cache"; default:
 * the library's own), and `wasmModule` / `wasmBinary` as for loadCore.
 */
export async function openSong(bytes, options = {}) {
  const data = toBytes(bytes);
  if (options.clipSource !== undefined && !CLIP_SOURCES.includes(options.clipSource))
    throw new TypeError(`clipSource is one of ${CLIP_SOURCES.join(', ')}`);
  const core = await loadCore(options);
  return new Song(core, data, options);
}

export class Song {
  /** @internal use openSong */
  constructor(core, data, options) {
    this._core = core;
    const m = core.m;
    if (data.length === 0) throw new VantrelError('File is not a VNF or is corrupted.', -3);
    const image = m._malloc(data.length);
    if (!image) throw new VantrelError('out of memory', -4);
    let handle = 0;
    try {
      m.HEAPU8.set(data, image);
      core.check(m._vantrel_song_open_memory(image, data.length, core.scratch));
      handle = core.i32(core.scratch);
    } finally {
      m._free(image);
    }
    this._handle = handle;
    this._bytes = data.slice();
    this._buffer = 0;
    this._bufferFrames = 0;
    this._performance = null;
    try {
      if (options.clipSource !== undefined) this.setOption('clip-source', options.clipSource);
      this._readStructure();
    } catch (e) {
      this.close();
      throw e;
    }
  }

  _live() {
    if (!this._handle) throw new VantrelError('the song is closed', -1);
    return this._handle;
  }

  _readStructure() {
    const core = this._core, m = core.m, h = this._handle, s = core.scratch;
    const bufName = (fn, ...args) => core.name((b, n, l) => fn(h, ...args, b, n, l));
    this.texts = {};
    TEXTS.forEach((key, i) => { this.texts[key] = bufName(m._vantrel_song_get_text, i); });
    core.check(m._vantrel_song_get_file_size(h, s));
    this.fileSize = core.i64(s);
    core.check(m._vantrel_song_get_counts(h, s, s + 4, s + 8));
    const [arrangements, sections, clips] = [core.i32(s), core.i32(s + 4), core.i32(s + 8)];
    this.sections = [];
    for (let i = 0; i < sections; i++) {
      const name = core.name((b, n, l) => m._vantrel_song_get_section(h, i, b, n, l, 0));
      core.check(m._vantrel_song_get_section(h, i, 0, 0, 0, s + 16));
      const variations = [];
      for (let v = 0, count = core.i32(s + 16); v < count; v++) {
        const vname = core.name((b, n, l) => m._vantrel_song_get_variation(h, i, v, b, n, l, 0, 0));
        core.check(m._vantrel_song_get_variation(h, i, v, 0, 0, 0, s + 20, s + 24));
        variations.push({ name: vname, lengthMs: core.i32(s + 20), tracks: core.i32(s + 24) });
      }
      this.sections.push({ name, variations });
    }
    this.arrangements = [];
    for (let i = 0; i < arrangements; i++) {
      const name = core.name((b, n, l) => m._vantrel_song_get_arrangement(h, i, b, n, l, 0));
      core.check(m._vantrel_song_get_arrangement(h, i, 0, 0, 0, s + 16));
      const list = [];
      for (let p = 0, count = core.i32(s + 16); p < count; p++) {
        core.check(m._vantrel_song_get_arrangement_section(h, i, p, s + 20));
        list.push(core.i32(s + 20));
      }
      this.arrangements.push({ name, sections: list });
    }
    this.clips = [];
    for (let i = 0; i < clips; i++) {
      core.check(m._vantrel_song_get_clip(h, i, s, s + 4));
      this.clips.push({ kind: core.i32(s), size: core.i32(s + 4) });
    }
  }

  /** Sets a named option of the library ("clip-source", "decoder"); it counts from the next prepare. */
  setOption(name, value) {
    const m = this._core.m;
    const n = this._core.cString(String(name)), v = this._core.cString(String(value));
    try {
      this._core.check(m._vantrel_song_set_option(this._live(), n, v));
    } finally {
      m._free(n);
      m._free(v);
    }
  }

  /**
   * Draws performance `performance` (1 or more); with `arrangement` (a name or an
   * index) the first performance from that number on that chose it. Rendering then
   * starts at the beginning. Returns the performance (as the `performance` property).
   */
  prepare(performance = 1, arrangement = undefined) {
    const core = this._core, m = core.m, h = this._live();
    if (!Number.isInteger(performance) || performance < 1) throw new RangeError('performances count from 1');
    this._performance = null;
    if (typeof arrangement === 'string') {
      const name = core.cString(arrangement);
      try {
        core.check(m._vantrel_song_prepare(h, performance, name));
      } finally {
        m._free(name);
      }
    } else {
      const index = arrangement === undefined || arrangement === null ? -1 : arrangement;
      if (!Number.isInteger(index) || index < -1 || index >= this.arrangements.length)
        throw new RangeError('no such arrangement');
      core.check(m._vantrel_song_prepare_index(h, performance, index));
    }
    const s = core.scratch;
    core.check(m._vantrel_song_get_performance(h, s, s + 4, s + 8, s + 12));
    const info = { number: core.i32(s), arrangement: core.i32(s + 4), lengthMs: core.i32(s + 8), entries: [] };
    for (let i = 0, count = core.i32(s + 12); i < count; i++) {
      core.check(m._vantrel_song_get_entry(h, i, s, s + 4, s + 8, s + 12));
      info.entries.push({ section: core.i32(s), variation: core.i32(s + 4), startMs: core.i32(s + 8), lengthMs: core.i32(s + 12) });
    }
    this._performance = info;
    return info;
  }

  /** The prepared performance: { number, arrangement, lengthMs, entries }, or null. */
  get performance() { return this._performance; }
  /** The prepared performance's length in ms (the entries' lengths added up). */
  get lengthMs() { return this._performance ? this._performance.lengthMs : 0; }

  /**
   * Renders into `buffer` (Int16Array, or Float32Array with samples in [-1, 1)) as
   * interleaved stereo frames; returns the frames written, fewer only at the end.
   */
  render(buffer) {
    const isInt = buffer instanceof Int16Array;
    if (!isInt && !(buffer instanceof Float32Array)) throw new TypeError('render fills an Int16Array or a Float32Array');
    const frames = buffer.length >> 1;
    const m = this._core.m, h = this._live();
    if (frames > this._bufferFrames) {
      if (this._buffer) m._free(this._buffer);
      this._buffer = m._malloc(frames * 4);
      if (!this._buffer) { this._bufferFrames = 0; throw new VantrelError('out of memory', -4); }
      this._bufferFrames = frames;
    }
    const n = this._core.check(m._vantrel_song_render(h, this._buffer, frames));
    const pcm = new Int16Array(m.HEAPU8.buffer, this._buffer, n * 2);
    if (isInt) buffer.set(pcm);
    else for (let i = 0; i < pcm.length; i++) buffer[i] = pcm[i] / 32768;
    return n;
  }

  /** Exact seek: the next frame rendered is frame floor(ms * 44.1) of the performance. */
  seek(ms) {
    this._core.check(this._core.m._vantrel_song_seek_ms(this._live(), BigInt(Math.max(0, Math.floor(ms)))));
  }
  /** Exact seek to a frame of the performance. */
  seekFrame(frame) {
    this._core.check(this._core.m._vantrel_song_seek_frame(this._live(), BigInt(Math.max(0, Math.floor(frame)))));
  }
  /** Seeks as a media player's host does: play resumes at the start of the entry holding `percent` % of the length. Returns that start in ms. */
  seekPercent(percent) {
    const core = this._core;
    core.check(core.m._vantrel_song_seek_percent(this._live(), Math.round(percent), core.scratch));
    return core.i32(core.scratch);
  }
  /** The frame of the performance that the next render starts with. */
  get position() {
    const core = this._core;
    core.check(core.m._vantrel_song_tell(this._live(), core.scratch));
    return core.i64(core.scratch);
  }
  /** True once the performance has been rendered to its end. */
  get atEnd() { return this._core.check(this._core.m._vantrel_song_at_end(this._live())) === 1; }

  /**
   * The clip events of performance `performance` (default: the prepared one) with the
   * voice each sounds on, as the player chooses them: [{ entry, track, startMs
   * (from the entry's start), lengthMs, voice (0-3 its track's, 4-11 overflow, -1
   * not played), clip }]. Renders the performance once on the side; the song's own
   * position does not move.
   */
  events(performance = this._performance ? this._performance.number : 1, arrangement = -1) {
    const m = this._core.m;
    this._live();
    const image = m._malloc(this._bytes.length);
    if (!image) throw new VantrelError('out of memory', -4);
    let json = 0;
    try {
      m.HEAPU8.set(this._bytes, image);
      json = m._vantrel_web_performance_events(image, this._bytes.length, performance, arrangement);
    } finally {
      m._free(image);
    }
    if (!json) throw new VantrelError('the performance cannot be drawn', -6);
    try {
      return JSON.parse(this._core.text(json)).map(([entry, track, startMs, lengthMs, voice, clip]) =>
        ({ entry, track, startMs, lengthMs, voice, clip }));
    } finally {
      m._free(json);
    }
  }

  /** Frees the song; the object cannot be used afterwards. Closing twice is harmless. */
  close() {
    const m = this._core.m;
    if (this._buffer) m._free(this._buffer);
    this._buffer = 0;
    this._bufferFrames = 0;
    if (this._handle) m._vantrel_song_close(this._handle);
    this._handle = 0;
    this._performance = null;
  }
}

/** The library's version ("MAJOR.MINOR.PATCH.BUILD"). */
export async function version() {
  const core = await loadCore();
  return core.text(core.m._vantrel_get_version());
}

/**
 * A 16-bit stereo 44 100 Hz WAV file holding `pcm` (interleaved Int16Array) as it
 * is, with the texts as RIFF INFO tags as the vantrel tool writes them (title,
 * artist = author, copyright, genre, and a comment naming the performance and the
 * publisher).
 */
export function wavFile(pcm, { texts = {}, performance = 0 } = {}) {
  const tags = [];
  const tag = (id, value) => { if (value) tags.push([id, value]); };
  tag('INAM', texts.title);
  tag('IART', texts.author);
  tag('ICOP', texts.copyright);
  tag('IGNR', texts.genre);
  let comment = performance ? `Performance ${performance}` : '';
  if (texts.publisher) comment += `${comment ? '; ' : ''}Publisher: ${texts.publisher}`;
  tag('ICMT', comment);
  const chunk = (value) => 8 + ((value.length + 2) & ~1); // NUL-terminated, padded to even
  const listSize = tags.length ? 12 + tags.reduce((n, [, v]) => n + chunk(v), 0) : 0;
  const dataBytes = pcm.length * 2;
  const out = new Uint8Array(44 + dataBytes + listSize);
  const view = new DataView(out.buffer);
  const ascii = (at, s) => { for (let i = 0; i < s.length; i++) out[at + i] = s.charCodeAt(i) & 0xff; };
  ascii(0, 'RIFF'); view.setUint32(4, out.length - 8, true); ascii(8, 'WAVE');
  ascii(12, 'fmt '); view.setUint32(16, 16, true); view.setUint16(20, 1, true); view.setUint16(22, CHANNELS, true);
  view.setUint32(24, SAMPLE_RATE, true); view.setUint32(28, SAMPLE_RATE * 4, true);
  view.setUint16(32, 4, true); view.setUint16(34, 16, true);
  ascii(36, 'data'); view.setUint32(40, dataBytes, true);
  new Uint8Array(out.buffer, 44, dataBytes).set(new Uint8Array(pcm.buffer, pcm.byteOffset, dataBytes));
  if (tags.length) {
    let at = 44 + dataBytes;
    ascii(at, 'LIST'); view.setUint32(at + 4, listSize - 8, true); ascii(at + 8, 'INFO');
    at += 12;
    for (const [id, value] of tags) {
      ascii(at, id); view.setUint32(at + 4, value.length + 1, true); ascii(at + 8, value);
      at += chunk(value);
    }
  }
  return out;
}
