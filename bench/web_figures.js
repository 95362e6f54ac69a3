// Figures of the web build (a benchmark, not a test): what a visitor downloads,
// gzip-compressed, and the time from navigation to the first drawn frame in headless
// Chromium, for the first visit in a fresh browser and the median of later visits.
//
//   node bench/web_figures.js --site DIR [--visits N]
'use strict';
const fs = require('fs');
const path = require('path');
const zlib = require('zlib');
const { parseArguments, serveFolder, launchChromium } = require(path.join(__dirname, '../tests/web/browser.js'));

// The files the page itself loads (the still mode's are for tests only).
function downloadSizes(site) {
  let total = 0;
  for (const name of ['index.html', 'velmora.js', 'velmora.wasm']) {
    const bytes = fs.readFileSync(path.join(site, name));
    const packed = zlib.gzipSync(bytes, { level: 9 }).length;
    total += packed;
    console.log(`${name.padEnd(14)} ${String(bytes.length).padStart(9)} bytes, ` +
      `${String(packed).padStart(8)} gzip-compressed`);
  }
  console.log(`download       ${(total / 1024).toFixed(1)} KB gzip-compressed in total`);
}

async function firstFrame(browser, url) {
  const page = await browser.newPage();
  try {
    await page.goto(url);
    await page.waitForFunction(() => velmoraPage.firstFrameAt !== null, { timeout: 30000 });
    return await page.evaluate(() => velmoraPage.firstFrameAt);
  } finally {
    await page.close();
  }
}

async function main() {
  const options = parseArguments(process.argv.slice(2), { visits: '5' });
  downloadSizes(options.site);
  const server = await serveFolder(options.site);
  const browser = await launchChromium(['--autoplay-policy=no-user-gesture-required']);
  try {
    const first = await firstFrame(browser, server.url);
    const later = [];
    for (let i = 0; i < Number(options.visits); ++i) later.push(await firstFrame(browser, server.url));
    later.sort((a, b) => a - b);
    console.log(`first frame    ${first.toFixed(0)} ms after navigation on the first visit, ` +
      `${later[later.length >> 1].toFixed(0)} ms median of ${later.length} later visits ` +
      `(${later.map((t) => t.toFixed(0)).join(', ')})`);
  } finally {
    await browser.close();
    await server.close();
  }
}

main().catch((error) => {
  console.error(`figures: ${error.message}`);
  process.exit(1);
});
