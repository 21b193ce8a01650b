// Screenshots of the player at desktop and phone sizes, light and dark, into a
// folder (default build/web/screenshots): node web/test/screenshots.mjs [FOLDER]
import { mkdirSync } from 'node:fs';
import { join, resolve } from 'node:path';
import { serve } from './serve.mjs';
import { launch } from './browser.mjs';

import { root, site } from './paths.mjs';
const out = resolve(process.argv[2] || join(root, 'build/web/screenshots'));
mkdirSync(out, { recursive: true });
const { server, url } = await serve(site);
try {
  for (const [name, width, height] of [['desktop', 1280, 1000], ['phone', 360, 1400]]) {
    for (const dark of [false, true]) {
      const chrome = await launch({ width, height, dark });
      try {
        const { page } = chrome;
        await page.goto(`${url}#performance=3`);
        await page.waitForFunction(() => window.vantrelPlayer.state.events, { timeout: 30000 });
        await page.evaluate(() => {
          const bar = document.getElementById('seek');
          bar.value = String(Math.floor(Number(bar.max) * 0.37));
          bar.dispatchEvent(new Event('change'));
        });
        await new Promise((ok) => setTimeout(ok, 500));
        const file = join(out, `player-${name}-${dark ? 'dark' : 'light'}.png`);
        await page.screenshot({ path: file, fullPage: true });
        console.log(file, chrome.problems.join('; '));
      } finally {
        await chrome.close();
      }
    }
  }
} finally {
  server.close();
}
