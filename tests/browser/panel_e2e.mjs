// The velumbra panel end to end in a real browser: a user edits the star
// count and a colour and sees the preview change, works the scintillation
// rollout (Lock / UnLock, the enable check box), types a catalogue and a
// time into the Sky rollout, saves, and the saved scene
// renders through `velumbra render` to exactly the pixels the page showed.
//
// Run through run.sh (it installs playwright-core and sets the environment).
// Exit status: 0 passed, 1 failed (the failing step is named; the scene, the
// images and a screenshot of the page are left in $BROWSER_WORK/panel/).
import { execFile } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { promisify } from 'node:util';

import {
  ACTION_TIMEOUT_MS, decodePng, env, launchChromium, newPage, openPanel, pixelDifference, settled, startPanel,
} from './harness.mjs';

const run = promisify(execFile);

const velumbra = env('VELUMBRA');
const source = env('VELUMBRA_SOURCE');
const work = env('BROWSER_WORK');

// The Stars Creation rollout is map 0, Scintillation Effect map 4, Sky map 6.
const STARS = 0;
const SCINT = 4;
const SKY = 6;

const rollout = (map) => `#rollouts .rollout[data-map="${map}"]`;
const edit = (map, param) => `${rollout(map)} input.edit[data-param="${param}"]`;
const spinnerButtons = (map, param) => `${rollout(map)} .spinner[data-param="${param}"] button`;
const swatch = (map, param) => `${rollout(map)} input.swatch[data-param="${param}"]`;

let currentStep = '';
async function step(name, fn) {
  currentStep = name;
  console.log(`- ${name}`);
  await fn();
}

function check(condition, message) {
  if (!condition) throw new Error(message);
}

// The bytes of the image the page's preview element shows now.
async function shownPreview(page) {
  const b64 = await page.evaluate(async () => {
    const res = await fetch(document.getElementById('preview').src);
    const bytes = new Uint8Array(await res.arrayBuffer());
    let s = '';
    for (let i = 0; i < bytes.length; i += 0x8000) s += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
    return btoa(s);
  });
  return Buffer.from(b64, 'base64');
}

// A fresh render of the current frame through the panel's API, fetched by
// the page.
async function apiPreview(page) {
  const b64 = await page.evaluate(async () => {
    const token = new URLSearchParams(window.location.search).get('token');
    const res = await fetch('/api/preview.png', { headers: { 'X-Velumbra-Token': token } });
    if (!res.ok) throw new Error(`/api/preview.png answered ${res.status}: ${await res.text()}`);
    const bytes = new Uint8Array(await res.arrayBuffer());
    let s = '';
    for (let i = 0; i < bytes.length; i += 0x8000) s += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
    return btoa(s);
  });
  return Buffer.from(b64, 'base64');
}

// Does `act` to the page, waits until the page has settled, and returns the
// preview it shows then.
async function actAndSettle(page, act) {
  const before = await page.locator('#preview').getAttribute('src');
  await act();
  await settled(page);
  const after = await page.locator('#preview').getAttribute('src');
  check(after !== before, 'the page did not load a new preview after the edit');
  const status = await page.locator('#status').textContent();
  check(!(await page.locator('#status.error').count()), `the page reports an error: ${status}`);
  return decodePng(await shownPreview(page), 'the preview');
}

async function typeInto(page, selector, text) {
  const field = page.locator(selector);
  await field.fill(text);
  await field.press('Enter');
}

async function expectValue(page, selector, expected, what) {
  const value = await page.locator(selector).inputValue();
  check(value === expected, `${what} shows "${value}", expected "${expected}"`);
}

async function expectEnabled(page, selector, enabled, what) {
  const n = await page.locator(selector).count();
  check(n > 0, `${what}: no element matches ${selector}`);
  for (let i = 0; i < n; ++i) {
    const isEnabled = await page.locator(selector).nth(i).isEnabled();
    check(isEnabled === enabled, `${what} is ${isEnabled ? 'enabled' : 'disabled'}, expected ${enabled ? 'enabled' : 'disabled'}`);
  }
}

async function main() {
  // The scene, the render and a failure's screenshot stay in the build
  // folder until the next run, for a look after a failure.
  const tmp = path.join(work, 'panel');
  fs.rmSync(tmp, { recursive: true, force: true });
  fs.mkdirSync(tmp, { recursive: true });
  const scene = path.join(tmp, 'twinkle.json');
  fs.copyFileSync(path.join(source, 'scenes', 'twinkle.json'), scene);
  const originalScene = fs.readFileSync(scene, 'utf8');

  let server = null;
  let browser = null;
  let page = null;
  let problems = [];
  try {
    await step('start velumbra panel on a free port', async () => {
      server = await startPanel(velumbra, scene);
    });
    await step('start headless Chromium', async () => {
      browser = await launchChromium();
    });
    let preview;
    await step(`open ${server.url} and wait for the first preview`, async () => {
      ({ page, problems } = await newPage(browser));
      await openPanel(page, server.url);
      await expectValue(page, edit(STARS, 'starscount'), '6000', 'Stars Count');
      preview = decodePng(await shownPreview(page), 'the first preview');
      check(preview.width === 640 && preview.height === 480,
            `the preview is ${preview.width}x${preview.height}, the scene renders 640x480`);
    });

    await step('type a star count: the field takes it and the preview changes', async () => {
      const next = await actAndSettle(page, () => typeInto(page, edit(STARS, 'starscount'), '20000'));
      await expectValue(page, edit(STARS, 'starscount'), '20000', 'Stars Count');
      check(pixelDifference(preview, next) !== null, 'the preview did not change with 20000 stars instead of 6000');
      preview = next;
    });

    await step('pick a bright star colour: the swatch takes it and the preview changes', async () => {
      const next = await actAndSettle(page, () => page.locator(swatch(STARS, 'brightstarscolor')).fill('#ff8040'));
      await expectValue(page, swatch(STARS, 'brightstarscolor'), '#ff8040', 'the Bright Stars swatch');
      check(pixelDifference(preview, next) !== null, 'the preview did not change with an orange bright star colour');
      preview = next;
    });

    await step('open the Scintillation Effect rollout', async () => {
      await page.locator(`${rollout(SCINT)} > button.title`).click();
      await settled(page);
      check(await page.locator(`${rollout(SCINT)}.open`).count() === 1, 'the rollout did not open');
      await page.locator(edit(SCINT, 'scintillationdy')).waitFor({ state: 'visible' });
    });

    await step('Lock: Delta Y is disabled and shows Delta X after each render', async () => {
      check(await page.locator(`${rollout(SCINT)} label.check:has(input[type=radio]:checked)`).textContent() === 'Lock /',
            'the scene opens with "Lock /" selected, but the page shows another radio button selected');
      await expectEnabled(page, edit(SCINT, 'scintillationdy'), false, 'Delta Y under Lock');
      await expectValue(page, edit(SCINT, 'scintillationdy'), '0.800', 'Delta Y under Lock (Delta X is 0.800)');
      const next = await actAndSettle(page, () => typeInto(page, edit(SCINT, 'scintillationdx'), '1.5'));
      await expectValue(page, edit(SCINT, 'scintillationdx'), '1.500', 'Delta X');
      await expectValue(page, edit(SCINT, 'scintillationdy'), '1.500', 'Delta Y after a render under Lock');
      check(pixelDifference(preview, next) !== null, 'the preview did not change with a larger scintillation Delta X');
      preview = next;
    });

    await step('UnLock: Delta Y is enabled and keeps the value typed into it', async () => {
      const unlock = page.locator(`${rollout(SCINT)} label.check`, { hasText: 'UnLock' });
      const next = await actAndSettle(page, () => unlock.click());
      check(await page.locator(`${rollout(SCINT)} label.check:has(input[type=radio]:checked)`).textContent() === 'UnLock',
            'clicking UnLock did not select it');
      await expectEnabled(page, edit(SCINT, 'scintillationdy'), true, 'Delta Y under UnLock');
      await expectEnabled(page, spinnerButtons(SCINT, 'scintillationdy'), true, "Delta Y's spinner under UnLock");
      preview = next;
      const typed = await actAndSettle(page, () => typeInto(page, edit(SCINT, 'scintillationdy'), '0.25'));
      await expectValue(page, edit(SCINT, 'scintillationdy'), '0.250', 'Delta Y after a render under UnLock');
      check(pixelDifference(preview, typed) !== null, 'the preview did not change with a smaller Delta Y');
      preview = typed;
    });

    await step('"Enable Scintillation Effect" off: the other fields are disabled, Delta Y stays enabled', async () => {
      const enable = page.locator(`${rollout(SCINT)} label.check`, { hasText: 'Enable Scintillation Effect' });
      const next = await actAndSettle(page, () => enable.click());
      check(!(await enable.locator('input').isChecked()), 'the check box is still on after clicking it');
      await expectEnabled(page, edit(SCINT, 'scintillationdy'), true, 'Delta Y with scintillation off');
      await expectEnabled(page, spinnerButtons(SCINT, 'scintillationdy'), true, "Delta Y's spinner with scintillation off");
      for (const param of ['scintillationseed', 'scintillationfrequency', 'scintillationdx',
                           'scintillationmultiplier', 'scintillationdimmer'])
        await expectEnabled(page, edit(SCINT, param), false, `the ${param} field with scintillation off`);
      check(pixelDifference(preview, next) !== null, 'the preview did not change with scintillation switched off');
      preview = next;
    });

    await step('Sky: the catalogue typed into its file field and the time into its text field draw the catalogue', async () => {
      // Betelgeuse, Rigel and Bellatrix in the Yale catalogue's xplanet form.
      const catalogue = path.join(tmp, 'orion.txt');
      fs.writeFileSync(catalogue, '  7.4071  5.9195  0.50 " 58Alp Ori"\n -8.2017  5.2423  0.12 " 19Bet Ori"\n' +
                                  '  6.3497  5.4189  1.64 " 24Gam Ori"\n');
      await page.locator(`${rollout(SKY)} > button.title`).click();
      await settled(page);
      await page.locator(edit(SKY, 'catalogfile')).waitFor({ state: 'visible' });
      await expectEnabled(page, edit(SKY, 'catalogfile'), false, 'the catalogue field with generated stars');
      const catalogueSource = page.locator(`${rollout(SKY)} label.check[data-param="starsource"]`, { hasText: 'Catalogue' });
      let next = await actAndSettle(page, () => catalogueSource.click());
      await expectEnabled(page, edit(SKY, 'catalogfile'), true, 'the catalogue field with catalogue stars');
      next = await actAndSettle(page, () => typeInto(page, edit(SKY, 'catalogfile'), catalogue));
      await expectValue(page, edit(SKY, 'catalogfile'), catalogue, 'the catalogue field');
      next = await actAndSettle(page, () => typeInto(page, edit(SKY, 'observertime'), '2021-01-15T22:00:00Z'));
      await expectValue(page, edit(SKY, 'observertime'), '2021-01-15T22:00:00Z', 'the time field');
      check(pixelDifference(preview, next) !== null, 'the preview did not change from the seeded field to the catalogue');
      preview = next;
    });

    await step("the preview the page shows is the panel API's render of the frame", async () => {
      const fresh = decodePng(await apiPreview(page), "the API's preview");
      const diff = pixelDifference(preview, fresh, 'the shown preview', "the API's preview");
      check(diff === null, diff);
    });

    await step('Save writes the scene file', async () => {
      await page.locator('#dirty').waitFor({ state: 'visible' });
      await page.locator('#save').click();
      await page.waitForFunction(() => document.getElementById('status').textContent.startsWith('saved '),
                                 null, { timeout: ACTION_TIMEOUT_MS });
      check(await page.locator('#dirty').isHidden(), 'the page still shows unsaved changes after Save');
      const text = fs.readFileSync(scene, 'utf8');
      check(text !== originalScene, 'Save left the scene file as it was');
      const params = JSON.parse(text).effects[0].params;
      const expected = { starscount: 20000, scintillationflag: 0, scintillationlockdxyflag: 1,
                         scintillationdx: 1.5, scintillationdy: 0.25 };
      for (const [name, value] of Object.entries(expected))
        check(params[name] === value, `the saved ${name} is ${JSON.stringify(params[name])}, expected ${value}`);
      const c = params.brightstarscolor;
      check(Array.isArray(c) && c.length === 3 && c[0] === 1 && Math.abs(c[1] - 128 / 255) < 1e-6 &&
            Math.abs(c[2] - 64 / 255) < 1e-6,
            `the saved brightstarscolor is ${JSON.stringify(c)}, expected [1, 128/255, 64/255]`);
    });

    await step('velumbra render of the saved scene gives the pixels of the preview', async () => {
      const out = path.join(tmp, 'render.png');
      try {
        await run(velumbra, ['render', scene, '-o', out, '--depth', '8', '-q'], { timeout: ACTION_TIMEOUT_MS });
      } catch (e) {
        throw new Error(`velumbra render ${scene} failed: ${e.message}\n${e.stderr || ''}`);
      }
      const rendered = decodePng(fs.readFileSync(out), 'the rendered image');
      const diff = pixelDifference(preview, rendered, 'the preview', 'the render of the saved scene');
      check(diff === null, diff);
    });

    await step('the page reported no errors', async () => {
      check(problems.length === 0, problems.join('\n'));
    });

    await step('the server ends cleanly on SIGTERM', async () => {
      await browser.close();
      browser = null;
      const code = await server.stop();
      check(code === 0, `velumbra panel ended with ${code} on SIGTERM\n${server.output()}`);
      server = null;
    });
    console.log('browser test passed');
  } catch (e) {
    console.error(`FAILED at "${currentStep}": ${e.message}`);
    if (problems.length) console.error(`the page reported:\n  ${problems.join('\n  ')}`);
    if (page) {
      const shot = path.join(tmp, 'failure.png');
      try {
        await page.screenshot({ path: shot, fullPage: true, timeout: 30_000 });
        console.error(`a screenshot of the page is in ${shot}`);
      } catch { /* the page is gone */ }
    }
    if (server) console.error(server.output());
    console.error(`the scene and images are kept in ${tmp}`);
    process.exitCode = 1;
  } finally {
    if (browser) await browser.close().catch(() => {});
    if (server) await server.stop();
  }
}

await main();
