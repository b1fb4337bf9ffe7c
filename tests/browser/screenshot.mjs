// A screenshot of the velumbra panel for the README: scenes/readme.json (a
// copy, so nothing is ever saved over it) with its first rollout open and
// the preview rendered.
//
//   run.sh screenshot BUILD_DIR SOURCE_DIR VELUMBRA OUTPUT.png
import fs from 'node:fs';
import path from 'node:path';

import { env, launchChromium, newPage, openPanel, startPanel } from './harness.mjs';

const output = process.argv[2];
if (!output) {
  console.error('usage: run.sh screenshot BUILD_DIR SOURCE_DIR VELUMBRA OUTPUT.png');
  process.exit(2);
}

const tmp = path.join(env('BROWSER_WORK'), 'screenshot');
fs.rmSync(tmp, { recursive: true, force: true });
fs.mkdirSync(tmp, { recursive: true });
const scene = path.join(tmp, 'readme.json');
fs.copyFileSync(path.join(env('VELUMBRA_SOURCE'), 'scenes', 'readme.json'), scene);

let server = null;
let browser = null;
try {
  server = await startPanel(env('VELUMBRA'), scene);
  browser = await launchChromium();
  const { page, problems } = await newPage(browser, { width: 1180, height: 640 });
  await openPanel(page, server.url);
  if (problems.length) throw new Error(`the page reported:\n  ${problems.join('\n  ')}`);
  fs.mkdirSync(path.dirname(path.resolve(output)), { recursive: true });
  // The scene's own name, not the temporary copy's folder.
  await page.evaluate(() => {
    const name = document.getElementById('scene-name');
    name.textContent = 'scenes/readme.json';
  });
  await page.screenshot({ path: output, fullPage: true });
  console.log(`the panel is in ${output}`);
} catch (e) {
  console.error(`velumbra: the screenshot failed: ${e.message}`);
  if (server) console.error(server.output());
  process.exitCode = 1;
} finally {
  if (browser) await browser.close().catch(() => {});
  if (server) await server.stop();
}
