// A static server on the loopback for the browser test and the bench: the site,
// and extra files under /fixtures/. Run alone, it serves build/web/site:
//   node web/test/serve.mjs [FOLDER] [PORT]
import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
import { extname, join, normalize, resolve } from 'node:path';

const TYPES = {
  '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.mjs': 'text/javascript',
  '.css': 'text/css', '.wasm': 'application/wasm', '.json': 'application/json', '.png': 'image/png',
};

export function serve(root, fixtures = null, port = 0) {
  const server = createServer(async (req, res) => {
    const path = decodeURIComponent(new URL(req.url, 'http://localhost').pathname);
    let base = root, rel = path;
    if (fixtures && path.startsWith('/fixtures/')) { base = fixtures; rel = path.slice('/fixtures'.length); }
    const file = normalize(join(base, rel.endsWith('/') ? `${rel}index.html` : rel));
    if (!file.startsWith(normalize(base))) { res.writeHead(403).end(); return; }
    try {
      const body = await readFile(file);
      res.writeHead(200, { 'content-type': TYPES[extname(file)] || 'application/octet-stream', 'cache-control': 'no-store' });
      res.end(body);
    } catch {
      res.writeHead(404).end('not found');
    }
  });
  return new Promise((ok) => server.listen(port, '127.0.0.1', () => ok({ server, url: `http://127.0.0.1:${server.address().port}/` })));
}

if (import.meta.url === `file://${process.argv[1]}`) {
  const root = resolve(process.argv[2] || 'build/web/site');
  const { url } = await serve(root, null, Number(process.argv[3] || 8000));
  console.log(`serving ${root} at ${url}`);
}
