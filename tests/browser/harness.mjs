// Shared pieces of the browser scripts: the velumbra panel server as a child
// process, Debian's Chromium driven by playwright-core, the page's "settled"
// state, and a PNG reader for comparing images pixel by pixel.
//
// Environment (set by run.sh):
//   VELUMBRA          the velumbra executable
//   VELUMBRA_SOURCE   the source tree (scenes/)
//   BROWSER_MODULES   the folder holding node_modules/playwright-core
//   CHROMIUM          the Chromium executable (/usr/bin/chromium)
//   BROWSER_WORK      a folder for failure screenshots and logs
import { spawn } from 'node:child_process';
import { createRequire } from 'node:module';
import path from 'node:path';
import zlib from 'node:zlib';

// Generous for a fresh, loaded CI machine and for sanitizer builds.
export const START_TIMEOUT_MS = 120_000;
export const ACTION_TIMEOUT_MS = 120_000;

export function env(name) {
  const value = process.env[name];
  if (!value) throw new Error(`the environment variable ${name} is not set (run the script through run.sh)`);
  return value;
}

export function loadPlaywright() {
  const require = createRequire(path.join(env('BROWSER_MODULES'), 'package.json'));
  return require('playwright-core');
}

// --- the panel server ----------------------------------------------------------

const running = new Set();
// Whatever ends this process, no server is left behind.
process.on('exit', () => {
  for (const child of running) {
    try { child.kill('SIGKILL'); } catch { /* already gone */ }
  }
});
for (const signal of ['SIGINT', 'SIGTERM', 'SIGHUP']) {
  process.on(signal, () => process.exit(128 + (signal === 'SIGINT' ? 2 : signal === 'SIGTERM' ? 15 : 1)));
}

// Starts `velumbra panel <scene> --port 0` and waits for the address it
// prints. Resolves to { url, stop(), output() }; stop() ends the server with
// SIGTERM (SIGKILL after a grace period) and resolves to its exit code, or
// to the signal's name when a signal ended it.
export function startPanel(velumbra, scene, extraArgs = []) {
  const child = spawn(velumbra, ['panel', scene, '--port', '0', ...extraArgs], {
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  running.add(child);
  let stdout = '';
  let stderr = '';
  let exited = null;
  const exitPromise = new Promise((resolve) => {
    child.on('exit', (code, signal) => {
      exited = code !== null ? code : signal;
      running.delete(child);
      resolve(exited);
    });
  });
  child.stdout.setEncoding('utf8');
  child.stderr.setEncoding('utf8');
  child.stderr.on('data', (d) => { stderr += d; });
  const output = () => `--- server standard output ---\n${stdout}\n--- server standard error ---\n${stderr}`;

  const stop = async () => {
    if (exited !== null) return exited;
    child.kill('SIGTERM');
    const timer = setTimeout(() => child.kill('SIGKILL'), 30_000);
    const result = await exitPromise;
    clearTimeout(timer);
    return result;
  };

  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => {
      child.kill('SIGKILL');
      reject(new Error(`velumbra panel printed no address within ${START_TIMEOUT_MS / 1000} s\n${output()}`));
    }, START_TIMEOUT_MS);
    child.on('error', (e) => {
      clearTimeout(timer);
      reject(new Error(`cannot start ${velumbra}: ${e.message}`));
    });
    child.stdout.on('data', (d) => {
      stdout += d;
      // The address carries the panel's API token: the page passes it on.
      const m = /http:\/\/127\.0\.0\.1:(\d+)\/\?token=[0-9a-f]+/.exec(stdout);
      if (m) {
        clearTimeout(timer);
        resolve({ url: m[0], port: Number(m[1]), stop, output, child });
      }
    });
    exitPromise.then((code) => {
      clearTimeout(timer);
      reject(new Error(`velumbra panel ended (${code}) before it printed its address\n${output()}`));
    });
  });
}

// --- the browser ---------------------------------------------------------------

// Root on a machine without a display: no sandbox, no GPU, and none of
// Chromium's own network traffic (the machine's network is closed).
export const CHROMIUM_ARGS = [
  '--headless=new',
  '--no-sandbox',
  '--disable-gpu',
  '--disable-dev-shm-usage',
  '--disable-quic',
  '--no-first-run',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
  '--disable-extensions',
  '--force-color-profile=srgb',
];

export async function launchChromium() {
  const { chromium } = loadPlaywright();
  const executablePath = env('CHROMIUM');
  try {
    return await chromium.launch({ executablePath, headless: true, args: CHROMIUM_ARGS, timeout: START_TIMEOUT_MS });
  } catch (e) {
    throw new Error(`cannot start ${executablePath} headless: ${e.message}`);
  }
}

// A page to open the panel in. Page errors, console errors and dialogs are
// collected in `problems`.
export async function newPage(browser, viewport = { width: 1280, height: 900 }) {
  const context = await browser.newContext({ viewport, deviceScaleFactor: 1 });
  const page = await context.newPage();
  page.setDefaultTimeout(ACTION_TIMEOUT_MS);
  const problems = [];
  page.on('pageerror', (e) => problems.push(`page error: ${e.message}`));
  page.on('console', (m) => { if (m.type() === 'error') problems.push(`console error: ${m.text()}`); });
  page.on('dialog', (d) => { problems.push(`unexpected dialog: ${d.message()}`); d.dismiss(); });
  page.on('response', (r) => { if (r.status() >= 400) problems.push(`${r.request().method()} ${r.url()}: ${r.status()}`); });
  page.on('requestfailed', (r) => problems.push(`${r.method()} ${r.url()} failed: ${r.failure()?.errorText}`));
  return { page, problems };
}

// Opens the panel at `url` and waits until its first state and preview are in.
export async function openPanel(page, url) {
  await page.goto(url, { waitUntil: 'load' });
  await settled(page);
}

// Waits until no action or preview render of the page is under way and the
// preview shows an image.
export async function settled(page) {
  await page.waitForFunction(() => {
    const img = document.getElementById('preview');
    return document.body.getAttribute('aria-busy') === 'false' &&
           img && img.src.startsWith('blob:') && img.complete && img.naturalWidth > 0;
  }, null, { timeout: ACTION_TIMEOUT_MS });
}

// --- PNG -------------------------------------------------------------------------

const SIGNATURE = Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]);

// Reads a non-interlaced grey, grey+alpha, RGB or RGBA PNG of 8 or 16 bits
// per sample into { width, height, depth, rgba } with four samples per
// pixel (opaque alpha added where the file has none) at the file's depth,
// values as stored. Anything else throws, naming `what`.
export function decodePng(bytes, what = 'the image') {
  const buf = Buffer.from(bytes);
  if (buf.length < 8 || !buf.subarray(0, 8).equals(SIGNATURE)) throw new Error(`${what} is not a PNG`);
  let pos = 8;
  let ihdr = null;
  const idat = [];
  while (pos + 8 <= buf.length) {
    const length = buf.readUInt32BE(pos);
    const type = buf.toString('latin1', pos + 4, pos + 8);
    const data = buf.subarray(pos + 8, pos + 8 + length);
    if (data.length !== length) throw new Error(`${what}: the ${type} chunk is cut short`);
    if (type === 'IHDR') ihdr = data;
    else if (type === 'IDAT') idat.push(data);
    else if (type === 'IEND') break;
    pos += 12 + length;
  }
  if (!ihdr) throw new Error(`${what}: no IHDR chunk`);
  const width = ihdr.readUInt32BE(0);
  const height = ihdr.readUInt32BE(4);
  const depth = ihdr[8];
  const colorType = ihdr[9];
  const interlace = ihdr[12];
  const channels = { 0: 1, 2: 3, 4: 2, 6: 4 }[colorType];
  if (!channels) throw new Error(`${what}: colour type ${colorType} is not read here`);
  if (depth !== 8 && depth !== 16) throw new Error(`${what}: bit depth ${depth} is not read here`);
  if (interlace !== 0) throw new Error(`${what}: interlaced PNGs are not read here`);

  const raw = zlib.inflateSync(Buffer.concat(idat));
  const bytesPerSample = depth / 8;
  const bpp = channels * bytesPerSample;
  const stride = width * bpp;
  if (raw.length < height * (stride + 1)) throw new Error(`${what}: the image data is cut short`);
  const rows = Buffer.alloc(height * stride);
  for (let y = 0; y < height; ++y) {
    const filter = raw[y * (stride + 1)];
    const src = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    const out = rows.subarray(y * stride, (y + 1) * stride);
    const prev = y > 0 ? rows.subarray((y - 1) * stride, y * stride) : null;
    for (let i = 0; i < stride; ++i) {
      const a = i >= bpp ? out[i - bpp] : 0;
      const b = prev ? prev[i] : 0;
      const c = prev && i >= bpp ? prev[i - bpp] : 0;
      let v;
      switch (filter) {
        case 0: v = src[i]; break;
        case 1: v = src[i] + a; break;
        case 2: v = src[i] + b; break;
        case 3: v = src[i] + ((a + b) >> 1); break;
        case 4: {
          const p = a + b - c;
          const pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
          v = src[i] + (pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
          break;
        }
        default: throw new Error(`${what}: row ${y} has the unknown filter ${filter}`);
      }
      out[i] = v & 0xff;
    }
  }

  const opaque = depth === 16 ? 0xffff : 0xff;
  const rgba = depth === 16 ? new Uint16Array(width * height * 4) : new Uint8Array(width * height * 4);
  const sample = depth === 16 ? (o) => rows.readUInt16BE(o) : (o) => rows[o];
  for (let p = 0; p < width * height; ++p) {
    const s = (k) => sample(p * bpp + k * bytesPerSample);
    let r, g, b, alpha;
    if (channels === 1) { r = g = b = s(0); alpha = opaque; }
    else if (channels === 2) { r = g = b = s(0); alpha = s(1); }
    else if (channels === 3) { r = s(0); g = s(1); b = s(2); alpha = opaque; }
    else { r = s(0); g = s(1); b = s(2); alpha = s(3); }
    rgba.set([r, g, b, alpha], p * 4);
  }
  return { width, height, depth, rgba };
}

// Compares two decoded images: null when every sample is the same, else a
// description of the first difference and how many pixels differ.
export function pixelDifference(a, b, nameA = 'the first image', nameB = 'the second image') {
  if (a.width !== b.width || a.height !== b.height)
    return `${nameA} is ${a.width}x${a.height}, ${nameB} ${b.width}x${b.height}`;
  if (a.depth !== b.depth) return `${nameA} has ${a.depth} bits per sample, ${nameB} ${b.depth}`;
  let differing = 0;
  let first = null;
  for (let p = 0; p < a.width * a.height; ++p) {
    for (let k = 0; k < 4; ++k) {
      if (a.rgba[p * 4 + k] !== b.rgba[p * 4 + k]) {
        ++differing;
        if (!first) {
          const x = p % a.width, y = Math.floor(p / a.width);
          first = `pixel (${x}, ${y}): ${nameA} [${a.rgba.subarray(p * 4, p * 4 + 4).join(', ')}], ` +
                  `${nameB} [${b.rgba.subarray(p * 4, p * 4 + 4).join(', ')}]`;
        }
        break;
      }
    }
  }
  return differing === 0 ? null : `${differing} of ${a.width * a.height} pixels differ; first at ${first}`;
}
