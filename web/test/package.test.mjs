// The npm package in Node against the native engine: renders byte for byte, exact
// seeks, the song's structure, damaged files, and the tarball installed offline.
//
// The byte-for-byte reference is the native engine linked with libmpg123 built from
// the same recipe as the WebAssembly one (VANTREL_REFERENCE, made by
// scripts/web/test.sh); against the tool's `render --raw --decoder generic`, whose
// libmpg123 is built with -ffast-math, renders may differ by one step in a few
// samples (docs/design.md, "In a browser").
//
// Environment: VANTREL_PACKAGE (the staged package folder, default build/web/package),
// VANTREL_TARBALL (dist/vantrel-*.tgz), VANTREL (the native tool, default
// build/vantrel), VANTREL_CORPUS (build/vantrel_corpus, which writes the test songs
// and the damaged ones), VANTREL_REFERENCE (default build/web/vantrel-reference).
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync, existsSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';

import { root, pkgDir, tool, corpus, reference, demoPath } from './paths.mjs';

const demo = readFileSync(demoPath);

let vantrel;
let work;
let testSongs;
let hostileSongs;

function run(cmd, args, options = {}) {
  const r = spawnSync(cmd, args, { maxBuffer: 1 << 30, ...options });
  if (r.error) throw r.error;
  return r;
}

// The native engine's render of performance N (null when it refuses the song).
function nativeRender(path, performance) {
  const r = run(reference, [path, '-', String(performance)]);
  return r.status === 0 ? r.stdout : null;
}

// The tool's render with the generic decoder (WebAssembly has no other).
function toolRender(path, performance, extra = []) {
  const r = run(tool, ['render', path, '--raw', '-o', '-', '--decoder', 'generic', '--performance', String(performance), ...extra]);
  return r.status === 0 ? r.stdout : null;
}

// Samples that differ, and by how much at most.
function sampleDifferences(a, b) {
  const x = new Int16Array(a.buffer, a.byteOffset, a.length / 2), y = new Int16Array(b.buffer, b.byteOffset, b.length / 2);
  let count = 0, most = 0;
  for (let i = 0; i < x.length; i++) if (x[i] !== y[i]) { count++; most = Math.max(most, Math.abs(x[i] - y[i])); }
  return { count, most, samples: x.length };
}

// Renders a prepared song to its end in calls of varying sizes.
function renderAll(song, sizes = [1000, 1152, 7, 4096]) {
  const parts = [];
  for (let i = 0; ; i++) {
    const buf = new Int16Array(sizes[i % sizes.length] * 2);
    const n = song.render(buf);
    parts.push(Buffer.from(buf.buffer, 0, n * 4));
    if (n < buf.length / 2) break;
  }
  return Buffer.concat(parts);
}

function firstDifference(a, b) {
  const n = Math.min(a.length, b.length);
  for (let i = 0; i < n; i++) if (a[i] !== b[i]) return `byte ${i} (frame ${Math.floor(i / 4)}): ${a[i]} vs ${b[i]}`;
  return `lengths ${a.length} vs ${b.length}`;
}

before(() => {
  vantrel = import(pathToFileURL(join(pkgDir, 'vantrel.mjs')));
  work = mkdtempSync(join(tmpdir(), 'vantrel-web-test-'));
  assert.ok(existsSync(corpus), `no ${corpus}`);
  for (const kind of ['seeds', 'hostile']) {
    const dir = join(work, kind);
    mkdirSync(dir, { recursive: true });
    const r = run(corpus, [kind === 'seeds' ? 'song-seeds' : 'hostile', root, dir]);
    assert.equal(r.status, 0, r.stderr.toString());
  }
  testSongs = readdirSync(join(work, 'seeds')).filter((f) => !f.startsWith('hostile-')).sort().map((f) => join(work, 'seeds', f));
  hostileSongs = readdirSync(join(work, 'hostile')).sort().map((f) => join(work, 'hostile', f));
  assert.ok(testSongs.length >= 6, 'the corpus wrote the test songs');
  assert.ok(hostileSongs.length >= 100, 'the corpus wrote the damaged songs');
});

after(() => rmSync(work, { recursive: true, force: true }));

test('performances 1-3 of the demo and the test songs are the native render, byte for byte', async (t) => {
  const { openSong } = await vantrel;
  let compared = 0, differing = 0, samples = 0, most = 0;
  for (const path of [demoPath, ...testSongs]) {
    const song = await openSong(readFileSync(path));
    try {
      for (const performance of [1, 2, 3]) {
        const expected = nativeRender(path, performance);
        if (expected === null) {
          assert.throws(() => song.prepare(performance), { name: 'VantrelError' }, `${path}: the tool refused ${performance}`);
          continue;
        }
        song.prepare(performance);
        const got = renderAll(song);
        assert.ok(got.equals(expected), `${path} performance ${performance}: ${firstDifference(got, expected)}`);
        // The tool's render: the same length, and close where the two libraries'
        // float sums round differently (one step per clip, added up by the mix).
        const byTool = toolRender(path, performance);
        assert.equal(byTool.length, got.length);
        const d = sampleDifferences(got, byTool);
        assert.ok(d.most <= 4 && d.count * 100 <= d.samples, `${path} ${performance}: ${d.count} of ${d.samples} samples differ, by up to ${d.most}`);
        differing += d.count;
        most = Math.max(most, d.most);
        samples += d.samples;
        assert.equal(song.render(new Int16Array(64)), 0, 'nothing after the end');
        assert.equal(song.atEnd, true);
        compared++;
      }
    } finally {
      song.close();
    }
  }
  assert.ok(compared >= 12, `only ${compared} renders compared`);
  t.diagnostic(`${compared} renders identical; against the tool's: ${differing} of ${samples} samples differ, by up to ${most}`);
});

test('the clip cache, Float32 renders and an arrangement by name give the same samples', async () => {
  const { openSong } = await vantrel;
  const arranged = run(tool, ['arrange', demoPath, '--arrangement', 'Long', '--json']);
  assert.equal(arranged.status, 0);
  const longNumber = Number(/performance (\d+)/.exec(arranged.stderr.toString())?.[1] ?? NaN);
  const cached = await openSong(demo.buffer.slice(demo.byteOffset, demo.byteOffset + demo.length), { clipSource: 'cache' });
  const perf = cached.prepare(1, 'Long');
  assert.equal(perf.number, longNumber);
  assert.equal(cached.arrangements[perf.arrangement].name, 'Long');
  const expected = nativeRender(demoPath, perf.number);
  const pcm = renderAll(cached);
  assert.ok(pcm.equals(expected), firstDifference(pcm, expected));
  cached.prepare(perf.number);
  const floats = new Float32Array(pcm.length / 2);
  assert.equal(cached.render(floats), pcm.length / 4);
  const ints = new Int16Array(pcm.buffer, pcm.byteOffset, pcm.length / 2);
  for (let i = 0; i < ints.length; i++) if (floats[i] !== ints[i] / 32768) assert.fail(`float sample ${i}: ${floats[i]} vs ${ints[i]}`);
  cached.close();
});

test('exact seeks give the samples of the unbroken render', async () => {
  const { openSong } = await vantrel;
  const song = await openSong(demo);
  song.prepare(3);
  const whole = renderAll(song);
  const frames = whole.length / 4;
  // Forwards, backwards, block edges, the last frame, and past the end.
  for (const frame of [44100 * 5 + 7, 1151, 1152, 0, frames - 1, Math.floor(frames / 2), 3 * 1152 + 1, frames + 10]) {
    song.seekFrame(frame);
    assert.equal(song.position, Math.min(frame, frames));
    const got = Buffer.from(new Int16Array(4100 * 2).buffer);
    const view = new Int16Array(got.buffer);
    const n = song.render(view);
    const want = whole.subarray(Math.min(frame, frames) * 4, Math.min(frames, frame + 4100) * 4);
    assert.equal(n, want.length / 4, `frame ${frame}: frames rendered`);
    assert.ok(got.subarray(0, n * 4).equals(want), `seek to frame ${frame}: ${firstDifference(got.subarray(0, n * 4), want)}`);
  }
  for (const ms of [0, 1, 12345, 20001]) {
    song.seek(ms);
    const frame = Math.floor(ms * 441 / 10);
    assert.equal(song.position, frame);
    const view = new Int16Array(512 * 2);
    song.render(view);
    assert.ok(Buffer.from(view.buffer).equals(whole.subarray(frame * 4, frame * 4 + 2048)), `seek to ${ms} ms`);
  }
  song.close();
});

test('texts, arrangements, sections and the performance are those the tool shows', async () => {
  const { openSong } = await vantrel;
  const info = JSON.parse(run(tool, ['info', demoPath, '--json']).stdout.toString()).song;
  const song = await openSong(demo);
  for (const key of ['title', 'author', 'publisher', 'genre', 'copyright']) assert.equal(song.texts[key], info[key], key);
  assert.deepEqual(song.arrangements, info.arrangements.map((a) => ({ name: a.name, sections: a.sections })));
  assert.deepEqual(song.sections, info.sections.map((s) => ({ name: s.name,
    variations: s.variations.map((v) => ({ name: v.name, lengthMs: v.lengthMs, tracks: v.tracks.length })) })));
  assert.equal(song.fileSize, demo.length);
  const listed = JSON.parse(run(tool, ['arrange', demoPath, '--performance', '2', '--json']).stdout.toString())[0];
  const perf = song.prepare(2);
  assert.equal(perf.arrangement, listed.arrangement);
  assert.equal(perf.lengthMs, listed.totalMs);
  assert.deepEqual(perf.entries.map((e) => [e.section, e.variation]), listed.sequence);
  // Every event of every entry, once, on a voice the player has.
  const events = song.events();
  const seq = listed.sequence.map(([s, v]) => info.sections[s].variations[v]);
  assert.equal(events.length, seq.reduce((n, v) => n + v.tracks.reduce((m, t) => m + t.events.length, 0), 0));
  for (const e of events) {
    const track = seq[e.entry].tracks[e.track];
    assert.ok(track, `event of entry ${e.entry} track ${e.track}`);
    assert.ok(e.voice >= -1 && e.voice < 12);
    if (e.track < 4) assert.notEqual(e.voice, -1, 'events of the first four tracks are played');
    assert.ok(track.events.some((t) => t.startMs === e.startMs && info.clips[t.clip].name === e.clip));
  }
  // The position did not move.
  assert.equal(song.position, 0);
  song.close();
  assert.throws(() => song.prepare(1), { name: 'VantrelError', message: 'the song is closed' });
});

test('damaged and foreign files are refused with the engine\'s reason, never an abort', async () => {
  const { openSong, VantrelError } = await vantrel;
  let refused = 0, loaded = 0;
  const samples = new Int16Array(44100 * 2);
  const foreign = [readFileSync(join(root, 'tests/data/clips/mono44k.mp3')), new Uint8Array([0x56, 0x4e]), new Uint8Array(0)];
  for (const bytes of [...hostileSongs.map((p) => readFileSync(p)), ...foreign]) {
    let song;
    try {
      song = await openSong(bytes);
    } catch (error) {
      assert.ok(error instanceof VantrelError, `${error}`);
      assert.match(error.message, /^File is not a VNF or is corrupted\.$/);
      refused++;
      continue;
    }
    loaded++;
    try {
      song.prepare(1);
      song.render(samples);
      song.seek(500);
      song.render(samples);
    } catch (error) {
      assert.ok(error instanceof VantrelError, `${error}`);
      assert.match(error.message, /nothing that can be played|not a VNF|no performance/);
    } finally {
      song.close();
    }
  }
  assert.ok(refused > 50 && loaded > 10, `refused ${refused}, loaded ${loaded}`);
  // The engine still works after all that.
  const song = await openSong(demo);
  song.prepare(1);
  assert.equal(song.render(new Int16Array(2304)), 1152);
  song.close();
});

test('calls out of order and bad arguments throw, and the song stays usable', async () => {
  const { openSong, VantrelError } = await vantrel;
  const song = await openSong(demo);
  assert.throws(() => song.render(new Int16Array(8)), (e) => e instanceof VantrelError && e.code === -5);
  assert.throws(() => song.prepare(0), RangeError);
  assert.throws(() => song.prepare(1, 'No such arrangement'), (e) => e.code === -7);
  assert.throws(() => song.setOption('clip-source', 'sometimes'), (e) => e.code === -10);
  assert.throws(() => song.render([]), TypeError);
  await assert.rejects(openSong('not bytes'), TypeError);
  song.prepare(1);
  assert.equal(song.render(new Int16Array(8)), 4);
  song.close();
  song.close();
});

test('the tarball installs without the network and imports as "vantrel"', () => {
  const tarball = process.env.VANTREL_TARBALL ||
    readdirSync(join(root, 'dist')).filter((f) => /^vantrel-\d.*\.tgz$/.test(f)).map((f) => join(root, 'dist', f))[0];
  assert.ok(tarball && existsSync(tarball), 'no tarball in dist/');
  const app = join(work, 'app');
  mkdirSync(app);
  writeFileSync(join(app, 'package.json'), '{"name":"app","private":true,"type":"module"}');
  const install = run('npm', ['install', '--offline', '--no-audit', '--no-fund', tarball], { cwd: app });
  assert.equal(install.status, 0, install.stderr.toString());
  writeFileSync(join(app, 'main.mjs'), `import { readFileSync } from 'node:fs';
import { openSong } from 'vantrel';
const song = await openSong(readFileSync(${JSON.stringify(demoPath)}));
const perf = song.prepare(3);
const pcm = new Int16Array(2 * 44100);
let frames = 0, n;
while ((n = song.render(pcm)) > 0) frames += n;
console.log(JSON.stringify({ title: song.texts.title, lengthMs: perf.lengthMs, frames }));
`);
  const r = run('node', ['main.mjs'], { cwd: app });
  assert.equal(r.status, 0, r.stderr.toString());
  const out = JSON.parse(r.stdout.toString());
  const expected = nativeRender(demoPath, 3);
  assert.equal(out.frames, expected.length / 4);
  assert.ok(out.title.length > 0);
  const pkg = JSON.parse(readFileSync(join(app, 'node_modules/vantrel/package.json'), 'utf8'));
  assert.match(pkg.version, /^\d+\.\d+\.\d+(-[0-9A-Za-z.-]+)?$/);
});
