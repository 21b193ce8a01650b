// The web player in headless Chromium over a loopback server: load, 10 s of play
// through the AudioWorklet, the seek bar, a new performance and the address, the
// arrangement menu, drag and drop, "Save as WAV" against the native render, and a
// damaged file's message.
//
// Environment: VANTREL_SITE (default build/web/site), VANTREL (the native tool),
// VANTREL_CORPUS (writes the test and damaged songs), CHROMIUM.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, readdirSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { serve } from './serve.mjs';
import { launch, dropFile, stats } from './browser.mjs';

import { root, site, tool, corpus, reference, demoPath } from './paths.mjs';

let work, server, url, chrome, page;

const native = (path, args) => spawnSync(tool, [...args, path], { maxBuffer: 1 << 30 });
const nativeRender = (path, performance) =>
  spawnSync(reference, [path, '-', String(performance)], { maxBuffer: 1 << 30 }).stdout;
const info = (path) => JSON.parse(native(path, ['info', '--json']).stdout.toString()).song;
const player = (fn, ...args) => page.evaluate(fn, ...args);
const until = (fn, ...args) => page.waitForFunction(fn, { timeout: 30000, polling: 50 }, ...args);

before(async () => {
  work = mkdtempSync(join(tmpdir(), 'vantrel-web-browser-'));
  for (const kind of ['song-seeds', 'hostile']) {
    mkdirSync(join(work, kind));
    assert.equal(spawnSync(corpus, [kind, root, join(work, kind)]).status, 0);
  }
  ({ server, url } = await serve(site, work));
  chrome = await launch();
  page = chrome.page;
});

after(async () => {
  if (chrome) await chrome.close();
  if (server) server.close();
  rmSync(work, { recursive: true, force: true });
});

test('the player plays the demo from its address, seeks, draws and saves exactly', async (t) => {
  const demo = info(demoPath);
  await page.goto(`${url}#performance=3`);
  await until(() => window.vantrelPlayer.state.perf && window.vantrelPlayer.state.events);
  assert.equal(await player(() => document.getElementById('title').textContent), demo.title);
  assert.equal(await player(() => document.getElementById('number').textContent), '3');
  assert.equal(await player(() => document.getElementById('author').textContent), demo.author || '—');
  const sections = await player(() => document.getElementById('sections').children.length);
  assert.equal(sections, demo.sections.length);

  await t.test('10 s of play: the worklet fills every quantum and the playhead moves', async () => {
    await page.click('#play');
    await until(() => window.vantrelPlayer.state.playing);
    const before = await stats(page);
    const elapsedBefore = await player(() => document.getElementById('elapsed').textContent);
    await new Promise((ok) => setTimeout(ok, 10000));
    const s = await stats(page);
    const elapsed = await player(() => document.getElementById('elapsed').textContent);
    await page.click('#play'); // pause
    await until(() => !window.vantrelPlayer.state.playing);
    const played = s.quanta - before.quanta;
    // Every quantum the browser asked for was a full one from the engine, and the
    // engine's position is exactly the quanta handed out.
    assert.equal(s.short, 0, 'quanta the engine could not fill');
    assert.ok(played * 128 >= 44100 * 3, `only ${played} quanta in 10 s`);
    assert.equal(s.frame, s.quanta * 128, 'position = quanta delivered');
    assert.notEqual(elapsed, elapsedBefore, 'the elapsed time moved');
    t.diagnostic(`quanta ${played}, late ${s.late - before.late}`);
  });

  await t.test('the seek bar lands exactly where it is dropped', async () => {
    await player(() => {
      const bar = document.getElementById('seek');
      bar.value = '12345';
      bar.dispatchEvent(new Event('input'));
      bar.dispatchEvent(new Event('change'));
    });
    await until(() => window.vantrelPlayer.state.frame === Math.floor(12345 * 44.1));
    assert.equal((await stats(page)).frame, Math.floor(12345 * 44.1));
    // And a click on the picture seeks too.
    const box = await (await page.$('#picture')).boundingBox();
    await page.mouse.click(box.x + box.width / 2, box.y + box.height / 2);
    await until(() => Math.abs(window.vantrelPlayer.state.frame - Math.floor(window.vantrelPlayer.state.perf.lengthMs * 44.1 / 2)) < 44100);
  });

  await t.test('a new performance is drawn and the address names it', async () => {
    await page.click('#new');
    await until(() => window.vantrelPlayer.state.perf.number !== 3);
    const n = await player(() => window.vantrelPlayer.state.perf.number);
    assert.equal(await player(() => document.getElementById('number').textContent), String(n));
    assert.match(await player(() => location.hash), new RegExp(`performance=${n}(&|$)`));
  });

  await t.test('the arrangement menu plays the first performance that chose it', async () => {
    const from = await player(() => window.vantrelPlayer.state.perf.number);
    await page.select('#arrangement', String(demo.arrangements.findIndex((a) => a.name === 'Long')));
    await until(() => window.vantrelPlayer.state.arrangement >= 0 && window.vantrelPlayer.state.events);
    const { number, arrangement } = await player(() => window.vantrelPlayer.state.perf);
    assert.equal(demo.arrangements[arrangement].name, 'Long');
    const listed = spawnSync(tool, ['arrange', demoPath, '--performance', String(from), '--arrangement', 'Long']);
    assert.match(listed.stderr.toString(), new RegExp(`performance ${number}\\b`));
    assert.match(await player(() => location.hash), /arrangement=Long/);
  });

  await t.test('"Save as WAV" holds the native render of the performance', async () => {
    const downloads = join(work, 'downloads');
    mkdirSync(downloads);
    const cdp = await page.createCDPSession();
    await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
    const number = await player(() => window.vantrelPlayer.state.perf.number);
    await page.click('#wav');
    let file;
    for (let i = 0; i < 600 && !file; i++) {
      await new Promise((ok) => setTimeout(ok, 100));
      file = readdirSync(downloads).find((f) => f.endsWith('.wav'));
    }
    assert.ok(file, 'a WAV file was saved');
    const wav = readFileSync(join(downloads, file));
    assert.equal(wav.toString('latin1', 0, 4), 'RIFF');
    let at = 12, data = null, tags = '';
    while (at + 8 <= wav.length) {
      const id = wav.toString('latin1', at, at + 4), size = wav.readUInt32LE(at + 4);
      if (id === 'data') data = wav.subarray(at + 8, at + 8 + size);
      if (id === 'LIST') tags = wav.toString('latin1', at + 8, at + 8 + size);
      at += 8 + size + (size & 1);
    }
    const expected = nativeRender(demoPath, number);
    assert.ok(data && data.equals(expected), `the WAV's samples are the native render of performance ${number}`);
    assert.ok(tags.includes(demo.title), 'the title is tagged');
    assert.ok(tags.includes(`Performance ${number}`));
  });
  assert.deepEqual(chrome.problems, []);
});

test('drag and drop, ?song=, and a damaged file that leaves the player working', async () => {
  const songPath = join(work, 'song-seeds', 'real-all-61.vn');
  const song = info(songPath);
  await dropFile(page, 'real-all-61.vn', readFileSync(songPath));
  await until((title) => document.getElementById('title').textContent === title && window.vantrelPlayer.state.events, song.title);
  assert.equal(await player(() => window.vantrelPlayer.state.name), 'real-all-61.vn');
  assert.equal(await player(() => document.getElementById('arrangement').options.length), song.arrangements.length + 1);

  const damaged = readdirSync(join(work, 'hostile')).find((f) => f.startsWith('cut-'));
  await dropFile(page, damaged, readFileSync(join(work, 'hostile', damaged)));
  await until(() => !document.getElementById('error').hidden);
  assert.equal(await player(() => document.getElementById('error').textContent), `${damaged}: File is not a VNF or is corrupted.`);
  // The song that played before is still there and plays.
  assert.equal(await player(() => document.getElementById('title').textContent), song.title);
  await page.click('#play');
  await until(() => window.vantrelPlayer.state.playing);
  await page.keyboard.press('Space');
  await until(() => !window.vantrelPlayer.state.playing);

  // A song by address, and the performance with it.
  await page.goto(`${url}?song=fixtures/song-seeds/real-all-60.vn#performance=2`);
  await until(() => window.vantrelPlayer.state.perf && window.vantrelPlayer.state.name === 'real-all-60.vn');
  assert.equal(await player(() => window.vantrelPlayer.state.perf.number), 2);
  assert.match(await player(() => location.hash), /song=fixtures%2Fsong-seeds%2Freal-all-60.vn&performance=2/);
  assert.deepEqual(chrome.problems, []);
});
