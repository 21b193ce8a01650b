// The web target's figures (scripts/web/bench.sh): the page's size gzip-compressed,
// the WebAssembly engine's render and seek speed in Node against the native ones
// (ratios measured in one run), and 60 s of play in headless Chromium with the
// worklet's underrun counts. Reports; asserts nothing.
import { spawnSync } from 'node:child_process';
import { readFileSync, readdirSync, statSync } from 'node:fs';
import { gzipSync } from 'node:zlib';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';
import { serve } from './serve.mjs';
import { launch, stats } from './browser.mjs';

import { site, tool, reference, demoPath } from './paths.mjs';
const playSeconds = Number(process.env.VANTREL_BENCH_PLAY || 60);
const RUNS = 5;

function files(dir) {
  return readdirSync(dir).flatMap((f) => (statSync(join(dir, f)).isDirectory() ? files(join(dir, f)) : [join(dir, f)]));
}

// 1. Size: what the page loads, each file gzip-compressed as a server would send it.
let total = 0;
for (const f of files(site).filter((f) => /\.(m?js|wasm)$/.test(f))) {
  const gz = gzipSync(readFileSync(f), { level: 9 }).length;
  total += gz;
  console.log(`size  ${f.slice(site.length + 1).padEnd(28)} ${String(statSync(f).size).padStart(8)} B, gzip ${String(gz).padStart(7)} B`);
}
console.log(`size  JavaScript and WebAssembly, gzip: ${(total / 1000).toFixed(1)} KB (limit 350 KB: ${total <= 350000 ? 'within' : 'OVER'})`);

// 2. Speed in Node: the best of RUNS renders of the demo's performance 3.
const { openSong } = await import(pathToFileURL(join(site, 'vantrel/vantrel.mjs')));
const demo = readFileSync(demoPath);
const song = await openSong(demo);
const buf = new Int16Array(2 * 4608);
// Times are processor time (user and system), which the other work on a shared
// machine disturbs far less than the wall clock.
const cpu = () => { const u = process.cpuUsage(); return (u.user + u.system) / 1e6; };
function wasmRender(seekFrame = -1) {
  song.prepare(3);
  const t0 = cpu();
  if (seekFrame >= 0) song.seekFrame(seekFrame);
  let frames = 0, n;
  while ((n = song.render(buf)) > 0) frames += n;
  return { s: cpu() - t0, frames };
}
function timed(cmd, args) {
  const r = spawnSync('/usr/bin/time', ['-f', '%U %S', cmd, ...args], { stdio: ['ignore', 'ignore', 'pipe'] });
  if (r.status !== 0) throw new Error(`${cmd} failed`);
  const [user, system] = r.stderr.toString().trim().split('\n').pop().split(' ').map(Number);
  return user + system;
}
const best = (f) => Math.min(...Array.from({ length: RUNS }, f));
// The engine's functions start in V8's baseline tier and are optimised while they
// run: a few renders first, so that what is timed is the steady speed.
for (let i = 0; i < 3; i++) wasmRender();
const whole = wasmRender();
const audio = whole.frames / 44100;
const wasm = best(() => wasmRender().s);
const native = best(() => timed(tool, ['render', demoPath, '--raw', '-o', '/dev/null', '--performance', '3', '--decoder', 'generic']));
console.log(`speed demo performance 3 (${audio.toFixed(1)} s of audio), processor time, best of ${RUNS}:`);
console.log(`speed   WebAssembly in Node ${wasm.toFixed(3)} s (${(audio / wasm).toFixed(0)}x realtime)`);
console.log(`speed   native vantrel render --raw --decoder generic ${native.toFixed(3)} s, whole process (${(audio / native).toFixed(0)}x realtime)`);
const sameLibrary = best(() => timed(reference, [demoPath, '/dev/null', '3']));
console.log(`speed   native engine with libmpg123 of the WebAssembly build's recipe ${sameLibrary.toFixed(3)} s, whole process (${(audio / sameLibrary).toFixed(0)}x realtime)`);
console.log(`speed   WebAssembly / native tool: ${(native / wasm).toFixed(2)} (at least 0.5 wanted); WebAssembly / native with the same libmpg123: ${(sameLibrary / wasm).toFixed(2)}`);

// Seeks: a seek to 90 % and the rest rendered, against the whole render, for both.
const target = Math.floor(whole.frames * 0.9);
const wasmSeek = best(() => wasmRender(target).s);
const targetMs = Math.ceil(target / 44.1);
const nativeWhole = sameLibrary;
const nativeSeek = best(() => timed(reference, [demoPath, '/dev/null', '3', '--seek-ms', String(targetMs)]));
console.log(`seek  to 90 % then to the end, relative to the whole render: WebAssembly ${(wasmSeek / wasm).toFixed(2)}, native library ${(nativeSeek / nativeWhole).toFixed(2)}`);
console.log(`seek    (WebAssembly ${(wasmSeek * 1000).toFixed(1)} ms; native example program ${(nativeSeek * 1000).toFixed(1)} ms of ${(nativeWhole * 1000).toFixed(1)} ms, process start included)`);
song.close();

// 3. The browser: playSeconds of play through the AudioWorklet while the picture's
// playhead moves.
const { server, url } = await serve(site);
const chrome = await launch();
try {
  const { page } = chrome;
  await page.goto(`${url}#performance=3`);
  await page.waitForFunction(() => window.vantrelPlayer.state.perf && window.vantrelPlayer.state.events, { timeout: 30000 });
  await page.select('#repeat', 'new');
  await page.click('#play');
  await page.waitForFunction(() => window.vantrelPlayer.state.playing);
  const start = await stats(page);
  const heads = [];
  const t0 = Date.now();
  while (Date.now() - t0 < playSeconds * 1000) {
    await new Promise((ok) => setTimeout(ok, 1000));
    heads.push(await page.evaluate(() => document.getElementById('elapsed').textContent + ' ' + window.vantrelPlayer.state.perf.number));
  }
  const end = await stats(page);
  const wall = (Date.now() - t0) / 1000;
  const quanta = end.quanta - start.quanta;
  console.log(`play  ${wall.toFixed(1)} s in Chromium: ${quanta} quanta (${(quanta * 128 / 44100).toFixed(1)} s of audio), ` +
    `underruns: ${end.short - start.short} short quanta, ${end.late - start.late} stalls over 40 ms`);
  console.log(`play  playhead each second: ${heads.join(', ')}`);
  console.log(`play  problems on the page: ${chrome.problems.length ? chrome.problems.join('; ') : 'none'}`);
} finally {
  await chrome.close();
  server.close();
}
