// The web page in headless Chromium, live: it starts at once where autoplay is
// allowed with the audio context running and no console error; screenshots near
// 10 s show the opening and near 45 s the main scene; Escape stops the sound and
// shows the end card, from which a click plays again. Where autoplay is refused the
// start card waits for a click; without Web Audio the Quillon message appears and the
// intro runs silent; without WebGL the page says so in plain words.
// Prints what it checks and exits 1 on the first failure.
//
//   node live_test.js --site DIR [--screenshot FILE]
//
// --screenshot keeps the main-scene screenshot (the README's picture of the page).
'use strict';
const fs = require('fs');
const { parseArguments, serveFolder, launchChromium, decodePng } = require('./browser.js');

const autoplay = '--autoplay-policy=no-user-gesture-required';

function check(condition, what) {
  if (!condition) throw new Error(what);
  console.log(`ok: ${what}`);
}

// A page that collects its console errors and uncaught exceptions.
async function openPage(browser, url, before) {
  const page = await browser.newPage();
  await page.setViewport({ width: 640, height: 480 });
  page.errors = [];
  page.on('console', (message) => {
    if (message.type() === 'error') page.errors.push(message.text());
  });
  page.on('pageerror', (error) => page.errors.push(error.message));
  if (before) await page.evaluateOnNewDocument(before);
  await page.goto(url);
  return page;
}

const pageState = (page) => page.evaluate(() => ({
  state: velmoraPage.state,
  audio: velmoraPage.audio ? velmoraPage.audio.state : null,
  drawn: velmoraPage.firstFrameAt !== null,
  messages: velmoraPage.messages,
  card: getComputedStyle(document.getElementById('card')).display !== 'none',
  message: getComputedStyle(document.getElementById('message')).display !== 'none'
    ? document.getElementById('message').innerText : '',
}));

// Polled on a timer: a hidden page gets no animation frames.
const waitForState = (page, state, timeout = 20000) =>
  page.waitForFunction((s) => velmoraPage.state === s, { timeout, polling: 100 }, state);

// Waits until the intro has run `seconds` since it started, then takes the page.
async function screenshotAt(page, seconds) {
  await page.waitForFunction((ms) => performance.now() - velmoraPage.startedAt >= ms,
    { timeout: seconds * 1000 + 30000, polling: 50 }, seconds * 1000);
  return page.screenshot({ type: 'png' });
}

// Share of pixels in a rectangle that satisfy `test` (r, g, b).
function share(picture, test, [left, top, right, bottom] = [0, 0, picture.width, picture.height]) {
  let count = 0;
  for (let y = top; y < bottom; ++y)
    for (let x = left; x < right; ++x) {
      const i = 4 * (y * picture.width + x);
      if (test(picture.rgba[i], picture.rgba[i + 1], picture.rgba[i + 2])) ++count;
    }
  return count / ((right - left) * (bottom - top));
}
const dark = (r, g, b) => Math.max(r, g, b) < 24;
const bright = (r, g, b) => Math.min(r, g, b) > 128;
const coloured = (r, g, b) => Math.max(r, g, b) - Math.min(r, g, b) > 60;

async function liveRun(url, options) {
  const browser = await launchChromium([autoplay]);
  try {
    const page = await openPage(browser, url);
    await waitForState(page, 'running');
    await page.waitForFunction(() => velmoraPage.firstFrameAt !== null, { timeout: 20000 });
    const state = await pageState(page);
    check(state.audio === 'running', 'with autoplay allowed the intro starts at once, sound running');

    // The opening: grey letters in the middle of a black screen.
    const opening = decodePng(await screenshotAt(page, 10));
    check(share(opening, dark) > 0.95 && share(opening, bright, [0, 190, 640, 290]) > 0.001 &&
          share(opening, coloured) < 0.001, 'near 10 s the opening: letters on black');
    // The ScriptProcessor node plays the ring, which holds music, at 44100 frames a
    // second (less what a loaded machine's late callbacks lose).
    const sound = await page.evaluate(() => {
      const audio = Module.velmoraAudio;
      const ring = Module.HEAP16.subarray(audio.ring >> 1, (audio.ring >> 1) + audio.frames * 2);
      return { rate: audio.handed / ((performance.now() - velmoraPage.startedAt) / 1000),
               audible: ring.some((v) => Math.abs(v) > 256) };
    });
    check(sound.audible && sound.rate > 30000 && sound.rate < 46000,
      `the music plays from the ring (${sound.rate.toFixed(0)} frames a second)`);
    // The main scene: the coloured background, the tube and the panels fill the screen.
    const mainShot = await screenshotAt(page, 45);
    const scene = decodePng(mainShot);
    check(share(scene, dark) < 0.2 && share(scene, coloured) > 0.2 &&
          share(scene, bright, [384, 0, 640, 64]) > 0.01, 'near 45 s the main scene');
    if (options.screenshot) fs.writeFileSync(options.screenshot, mainShot);

    // Any other key asks for full screen, for the page element with its black bars.
    await page.keyboard.press('KeyF');
    await page.waitForFunction(() => document.fullscreenElement !== null,
      { timeout: 5000, polling: 100 });
    check(await page.evaluate(() => document.fullscreenElement.id === 'page'),
      'a key asks for full screen');
    await page.evaluate(() => document.exitFullscreen());
    await page.waitForFunction(() => document.fullscreenElement === null,
      { timeout: 5000, polling: 100 });

    await page.keyboard.press('Escape');
    await waitForState(page, 'ended', 5000);
    let after = await pageState(page);
    check(after.card && after.audio === 'suspended', 'Escape stops the sound and shows the end card');
    await page.mouse.click(320, 240);
    await waitForState(page, 'running', 5000);
    await new Promise((resolve) => setTimeout(resolve, 1500));
    after = await pageState(page);
    check(after.audio === 'running' && !after.card, 'a click on the end card plays again');
    // Another tab in front hides the page: the sound stops at once, and the end card is
    // there when the page comes back.
    const other = await browser.newPage();
    await other.bringToFront();
    await page.waitForFunction(() => velmoraPage.audio.state === 'suspended',
      { timeout: 5000, polling: 100 });
    await page.bringToFront();
    await waitForState(page, 'ended', 5000);
    check((await pageState(page)).card, 'hiding the page stops the sound and ends the intro');
    await other.close();
    check(page.errors.length === 0, `no console errors (${page.errors.join('; ')})`);
    await page.close();

    // Without Web Audio: the native builds' message, then the intro without music.
    const silent = await openPage(browser, url, () => {
      delete window.AudioContext;
      delete window.webkitAudioContext;
    });
    await silent.waitForFunction(() => velmoraPage.firstFrameAt !== null, { timeout: 20000 });
    const quiet = await pageState(silent);
    check(quiet.state === 'running' && quiet.message.includes('Error during initialization of Quillon'),
      'without Web Audio the Quillon message, and the intro runs silent');
    await silent.close();
  } finally {
    await browser.close();
  }
}

async function startCard(url) {
  const browser = await launchChromium(['--autoplay-policy=document-user-activation-required']);
  try {
    const page = await openPage(browser, url);
    await waitForState(page, 'start');
    const before = await pageState(page);
    check(before.card && !before.drawn && before.audio === 'suspended',
      'where autoplay is refused the start card waits, silent');
    await page.mouse.click(320, 240);
    await page.waitForFunction(() => velmoraPage.firstFrameAt !== null, { timeout: 20000 });
    const after = await pageState(page);
    check(after.state === 'running' && after.audio === 'running' && !after.card,
      'a click on the start card starts the intro with sound');
    check(page.errors.length === 0, `no console errors (${page.errors.join('; ')})`);
  } finally {
    await browser.close();
  }
}

async function noWebGl(url) {
  const browser = await launchChromium([autoplay, '--disable-webgl']);
  try {
    const page = await openPage(browser, url);
    await waitForState(page, 'failed');
    const state = await pageState(page);
    check(/WebGL/.test(state.message) && !state.card, `without WebGL the plain message: "${state.message}"`);
  } finally {
    await browser.close();
  }
}

async function main() {
  const options = parseArguments(process.argv.slice(2), { screenshot: '' });
  const server = await serveFolder(options.site);
  try {
    await liveRun(server.url, options);
    await startCard(server.url);
    await noWebGl(server.url);
  } finally {
    await server.close();
  }
  console.log('live: every check passed');
}

main().catch((error) => {
  console.error(`live: FAILED: ${error.message}`);
  process.exit(1);
});
