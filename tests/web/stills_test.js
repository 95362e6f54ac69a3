// Stills of the web build against the native build: for each moment, the page's
// still mode (index.html?at=T) in headless Chromium and velmora-capture --at draw
// the same frame; the two pictures must agree within what two software renderers'
// rounding allows: a mean absolute difference of at most 2 levels in each of red,
// green and blue, and at least 99% of pixels with every channel within 16 levels.
// Prints the figures per moment and exits 1 when any moment fails.
//
//   node stills_test.js --site DIR --capture PATH [--times 8,33.7,36,70] [--keep DIR]
//
// --keep leaves both pictures of every moment in DIR (web-T.png, native-T.png).
'use strict';
const { execFileSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { parseArguments, serveFolder, launchChromium, decodePng, comparePictures } = require('./browser.js');

const meanLimit = 2;
const withinLimit = 0.99;
const pageTimeoutMs = 150000;

// The frame velmora-capture writes for a moment at 60 frames a second: the nearest.
function captureFrame(seconds) {
  return Math.floor(Math.round(Number(seconds) * 1000) * 60 / 1000 + 0.5);
}

function nativeStills(capture, times, folder) {
  try {
    execFileSync(capture, ['--frames', folder, '--at', times.join(',')],
      { stdio: ['ignore', 'ignore', 'pipe'], timeout: 300000 });
  } catch (error) {
    throw new Error(`velmora-capture failed: ${String(error.stderr || error.message).trim()}`);
  }
  const stills = {};
  for (const t of times) {
    const name = `frame-${String(captureFrame(t)).padStart(6, '0')}.png`;
    stills[t] = fs.readFileSync(path.join(folder, name));
  }
  return stills;
}

async function webStill(browser, url, seconds) {
  const page = await browser.newPage();
  const problems = [];
  page.on('pageerror', (error) => problems.push(error.message));
  try {
    await page.goto(`${url}index.html?at=${seconds}`);
    await page.waitForFunction(() => document.title.startsWith('ready'), { timeout: pageTimeoutMs });
    const data = await page.evaluate(() => {
      const canvas = document.getElementById('screen');
      return canvas.width === 640 && canvas.height === 480 ? canvas.toDataURL('image/png') : null;
    });
    if (!data) throw new Error('the canvas is not 640 x 480');
    return Buffer.from(data.slice(data.indexOf(',') + 1), 'base64');
  } catch (error) {
    throw new Error(`the still at ${seconds} s: ${error.message}` +
      (problems.length ? ` (page errors: ${problems.join('; ')})` : ''));
  } finally {
    await page.close();
  }
}

async function main() {
  const options = parseArguments(process.argv.slice(2), { capture: '', times: '8,33.7,36,70', keep: '' });
  if (!options.capture) throw new Error('--capture is needed');
  options.times = options.times.split(',');
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-stills-'));
  const server = await serveFolder(options.site);
  let browser = null;
  let failed = false;
  try {
    const native = nativeStills(options.capture, options.times, work);
    browser = await launchChromium();
    console.log('moment    mean |R-R| |G-G| |B-B|   within 16   result');
    for (const t of options.times) {
      const web = await webStill(browser, server.url, t);
      if (options.keep) {
        fs.mkdirSync(options.keep, { recursive: true });
        fs.writeFileSync(path.join(options.keep, `web-${t}.png`), web);
        fs.writeFileSync(path.join(options.keep, `native-${t}.png`), native[t]);
      }
      const { meanAbs, within } = comparePictures(decodePng(web), decodePng(native[t]));
      const ok = meanAbs.every((m) => m <= meanLimit) && within >= withinLimit;
      failed = failed || !ok;
      console.log(`${(t + ' s').padEnd(9)} ${meanAbs.map((m) => m.toFixed(3).padStart(6)).join(' ')}` +
        `   ${(within * 100).toFixed(3).padStart(8)}%   ${ok ? 'ok' : 'FAILED'}`);
    }
  } finally {
    if (browser) await browser.close();
    await server.close();
    fs.rmSync(work, { recursive: true, force: true });
  }
  console.log(failed ? 'stills: some moments differ too much' : 'stills: every moment agrees');
  process.exit(failed ? 1 : 0);
}

main().catch((error) => {
  console.error(`stills: ${error.message}`);
  process.exit(1);
});
