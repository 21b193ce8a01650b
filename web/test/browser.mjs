// Headless Chromium (Debian's, driven by puppeteer-core) on the player's page over
// a loopback server; shared by the browser test and the bench.
import puppeteer from 'puppeteer-core';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

export async function launch({ width = 1200, height = 900, dark = false } = {}) {
  const profile = mkdtempSync(join(tmpdir(), 'vantrel-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: [
      '--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
      '--disable-sync', '--no-first-run', '--disable-quic', `--user-data-dir=${profile}`,
      '--autoplay-policy=no-user-gesture-required', '--disable-background-timer-throttling',
      '--disable-renderer-backgrounding',
    ],
  });
  const page = await browser.newPage();
  await page.setViewport({ width, height, deviceScaleFactor: 1 });
  await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: dark ? 'dark' : 'light' }]);
  const problems = [];
  page.on('pageerror', (e) => problems.push(`page error: ${e.message}`));
  page.on('console', (m) => { if (m.type() === 'error') problems.push(`console: ${m.text()}`); });
  const close = async () => {
    await browser.close();
    rmSync(profile, { recursive: true, force: true });
  };
  return { browser, page, problems, close };
}

// Drops a file on the page as a user's drag and drop does: dragenter, dragover and
// drop events carrying it.
export async function dropFile(page, name, bytes) {
  await page.evaluate((name, data) => {
    const file = new File([new Uint8Array(data)], name, { type: 'application/octet-stream' });
    const dt = new DataTransfer();
    dt.items.add(file);
    for (const type of ['dragenter', 'dragover', 'drop'])
      document.body.dispatchEvent(new DragEvent(type, { dataTransfer: dt, bubbles: true, cancelable: true }));
  }, name, [...bytes]);
}

export const stats = (page) => page.evaluate(() => window.vantrelPlayer.stats());
