// Frames per second of the main scene in headless Chromium: the intro's own page
// (sound allowed to start at once), left to reach the main scene, then the animation
// frames it draws are counted over a stretch of wall-clock time. Two ways:
// - paced (the default): the browser keeps its own frame pacing, 60 a second, as a
//   visitor's browser on a 60 Hz display does. At most 60; a frame the software
//   renderer does not finish in time is a frame lost.
// - unpaced: the frame-rate limit is off and each frame waits for the GPU process to
//   finish it (a one-pixel read of the canvas). Without that wait the page runs far
//   ahead of the renderer, in bursts of a millisecond a frame until the browser's
//   queue of unfinished frames is full, and a count says nothing. The wait keeps the
//   page and the renderer from overlapping, so this errs low.
// The count runs for 60 s by default: the tube's size goes through a whole cycle in
// about 29 s from a random starting point, so shorter counts differ from run to run
// with the scene's load. Prints one line: "web_fps N".
//
//   node bench/web_fps.js --site DIR [--mode paced|unpaced] [--wait 42] [--measure 60]
'use strict';
const path = require('path');
const { parseArguments, serveFolder, launchChromium } =
  require(path.join(__dirname, '../tests/web/browser.js'));

async function main() {
  const options = parseArguments(process.argv.slice(2), { mode: 'paced', wait: 42, measure: 60 });
  if (options.mode !== 'paced' && options.mode !== 'unpaced')
    throw new Error('--mode is paced or unpaced');
  const unpaced = options.mode === 'unpaced';
  const server = await serveFolder(options.site);
  const browser = await launchChromium(['--autoplay-policy=no-user-gesture-required',
    ...(unpaced ? ['--disable-gpu-vsync', '--disable-frame-rate-limit'] : [])]);
  try {
    const page = await browser.newPage();
    const errors = [];
    page.on('pageerror', (error) => errors.push(error.message));
    await page.setViewport({ width: 640, height: 480 });
    await page.goto(server.url + 'index.html');
    // The opening and its white-out take the first 37 s or so.
    await new Promise((done) => setTimeout(done, Number(options.wait) * 1000));
    const fps = await page.evaluate((seconds, wait) => new Promise((done) => {
      const gl = document.getElementById('screen').getContext('webgl');
      const pixel = new Uint8Array(4);
      let count = -1, start = 0;
      const tick = () => {
        if (wait) gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, pixel);
        const now = performance.now();
        if (count < 0) start = now;
        if (now - start >= seconds * 1000) { done(count / ((now - start) / 1000)); return; }
        ++count;
        requestAnimationFrame(tick);
      };
      requestAnimationFrame(tick);
    }), Number(options.measure), unpaced);
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
