// The studio's page in Debian's Chromium, driven as a person drives it:
// each test starts `kestrion studio` on a render of the demo scene (a
// frame, or a shot of three), opens the address it prints and uses the
// viewer and the module's own control dialog.
//
//   KESTRION     the built kestrion, KESTRION.FLT beside it
//   SCREENSHOTS  where the screenshots go
import { test, before, after, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import { execFile, spawn } from 'node:child_process';
import { copyFile, mkdtemp, mkdir, readFile, rm } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { createInterface } from 'node:readline';
import { promisify } from 'node:util';
import { inflateSync } from 'node:zlib';
import { chromium } from 'playwright-core';

const CHROMIUM_FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic',
  '--no-first-run', '--disable-background-networking', '--disable-component-update',
  '--disable-sync', '--force-color-profile=srgb'];
const KESTRION = process.env.KESTRION;
const SCREENSHOTS = process.env.SCREENSHOTS || join(tmpdir(), 'kestrion-studio-screenshots');
const TIMEOUT = 15000;
// The demo scene's render at this size: object 1 the red sphere at the
// left, 6 the ground.
const WIDTH = 480;
const HEIGHT = 270;
const RED_SPHERE = { x: 130, y: 150 };
const GROUND = { x: 240, y: 250 };

const run = promisify(execFile);
let work;
let profile;
let context;
let studio;
let page;
// What the pages threw, checked after each test (an assertion in the
// event handler itself would escape the test).
let pageErrors = [];

// Starts the studio and waits for the address on its first line.
function startStudio(args) {
  const child = spawn(KESTRION, ['studio', ...args], { stdio: ['ignore', 'pipe', 'inherit'], cwd: work });
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

// The studio on `args`, its page open on the control dialog.
async function openStudio(...args) {
  studio = await startStudio(args);
  page = await context.newPage();
  page.on('pageerror', (error) => pageErrors.push(error.message));
  await page.goto(studio.url);
  await page.locator('.win[data-caption="Kestrion Control"]').waitFor({ timeout: TIMEOUT });
}

before(async () => {
  await mkdir(SCREENSHOTS, { recursive: true });
  work = await mkdtemp(join(tmpdir(), 'kestrion-studio-e2e-'));
  await run(KESTRION, ['demo', '--original', join(work, 'scene.exr'), '--width', String(WIDTH),
    '--height', String(HEIGHT), '-o', join(work, 'demo.png'), '-q']);
  for (const frame of ['0001', '0002', '0003']) {
    await copyFile(join(work, 'scene.exr'), join(work, `shot.${frame}.exr`));
  }
  profile = await mkdtemp(join(tmpdir(), 'kestrion-studio-profile-'));
  context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    args: CHROMIUM_FLAGS,
    viewport: { width: 1440, height: 900 },
  });
});

after(async () => {
  await context.close();
  await rm(profile, { recursive: true, force: true });
  await rm(work, { recursive: true, force: true });
});

afterEach(async () => {
  const thrown = pageErrors;
  pageErrors = [];
  if (studio) {
    await page.close();
    await context.clearCookies();
    const ended = await stopStudio(studio);
    studio = null;
    assert.deepEqual(ended, { code: 0, signal: null }, 'Ctrl-C ends the studio cleanly');
  }
  assert.deepEqual(thrown, [], 'the page threw nothing');
});

const control = (id) => page.locator(`.win[data-caption="Kestrion Control"] [data-id="${id}"]`);
const fact = (id) => page.locator(`#${id}`);
const shot = (name) => page.screenshot({ path: join(SCREENSHOTS, `${name}.png`) });
const text = async (locator) => (await locator.innerText()).trim();

// A control's box relative to its dialog's client area, in pixels.
async function placeOf(locator) {
  return locator.evaluate((element) => {
    const client = element.closest('.client').getBoundingClientRect();
    const box = element.getBoundingClientRect();
    return [box.left - client.left, box.top - client.top, box.width, box.height].map(Math.round);
  });
}

// What the viewer shows: the image's kind, frame and version.
const shown = () => page.locator('#image').evaluate((c) => ({
  kind: c.dataset.kind, frame: Number(c.dataset.frame), version: Number(c.dataset.version) }));

// Waits for a finished preview newer than `version` on the viewer.
async function previewAfter(version) {
  await page.waitForFunction((v) => {
    const canvas = document.getElementById('image');
    return canvas.dataset.kind === 'result' && Number(canvas.dataset.version) > v &&
      studio.state.host.studio.preview.status === 'done';
  }, version, { timeout: TIMEOUT });
  return shown();
}

// The canvas's pixels as drawn (alpha left out: it is drawn opaque).
const drawnRgb = () => page.locator('#image').evaluate((c) => {
  const data = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
  const rgb = [];
  for (let i = 0; i < data.length; i += 4) rgb.push(data[i], data[i + 1], data[i + 2]);
  return rgb;
});

// The viewport point over the middle of image pixel (x, y) at the current view.
const pointOf = (pixel) => page.evaluate(({ x, y }) => {
  const box = document.getElementById('viewport').getBoundingClientRect();
  const view = studio.view;
  return { x: box.left + view.x + (x + 0.5) * view.scale, y: box.top + view.y + (y + 0.5) * view.scale };
}, pixel);

// Points at image pixel (x, y) and returns the readout once it is about it.
async function readoutAt(pixel) {
  const point = await pointOf(pixel);
  await page.mouse.move(point.x, point.y);
  await page.waitForFunction(({ x, y }) => document.getElementById('readout').textContent.startsWith(`x ${x}  y ${y}`),
    pixel, { timeout: TIMEOUT });
  return text(page.locator('#readout'));
}

// A press on a spinner, a drag upwards by `pixels` and the release.
async function dragSpinner(id, pixels, atHalfway = async () => {}) {
  const box = await control(id).boundingBox();
  const x = box.x + box.width / 2;
  const y = box.y + box.height / 2;
  await page.mouse.move(x, y);
  await page.mouse.down();
  await page.mouse.move(x, y - pixels / 2, { steps: 10 });
  await page.mouse.move(x, y - pixels, { steps: 10 });
  await atHalfway();
  await page.mouse.up();
}

async function typeInto(id, value) {
  await control(id).fill(value);
  await control(id).press('Enter');
}

// An 8-bit RGB or RGBA PNG's samples, as it stores them.
function pngSamples(file) {
  assert.equal(file.subarray(1, 4).toString(), 'PNG');
  let offset = 8;
  let width = 0;
  let height = 0;
  let channels = 0;
  const data = [];
  while (offset < file.length) {
    const length = file.readUInt32BE(offset);
    const type = file.subarray(offset + 4, offset + 8).toString();
    const body = file.subarray(offset + 8, offset + 8 + length);
    if (type === 'IHDR') {
      width = body.readUInt32BE(0);
      height = body.readUInt32BE(4);
      assert.equal(body[8], 8, 'eight bits a sample');
      assert.equal(body[12], 0, 'not interlaced');
      channels = { 2: 3, 6: 4 }[body[9]];
    } else if (type === 'IDAT') {
      data.push(body);
    }
    offset += 12 + length;
  }
  const raw = inflateSync(Buffer.concat(data));
  const stride = width * channels;
  const out = Buffer.alloc(stride * height);
  for (let y = 0; y < height; ++y) {
    const filter = raw[y * (stride + 1)];
    const row = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    for (let i = 0; i < stride; ++i) {
      const a = i >= channels ? out[y * stride + i - channels] : 0;
      const b = y > 0 ? out[(y - 1) * stride + i] : 0;
      const c = y > 0 && i >= channels ? out[(y - 1) * stride + i - channels] : 0;
      let p = a;
      if (filter === 0) p = 0;
      else if (filter === 2) p = b;
      else if (filter === 3) p = (a + b) >> 1;
      else if (filter === 4) {
        const pa = Math.abs(b - c);
        const pb = Math.abs(a - c);
        const pc = Math.abs(a + b - 2 * c);
        p = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
      }
      out[y * stride + i] = (row[i] + p) & 0xff;
    }
  }
  return { width, height, channels, samples: out };
}

// The words of a command line as the studio quotes them (POSIX single quotes).
function shellWords(line) {
  const words = [];
  for (const match of line.matchAll(/'((?:[^']|'\\'')*)'|(\S+)/g)) {
    words.push(match[1] !== undefined ? match[1].replaceAll("'\\''", "'") : match[2]);
  }
  return words;
}

test('the control dialog shows its template: texts, places and states', async () => {
  await openStudio('scene.exr');
  assert.equal(page.url(), `${studio.origin}/`, 'the secret left the address bar');
  const dialog = page.locator('.win[data-caption="Kestrion Control"]');
  await assert.doesNotReject(dialog.locator('.caption-text', { hasText: 'Kestrion Control' }).waitFor());
  const texts = {
    1010: 'Whole Image', 1011: 'Material Effects Channel', 1012: 'Object Channel',
    1001: 'Undefined', 1002: 'Browse...', 1: 'OK', 2: 'Cancel',
  };
  for (const [id, want] of Object.entries(texts)) assert.equal(await text(control(id)), want, `control ${id}`);
  for (const want of ['Kestrion, Version 1.1', 'Source', 'Object', 'Blur range:', 'Blur size:']) {
    assert.equal(await dialog.getByText(want, { exact: true }).count(), 1, want);
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
  // Without a focus the viewer shows the original and says why.
  await page.locator('#viewer-note:not([hidden])').waitFor();
  assert.match(await text(page.locator('#viewer-note')), /no focal object/);
  assert.equal((await shown()).kind, 'original');
  await shot('control-dialog');
});

test('a click on Object Channel enables the ID field as the module decides', async () => {
  await openStudio('scene.exr');
  await control(1012).click();
  await page.waitForFunction(() => !document.querySelector('[data-caption="Kestrion Control"] [data-id="1027"]').disabled);
  assert.equal(await control(1026).isDisabled(), true, 'the material ID stays disabled');
  assert.equal(await control(1012).getAttribute('aria-checked'), 'true');
  assert.equal(await control(1010).getAttribute('aria-checked'), 'false');
  assert.equal(await text(fact('record-sourceMode')), 'Whole Image (1010)', 'stored on OK only');
  await typeInto(1027, '42');
  await control(1).click();
  await page.locator('#desk-empty').waitFor();
  assert.equal(await text(fact('record-sourceMode')), 'Object Channel (1012)');
  assert.equal(await text(fact('record-objectChannelId')), '42');
});

test('a spinner drag changes the Range, in one undoable step, and the preview with it', async () => {
  await openStudio('scene.exr', '--focus-object', '3', '--size', '8');
  const first = await previewAfter(0);
  const before = await drawnRgb();
  await dragSpinner(1006, 300, async () => {
    await page.waitForFunction(() => document.querySelector('#record-blurRange').textContent === '80.0');
    assert.equal(await control(1005).inputValue(), '80.0');
    assert.match(await text(fact('undo-state')), /hold is open/);
    await shot('spinner-drag');
  });
  await page.waitForFunction(() => /Parameter Change/.test(document.querySelector('#undo-state').textContent));
  assert.equal(await text(fact('track-Range')), '80.0 @ 0');
  assert.equal(await text(fact('undo-state')), '1 step, last “Parameter Change”');
  // The preview follows: filtered at the new range, and different.
  await page.waitForFunction(() => studio.images.result && studio.images.result.range === 80);
  const after = await previewAfter(first.version);
  assert.match(await text(fact('preview-state')), /range 80\.0, size 8\.0/);
  assert.notDeepEqual(await drawnRgb(), before, 'a longer range blurs less');
  assert.equal(after.frame, 0);

  // Typed into the size edit: a spinner change, accepted by the entry.
  await typeInto(1003, '7.5');
  await page.waitForFunction(() => document.querySelector('#record-blurSize').textContent === '7.5');
  assert.equal(await text(fact('undo-state')), '2 steps, last “Parameter Change”');
  await page.waitForFunction(() => studio.images.result.size === 7.5);
});

test('a click on the image focuses on the depth under it, a Ctrl-click on the object', async () => {
  await openStudio('scene.exr', '--range', '2', '--size', '8');
  await page.locator('#viewer-note:not([hidden])').waitFor();
  const ground = await readoutAt(GROUND);
  assert.match(ground, /object 6/);
  const depth = Number(/depth ([0-9.]+)/.exec(ground)[1]);
  let point = await pointOf(GROUND);
  await page.mouse.click(point.x, point.y);
  await page.waitForFunction(() => document.querySelector('[data-caption="Kestrion Control"] [data-id="1001"]').textContent === 'Focus');
  assert.equal(await text(fact('record-focalObjectName')), 'Focus', 'picked through Browse...');
  const focused = await previewAfter(0);
  assert.ok(await page.locator('#viewer-note').isHidden());
  const here = await text(fact('focus-here'));
  assert.match(here, /keyed here/);
  assert.ok(Math.abs(Number(/depth ([0-9.]+)/.exec(here)[1]) - depth) < 1e-3, `${here}, the ground at ${depth}`);
  // The readout under the pointer: in focus there, radius 0.
  await page.mouse.move(point.x + 40, point.y);
  assert.match(await readoutAt(GROUND), /radius 0 /);
  await shot('click-to-focus');

  // With Ctrl, on the object under the pointer: the red sphere, object 1.
  assert.match(await readoutAt(RED_SPHERE), /object 1 /);
  point = await pointOf(RED_SPHERE);
  await page.keyboard.down('Control');
  await page.mouse.click(point.x, point.y);
  await page.keyboard.up('Control');
  await page.waitForFunction(() => document.querySelector('[data-caption="Kestrion Control"] [data-id="1001"]').textContent === 'Object 1');
  await previewAfter(focused.version);
  // Focused at the median depth of its pixels: the sphere sharper than the
  // ground in front of it, which is blurred now.
  const radius = (readout) => Number(/radius (\d+)/.exec(readout)[1]);
  await page.mouse.move(point.x + 1, point.y);
  const sphereRadius = radius(await readoutAt(RED_SPHERE));
  const groundRadius = radius(await readoutAt(GROUND));
  assert.ok(groundRadius > 0 && sphereRadius < groundRadius, `sphere ${sphereRadius}, ground ${groundRadius}`);
  assert.match(await text(fact('focus-here')), /^depth [0-9.]+$/);

  // Looking: A/B and the focus map over the frame.
  await page.locator('#viewport').focus();
  await page.keyboard.press('a');
  assert.equal((await shown()).kind, 'original');
  await page.keyboard.press('b');
  assert.equal((await shown()).kind, 'result');
  await page.locator('#toggle-map').click();
  await page.locator('#overlay:not([hidden])').waitFor();
  assert.equal(await page.locator('#overlay').evaluate((c) => [c.width, c.height].join('x')), `${WIDTH}x${HEIGHT}`);
  await page.locator('#view-one').click();
  assert.match(await text(page.locator('#zoom')), /^100 %/);
  await shot('focus-map');
});

test('Browse lists the objects, the pick reaches the dialog, and Cancel restores the rest', async () => {
  await openStudio('scene.exr');
  await control(1002).click();
  const pick = page.locator('.win.pick');
  await pick.waitFor();
  assert.equal(await text(pick.locator('.caption-text')), 'Select Object');
  assert.deepEqual(await pick.locator('.item').allInnerTexts(),
    ['Focus', 'Object 1', 'Object 2', 'Object 3', 'Object 4', 'Object 5', 'Object 6']);
  assert.equal(await text(pick.locator('[data-pick="ok"]')), 'Ok');
  await pick.getByText('Object 4', { exact: true }).click();
  await shot('pick-dialog');
  await pick.locator('[data-pick="ok"]').click();
  await page.waitForFunction(() => document.querySelector('[data-caption="Kestrion Control"] [data-id="1001"]').textContent === 'Object 4');
  assert.equal(await text(fact('record-focalObjectName')), 'Object 4', 'written at the pick');
  await previewAfter(0);

  await control(1011).click();
  await page.waitForFunction(() => !document.querySelector('[data-caption="Kestrion Control"] [data-id="1026"]').disabled);
  await typeInto(1026, '9');
  await control(2).click();
  await page.locator('#desk-empty').waitFor();
  assert.equal(await text(page.locator('#desk-empty-text')), 'The control dialog was closed with Cancel.');
  assert.equal(await text(fact('record-focalObjectName')), '(none)');
  assert.equal(await text(fact('record-sourceMode')), 'Whole Image (1010)');
  assert.equal(await text(fact('record-materialEffectsId')), '0');
  await page.locator('#viewer-note:not([hidden])').waitFor();

  // Open again: the dialog shows the record as Cancel left it.
  await page.locator('#reopen').click();
  await control(1001).waitFor();
  assert.equal(await text(control(1001)), 'Undefined');
  await page.keyboard.press('Escape');
  await page.locator('#desk-empty').waitFor();
});

test('scrubbing a shot: keys set at frames, the spinners and the preview follow the slider', async () => {
  await openStudio('shot.####.exr', '--focus-object', '3', '--size', '8');
  await previewAfter(0);
  assert.match(await text(page.locator('#frame-label')), /^Frame 1 +\(1–3\)$/);
  const frameIs = (n) => page.waitForFunction((f) => studio.state.host.studio.frame === f &&
    studio.state.host.studio.preview.status === 'done' && document.getElementById('image').dataset.frame === String(f), n,
  { timeout: TIMEOUT });

  await typeInto(1005, '60');  // a key at frame 1
  await page.waitForFunction(() => studio.images.result.range === 60);
  await page.locator('#frame-last').click();  // the end of the shot
  await frameIs(3);
  assert.equal(await control(1005).inputValue(), '60.0', 'one key holds');
  await typeInto(1005, '80');  // a key at frame 3
  await page.waitForFunction(() => studio.images.result.frame === 3 && studio.images.result.range === 80);
  assert.equal(await page.locator('#keys .k-range').count(), 2);
  // Frames as the tracks' keys are shown (render keys the start value at 0).
  assert.match(await text(fact('track-Range')), /60\.0 @ 1, 80\.0 @ 3$/);

  // Back with the keyboard: the dialog hears of each time change.
  await page.locator('#viewport').focus();
  await page.keyboard.press('Home');
  await frameIs(1);
  assert.equal(await control(1005).inputValue(), '60.0');
  await page.keyboard.press('ArrowRight');
  await frameIs(2);
  assert.equal(await control(1005).inputValue(), '70.0', 'between the keys');
  await page.waitForFunction(() => studio.images.result.frame === 2 && studio.images.result.range === 70);
  await shot('shot-scrub');
  // The slider itself.
  await page.locator('#frame-slider').fill('2');
  await frameIs(3);
  assert.equal(await control(1005).inputValue(), '80.0');
});

test('Save writes the settings and the command that writes the preview, bit for bit', async () => {
  const saved = join(work, 'saved.json');
  await openStudio('scene.exr', '-o', 'out.png', '--bit-depth', '8', '--save', saved,
    '--focus-object', '3', '--size', '8');
  const first = await previewAfter(0);
  await dragSpinner(1006, 100);  // Range 50 -> 60, live
  // Object Channel 3: pending in the dialog, used by the preview and saved.
  await control(1012).click();
  await typeInto(1027, '3');
  await page.waitForFunction(() => studio.images.result.source === 'object:3' && studio.images.result.range === 60);
  const preview = await previewAfter(first.version);
  await page.locator('#save').click();
  await page.waitForFunction(() => document.getElementById('save-state').dataset.current === 'true');
  const command = await text(page.locator('#command'));
  assert.match(command, /render scene\.exr -o out\.png --shot \S*saved\.json --bit-depth 8/);
  const settings = JSON.parse(await readFile(saved, 'utf8'));
  assert.equal(settings.source, 'object:3');
  assert.equal(settings.focusObject, 3);
  await shot('hand-off');

  const [program, ...args] = shellWords(command);
  await run(program, args, { cwd: work });
  const png = pngSamples(await readFile(join(work, 'out.png')));
  assert.deepEqual([png.width, png.height], [WIDTH, HEIGHT]);
  const bytes = await page.evaluate(() => Array.from(studio.images.result.bytes));
  assert.equal((await shown()).version, preview.version);
  const rgba = png.channels === 4 ? png.samples : null;
  if (rgba) assert.ok(Buffer.from(bytes).equals(rgba), 'the preview\'s bytes are the PNG\'s');
  const rgb = [];
  for (let i = 0; i < png.samples.length; i += png.channels) rgb.push(...png.samples.subarray(i, i + 3));
  assert.ok(Buffer.from(await drawnRgb()).equals(Buffer.from(rgb)), 'what is drawn is the PNG\'s colour');
});

test('Layered edges: the switch filters the preview again, in layers, and the hand-off carries it', async () => {
  await openStudio('scene.exr', '-o', 'layered.png', '--bit-depth', '8', '--layered',
    '--focus-object', '3', '--size', '8');
  const box = page.locator('#layered');
  const layersShown = () => page.evaluate(() => studio.images.result.layers);
  const commandWords = async () => shellWords(await text(page.locator('#command')));
  const first = await previewAfter(0);
  assert.equal(await box.isChecked(), true, '--layered starts it checked');
  assert.ok(await layersShown() > 1);
  assert.match(await text(fact('preview-state')), new RegExp(`; ${await layersShown()} layers, \\d+ passes, \\d+ ms$`));
  assert.equal((await commandWords()).filter((w) => w === '--layered').length, 1,
    'the studio\'s own --layered is not repeated');

  // Unchecked: the module's own blur, filtered again.
  await box.uncheck();
  await page.waitForFunction(() => studio.images.result.layered === false);
  const plain = await previewAfter(first.version);
  const plainRgb = await drawnRgb();
  assert.match(await text(fact('preview-state')), /size 8\.0, whole; \d+ passes, \d+ ms$/);
  assert.ok(!(await commandWords()).includes('--layered'));

  // Checked again: in layers, and the command renders what is drawn.
  await box.check();
  await page.waitForFunction(() => studio.images.result.layered === true);
  const layered = await previewAfter(plain.version);
  assert.equal(await box.isChecked(), true);
  assert.match(await text(fact('preview-state')), / layers, \d+ passes/);
  assert.notDeepEqual(await drawnRgb(), plainRgb, 'layered edges differ from the module\'s own blur');
  await shot('layered-edges');
  const [program, ...args] = await commandWords();
  assert.ok(args.includes('--layered'));
  await run(program, args, { cwd: work });
  const png = pngSamples(await readFile(join(work, 'layered.png')));
  const rgb = [];
  for (let i = 0; i < png.samples.length; i += png.channels) rgb.push(...png.samples.subarray(i, i + 3));
  assert.equal((await shown()).version, layered.version);
  assert.ok(Buffer.from(await drawnRgb()).equals(Buffer.from(rgb)), 'the command writes what is drawn');
});

// The sum of the result's bytes as the page has them, to see it change.
const resultSum = () => page.evaluate(() => studio.images.result.bytes.reduce((a, b) => a + b, 0));

test('the view menu shows the preview through another view and back; Save keeps it', async () => {
  const here = new URL('.', import.meta.url).pathname;
  await copyFile(join(here, '../../support/small_view.ocio'), join(work, 'small.ocio'));
  const saved = join(work, 'view.json');
  await openStudio('scene.exr', '-o', 'viewed.png', '--bit-depth', '8', '--save', saved,
    '--ocio-config', 'small.ocio', '--focus-object', '3', '--size', '8');
  const first = await previewAfter(0);
  await page.waitForFunction(() => studio.state.host.studio.view.view === 'Standard');
  const standard = await resultSum();
  const drawnSum = async () => (await drawnRgb()).reduce((a, b) => a + b, 0);
  const drawnStandard = await drawnSum();
  const originalBefore = await page.evaluate(() => studio.images.original.bytes.reduce((a, b) => a + b, 0));
  assert.deepEqual(await page.locator('#view-view option').allTextContents(), ['Standard', 'Dim']);

  await page.selectOption('#view-view', 'Dim');
  await page.waitForFunction((sum) => studio.state.host.studio.view.view === 'Dim' &&
    studio.images.result.bytes.reduce((a, b) => a + b, 0) < sum, standard, { timeout: TIMEOUT });
  // The pixels are encoded again; the frame is not filtered again.
  assert.equal((await shown()).version, first.version);
  const originalDim = await page.evaluate(() => studio.images.original.bytes.reduce((a, b) => a + b, 0));
  assert.ok(originalDim < originalBefore, 'the original is shown through the view too');
  assert.ok(await drawnSum() < drawnStandard, 'the canvas shows the new view');
  await shot('view-dim');

  // Save: the settings file holds the view, and its command writes the preview's bytes.
  await page.locator('#save').click();
  await page.waitForFunction(() => document.getElementById('save-state').dataset.current === 'true');
  const settings = JSON.parse(await readFile(saved, 'utf8'));
  assert.equal(settings.view.view, 'Dim');
  assert.equal(settings.view.display, 'sRGB');
  const [program, ...args] = shellWords(await text(page.locator('#command')));
  await run(program, args, { cwd: work });
  const png = pngSamples(await readFile(join(work, 'viewed.png')));
  const rgb = [];
  for (let i = 0; i < png.samples.length; i += png.channels) rgb.push(...png.samples.subarray(i, i + 3));
  assert.ok(Buffer.from(await drawnRgb()).equals(Buffer.from(rgb)), 'the command writes what is drawn');

  await page.selectOption('#view-view', 'Standard');
  await page.waitForFunction((sum) => studio.state.host.studio.view.view === 'Standard' &&
    studio.images.result.bytes.reduce((a, b) => a + b, 0) === sum, standard, { timeout: TIMEOUT });
  assert.equal(await drawnSum(), drawnStandard, 'and back');
});

test('the about box opens over the dialog with the module\'s logo', async () => {
  await openStudio('scene.exr');
  await page.locator('#open-about').click();
  const about = page.locator('.win[data-caption="About Kestrion"]');
  await about.waitFor();
  for (const want of ['Kestrion', 'Version 1.1', 'www.kestrion.example']) {
    assert.equal(await about.getByText(want, { exact: true }).count(), 1, want);
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
  assert.equal(await text(fact('last-dialog')), 'About box: 1');
});

test('the page is ES modules served with the script type, the control IDs among them', async () => {
  await openStudio('scene.exr');
  const served = await page.evaluate(async () => {
    const answers = {};
    for (const file of ['main.js', 'desk.js', 'viewer.js', 'control_ids.js']) {
      const answer = await fetch(`/${file}`);
      answers[file] = { status: answer.status, type: answer.headers.get('content-type'), text: await answer.text() };
    }
    return answers;
  });
  for (const [file, answer] of Object.entries(served)) {
    assert.equal(answer.status, 200, file);
    assert.match(answer.type, /^text\/javascript/, file);
  }
  // Generated from the module's header: the IDs the dialog really has.
  assert.match(served['control_ids.js'].text, /export const IDC_BROWSE = 1002;/);
  assert.match(served['control_ids.js'].text, /export const IDC_OBJECT_ID_EDIT = 1027;/);
  assert.match(served['control_ids.js'].text, /export const SOURCE_OBJECT_CHANNEL = 1012;/);
  assert.equal(await page.evaluate(() => typeof window.studio.state), 'object', 'the state is readable');
  const frozen = await page.evaluate(() => {
    'use strict';
    try {
      window.studio.extra = 1;
      return false;
    } catch {
      return true;
    }
  });
  assert.equal(frozen, true, 'the page exposes no mutable global');
});

test('the focus map button follows the studio: after a reload, on two pages, and not when unsent', async () => {
  await openStudio('scene.exr', '--focus-object', '3', '--size', '8');
  const pressed = (p) => p.locator('#toggle-map').getAttribute('aria-pressed');
  const overlayIs = (p, on) => p.waitForFunction((want) => window.studio.state &&
    window.studio.state.host.studio.overlay === want &&
    document.getElementById('toggle-map').getAttribute('aria-pressed') === String(want), on, { timeout: TIMEOUT });
  await previewAfter(0);
  assert.equal(await pressed(page), 'false');
  await page.locator('#toggle-map').click();
  await overlayIs(page, true);
  await page.locator('#overlay:not([hidden])').waitFor({ timeout: TIMEOUT });

  // A second page opens with the overlay on and its map drawn.
  const second = await context.newPage();
  await second.goto(studio.url);
  await second.locator('.win[data-caption="Kestrion Control"]').waitFor({ timeout: TIMEOUT });
  await overlayIs(second, true);
  await second.locator('#overlay:not([hidden])').waitFor({ timeout: TIMEOUT });
  // Turned off there, it is off here too.
  await second.keyboard.press('m');
  await overlayIs(second, false);
  await overlayIs(page, false);
  assert.equal(await page.locator('#overlay').isHidden(), true);

  // On again, then a reload: still on.
  await page.locator('#toggle-map').click();
  await overlayIs(page, true);
  await overlayIs(second, true);
  await page.reload();
  await page.locator('.win[data-caption="Kestrion Control"]').waitFor({ timeout: TIMEOUT });
  await overlayIs(page, true);
  await page.locator('#overlay:not([hidden])').waitFor({ timeout: TIMEOUT });
  await shot('focus-map-two-pages');
  await second.close();

  // With the studio gone the request cannot be sent: the button stays.
  const ended = await stopStudio(studio);
  studio = null;
  assert.deepEqual(ended, { code: 0, signal: null });
  await page.locator('#link[data-state="closed"]').waitFor({ timeout: TIMEOUT });
  await page.locator('#toggle-map').click();
  assert.equal(await pressed(page), 'true', 'an unsent request flips nothing');
  assert.match(await text(page.locator('#status-text')), /not sent/);
  await page.close();
  await context.clearCookies();
});

test('requests without the secret, or for another host, are refused', async () => {
  await openStudio('scene.exr');
  const stranger = await context.newPage();
  await context.clearCookies();
  const refused = await stranger.goto(`${studio.origin}/`);
  assert.equal(refused.status(), 403);
  assert.match(await stranger.innerText('body'), /Forbidden/);
  await stranger.screenshot({ path: join(SCREENSHOTS, 'refused.png') });
  for (const file of ['main.js', 'control_ids.js']) {
    const script = await stranger.goto(`${studio.origin}/${file}`);
    assert.equal(script.status(), 403, file);
  }
  // DNS rebinding: the same server under another name.
  const rebound = await context.request.get(studio.url, { headers: { Host: 'evil.example' }, maxRedirects: 0 });
  assert.equal(rebound.status(), 403);
  await stranger.goto(studio.url);
  await stranger.locator('.win[data-caption="Kestrion Control"]').waitFor();
  await stranger.close();
});
