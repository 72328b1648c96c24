// Builds the page into one folder that any web server (or mosquitto's http_dir, or a file:
// open) serves as it is: node build.mjs [OUTPUT_FOLDER] (default: dist).
import * as esbuild from 'esbuild';
import { copyFile, mkdir, rm } from 'node:fs/promises';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const out = resolve(process.argv[2] || join(here, 'dist'));
await rm(out, { recursive: true, force: true });
await mkdir(out, { recursive: true });
// A classic script, not a module: browsers refuse modules from file: pages.
const result = await esbuild.build({
  entryPoints: [join(here, 'src/main.js')],
  bundle: true,
  format: 'iife',
  platform: 'browser',
  target: ['es2020'],
  minify: true,
  legalComments: 'linked',
  outfile: join(out, 'velquist-web.js'),
  metafile: true,
  logLevel: 'warning',
});
for (const file of ['index.html', 'style.css']) await copyFile(join(here, file), join(out, file));
const bytes = Object.values(result.metafile.outputs).reduce((sum, o) => sum + o.bytes, 0);
console.log(`web page built in ${out} (${bytes} bytes of script)`);
