// What the web tests and the bench work on, from the environment (set by
// scripts/web/test.sh) or the default build folders.
import { join, resolve } from 'node:path';

export const root = resolve(import.meta.dirname, '../..');
const at = (name, fallback) => resolve(root, process.env[name] || fallback);
export const site = at('VANTREL_SITE', 'build/web/site');
export const pkgDir = at('VANTREL_PACKAGE', 'build/web/package');
export const tool = at('VANTREL', 'build/vantrel');
export const corpus = at('VANTREL_CORPUS', 'build/vantrel_corpus');
// The native engine linked with libmpg123 built as the WebAssembly one is
// (scripts/web/test.sh): the byte-for-byte reference.
export const reference = at('VANTREL_REFERENCE', 'build/web/vantrel-reference');
export const demoPath = join(root, 'examples/demo.vn');
