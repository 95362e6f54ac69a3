// Frames per second of the main scene in headless Chromium: the intro's own page
// (sound allowed to start at once, the browser's frame rate not tied to a display),
// left to reach the main scene, then the animation frames it draws are counted over
// a stretch of wall-clock time (see below for how). Prints one line: "web_fps N".
//
//   node bench/web_fps.js --site DIR [--wait 42] [--measure 20]
'use strict';
const path = require('path');
const { serveFolder, launchChromium } = require(path.join(__dirname, '../tests/web/browser.js'));

async function main() {
  const options = { wait: 42, measure: 20 };
  const argv = process.argv.slice(2);
  for (let i = 0; i < argv.length; i += 2) {
    if (argv[i] === '--site') options.site = argv[i + 1];
    else if (argv[i] === '--wait') options.wait = Number(argv[i + 1]);
    else if (argv[i] === '--measure') options.measure = Number(argv[i + 1]);
    else throw new Error(`unknown argument ${argv[i]}`);
  }
  if (!options.site) throw new Error('--site DIR is needed');
  const server = await serveFolder(options.site);
  const browser = await launchChromium(['--autoplay-policy=no-user-gesture-required',
    '--disable-gpu-vsync', '--disable-frame-rate-limit']);
  try {
    const page = await browser.newPage();
    const errors = [];
    page.on('pageerror', (error) => errors.push(error.message));
    await page.setViewport({ width: 640, height: 480 });
    await page.goto(server.url + 'index.html');
    // The opening and its white-out take the first 37 s or so.
    await new Promise((done) => setTimeout(done, options.wait * 1000));
    // The page hands its drawing to the GPU process and runs ahead of it: with the
    // frame-rate limit off, animation frames come a millisecond apart until the
    // browser's queue of unfinished frames is full, then none come until the
    // software renderer has caught up. A count over a fixed stretch therefore errs
    // by up to a queue's worth of frames; counted from the end of one such wait to
    // the end of the last one in the stretch, it covers whole cycles and gives what
    // the renderer draws per second. Without waits the frames are evenly paced and
    // the whole stretch counts.
    const times = await page.evaluate((seconds) => new Promise((done) => {
      const stamps = [];
      const end = performance.now() + seconds * 1000;
      const tick = () => {
        const now = performance.now();
        stamps.push(now);
        if (now >= end) { done(stamps); return; }
        requestAnimationFrame(tick);
      };
      requestAnimationFrame(tick);
    }), options.measure);
    const resumed = [];
    for (let i = 1; i < times.length; ++i)
      if (times[i] - times[i - 1] > 100) resumed.push(i);
    let first = 0, last = times.length - 1;
    if (resumed.length >= 2) {
      first = resumed[0];
      last = resumed[resumed.length - 1];
    }
    const fps = (last - first) / ((times[last] - times[first]) / 1000);
    if (errors.length) throw new Error(`page errors: ${errors.join('; ')}`);
    console.log(`web_fps ${fps.toFixed(1)}`);
  } finally {
    await browser.close();
    await server.close();
  }
}

main().catch((error) => {
  console.error(`web_fps: ${error.message}`);
  process.exit(1);
});
