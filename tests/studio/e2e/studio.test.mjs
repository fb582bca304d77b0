// The studio's page in Debian's Chromium, driven as a person drives it:
// each test starts kestrion_studio_dev on the built module, opens the
// address it prints and uses the module's own control dialog.
//
//   STUDIO_DEV      the kestrion_studio_dev executable
//   STUDIO_MODULE   the KESTRION.FLT it loads
//   SCREENSHOTS     where the screenshots go
import { test, before, after, beforeEach, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { mkdtemp, mkdir, rm } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { createInterface } from 'node:readline';
import { chromium } from 'playwright-core';

const CHROMIUM_FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic',
  '--no-first-run', '--disable-background-networking', '--disable-component-update',
  '--disable-sync'];
const SCREENSHOTS = process.env.SCREENSHOTS || join(tmpdir(), 'kestrion-studio-screenshots');
const TIMEOUT = 10000;

let profile;
let context;
let studio;
let page;

// Starts the studio and waits for the address on its first line.
function startStudio() {
  const child = spawn(process.env.STUDIO_DEV, ['--module', process.env.STUDIO_MODULE],
    { stdio: ['ignore', 'pipe', 'inherit'] });
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('the studio printed no address')), TIMEOUT);
    child.on('exit', (code) => reject(new Error(`the studio ended with ${code}`)));
    createInterface({ input: child.stdout }).once('line', (url) => {
      clearTimeout(timer);
      resolve({ child, url, origin: new URL(url).origin });
    });
  });
}

function stopStudio(running) {
  return new Promise((resolve) => {
    running.child.removeAllListeners('exit');
    running.child.once('exit', (code, signal) => resolve({ code, signal }));
    running.child.kill('SIGINT');
  });
}

before(async () => {
  await mkdir(SCREENSHOTS, { recursive: true });
  profile = await mkdtemp(join(tmpdir(), 'kestrion-studio-profile-'));
  context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    args: CHROMIUM_FLAGS,
    viewport: { width: 1280, height: 800 },
  });
});

after(async () => {
  await context.close();
  await rm(profile, { recursive: true, force: true });
});

beforeEach(async () => {
  studio = await startStudio();
  page = await context.newPage();
  page.on('pageerror', (error) => assert.fail(`the page threw: ${error.message}`));
  await page.goto(studio.url);
  await page.locator('.win[data-caption="Kestrion Control"]').waitFor({ timeout: TIMEOUT });
});

afterEach(async () => {
  await page.close();
  await context.clearCookies();
  const ended = await stopStudio(studio);
  assert.deepEqual(ended, { code: 0, signal: null }, 'Ctrl-C ends the studio cleanly');
});

const control = (id) => page.locator(`.win[data-caption="Kestrion Control"] [data-id="${id}"]`);
const fact = (id) => page.locator(`#${id}`);
const shot = (name) => page.screenshot({ path: join(SCREENSHOTS, `${name}.png`) });

// A control's box relative to its dialog's client area, in pixels.
async function placeOf(locator) {
  return locator.evaluate((element) => {
    const client = element.closest('.client').getBoundingClientRect();
    const box = element.getBoundingClientRect();
    return [box.left - client.left, box.top - client.top, box.width, box.height].map(Math.round);
  });
}

test('the control dialog shows its template: texts, places and states', async () => {
  assert.equal(page.url(), `${studio.origin}/`, 'the secret left the address bar');
  const dialog = page.locator('.win[data-caption="Kestrion Control"]');
  await assert.doesNotReject(dialog.locator('.caption-text', { hasText: 'Kestrion Control' }).waitFor());
  const texts = {
    1010: 'Whole Image', 1011: 'Material Effects Channel', 1012: 'Object Channel',
    1001: 'Undefined', 1002: 'Browse...', 1: 'OK', 2: 'Cancel',
  };
  for (const [id, text] of Object.entries(texts)) {
    assert.equal((await control(id).innerText()).trim(), text, `control ${id}`);
  }
  for (const text of ['Kestrion, Version 1.1', 'Source', 'Object', 'Blur range:', 'Blur size:']) {
    assert.equal(await dialog.getByText(text, { exact: true }).count(), 1, text);
  }
  // Dialog units through the font's base units (6 x 13): Browse... is at
  // 127, 117, 40 x 12 units; OK at 34, 164, 50 x 14.
  assert.deepEqual(await placeOf(control(1002)), [191, 190, 60, 20]);
  assert.deepEqual(await placeOf(control(1)), [51, 267, 75, 22]);
  assert.equal(await control(1005).inputValue(), '50.0');
  assert.equal(await control(1003).inputValue(), '2.0');
  assert.equal(await control(1010).getAttribute('aria-checked'), 'true');
  assert.equal(await control(1027).isDisabled(), true);
  assert.equal(await control(1002).evaluate((e) => e.classList.contains('focused')), true);
  // Tab order: the tab stops in template order.
  const stops = await dialog.locator('[tabindex="0"]').evaluateAll((all) => all.map((e) => e.dataset.id));
  assert.deepEqual(stops, ['1002', '1003', '1004', '1', '2', '1005', '1006']);
  await shot('control-dialog');
});

test('a click on Object Channel enables the ID field as the module decides', async () => {
  await control(1012).click();
  await page.waitForFunction(() => !document.querySelector('[data-caption="Kestrion Control"] [data-id="1027"]').disabled);
  assert.equal(await control(1026).isDisabled(), true, 'the material ID stays disabled');
  assert.equal(await control(1012).getAttribute('aria-checked'), 'true');
  assert.equal(await control(1010).getAttribute('aria-checked'), 'false');
  assert.equal(await fact('record-sourceMode').innerText(), 'Whole Image (1010)', 'stored on OK only');
  await control(1027).fill('42');
  await control(1027).press('Enter');
  await control(1).click();
  await page.locator('#desk-empty').waitFor();
  assert.equal(await fact('record-sourceMode').innerText(), 'Object Channel (1012)');
  assert.equal(await fact('record-objectChannelId').innerText(), '42');
});

test('a spinner drag changes the Range the module holds, in one undoable step', async () => {
  const spinner = control(1006);
  const box = await spinner.boundingBox();
  const x = box.x + box.width / 2;
  const y = box.y + box.height / 2;
  await page.mouse.move(x, y);
  await page.mouse.down();
  await page.mouse.move(x, y - 150, { steps: 15 });
  await page.mouse.move(x, y - 300, { steps: 15 });
  await page.waitForFunction(() => document.querySelector('#record-blurRange').textContent === '80.0');
  assert.equal(await control(1005).inputValue(), '80.0');
  assert.match(await fact('undo-state').innerText(), /hold is open/);
  await shot('spinner-drag');
  await page.mouse.up();
  await page.waitForFunction(() => /Parameter Change/.test(document.querySelector('#undo-state').textContent));
  assert.equal(await fact('track-Range').innerText(), '80.0 @ 0');
  assert.equal(await fact('undo-state').innerText(), '1 step, last “Parameter Change”');

  // Typed into the size edit: a spinner change, accepted by the entry.
  await control(1003).fill('7.5');
  await control(1003).press('Enter');
  await page.waitForFunction(() => document.querySelector('#record-blurSize').textContent === '7.5');
  assert.equal(await fact('undo-state').innerText(), '2 steps, last “Parameter Change”');
});

test('Browse lists the objects, the pick reaches the dialog, and Cancel restores the rest', async () => {
  await control(1002).click();
  const pick = page.locator('.win.pick');
  await pick.waitFor();
  assert.equal(await pick.locator('.caption-text').innerText(), 'Select Object');
  assert.deepEqual(await pick.locator('.item').allInnerTexts(),
    ['Sphere01', 'Box01', 'Sphere02', 'Box02', 'Sphere03']);
  assert.equal(await pick.locator('[data-pick="ok"]').innerText(), 'Ok');
  await pick.getByText('Box02', { exact: true }).click();
  await shot('pick-dialog');
  await pick.locator('[data-pick="ok"]').click();
  await page.waitForFunction(() => document.querySelector('[data-caption="Kestrion Control"] [data-id="1001"]').textContent === 'Box02');
  assert.equal(await fact('record-focalObjectName').innerText(), 'Box02', 'written at the pick');

  await control(1011).click();
  await page.waitForFunction(() => !document.querySelector('[data-caption="Kestrion Control"] [data-id="1026"]').disabled);
  await control(1026).fill('9');
  await control(1026).press('Enter');
  await control(2).click();
  await page.locator('#desk-empty').waitFor();
  assert.equal(await page.locator('#desk-empty-text').innerText(), 'The control dialog was closed with Cancel.');
  assert.equal(await fact('record-focalObjectName').innerText(), '(none)');
  assert.equal(await fact('record-sourceMode').innerText(), 'Whole Image (1010)');
  assert.equal(await fact('record-materialEffectsId').innerText(), '0');

  // Open again: the dialog shows the record as Cancel left it.
  await page.locator('#reopen').click();
  await control(1001).waitFor();
  assert.equal(await control(1001).innerText(), 'Undefined');
  await page.keyboard.press('Escape');
  await page.locator('#desk-empty').waitFor();
});

test('the about box opens over the dialog with the module\'s logo', async () => {
  await page.locator('#open-about').click();
  const about = page.locator('.win[data-caption="About Kestrion"]');
  await about.waitFor();
  for (const text of ['Kestrion', 'Version 1.1', 'www.kestrion.example']) {
    assert.equal(await about.getByText(text, { exact: true }).count(), 1, text);
  }
  const logo = about.locator('canvas');
  assert.deepEqual(await logo.evaluate((c) => [c.width, c.height]), [130, 32]);
  // Bitmap 104 drawn from its palette: a dusk gradient, light lettering.
  const colours = await logo.evaluate((c) => {
    const data = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
    const seen = new Set();
    for (let i = 0; i < data.length; i += 4) seen.add((data[i] << 16) | (data[i + 1] << 8) | data[i + 2]);
    return seen.size;
  });
  assert.ok(colours > 50, `${colours} colours in the logo`);
  assert.equal(await page.locator('.win[data-caption="Kestrion Control"]').evaluate((e) => e.classList.contains('behind')), true);
  await shot('about-box');
  await about.locator('[data-id="1"]').click();
  await about.waitFor({ state: 'detached' });
  assert.equal(await fact('last-dialog').innerText(), 'About box: 1');
});

test('requests without the secret, or for another host, are refused', async () => {
  const stranger = await context.newPage();
  await context.clearCookies();
  const refused = await stranger.goto(`${studio.origin}/`);
  assert.equal(refused.status(), 403);
  assert.match(await stranger.innerText('body'), /Forbidden/);
  await stranger.screenshot({ path: join(SCREENSHOTS, 'refused.png') });
  const script = await stranger.goto(`${studio.origin}/studio.js`);
  assert.equal(script.status(), 403);
  // DNS rebinding: the same server under another name.
  const rebound = await context.request.get(studio.url, { headers: { Host: 'evil.example' }, maxRedirects: 0 });
  assert.equal(rebound.status(), 403);
  await stranger.goto(studio.url);
  await stranger.locator('.win[data-caption="Kestrion Control"]').waitFor();
  await stranger.close();
});
