// Shared pieces of the browser tests: their arguments, a static file server on 127.0.0.1, the
// system Chromium started headless through puppeteer-core with a fresh profile,
// a PNG reader for the pictures the tests compare, and the comparison itself.
'use strict';
const { execFileSync } = require('child_process');
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');

const mimeTypes = {
  '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm',
  '.png': 'image/png', '.css': 'text/css', '.json': 'application/json',
};

// `--name value` pairs over `defaults`, which name every option known; --site must
// name the built site.
function parseArguments(argv, defaults) {
  const options = { site: '', ...defaults };
  for (let i = 0; i < argv.length; i += 2) {
    const name = argv[i].replace(/^--/, '');
    if (name === argv[i] || !(name in options)) throw new Error(`unknown argument ${argv[i]}`);
    if (argv[i + 1] === undefined) throw new Error(`${argv[i]} needs a value`);
    options[name] = argv[i + 1];
  }
  if (!options.site || !fs.existsSync(path.join(options.site, 'index.html')))
    throw new Error('--site must name the built site (scripts/build-web)');
  return options;
}

// Serves `root` on 127.0.0.1 at a free port; resolves to { url, close }.
function serveFolder(folder) {
  const root = path.resolve(folder);
  const server = http.createServer((request, response) => {
    const name = decodeURIComponent(new URL(request.url, 'http://127.0.0.1').pathname);
    const file = path.join(root, name.endsWith('/') ? name + 'index.html' : name);
    if (!file.startsWith(root + path.sep)) { response.writeHead(403); response.end(); return; }
    fs.readFile(file, (error, data) => {
      if (error) { response.writeHead(404); response.end(); return; }
      response.writeHead(200, {
        'Content-Type': mimeTypes[path.extname(file)] || 'application/octet-stream',
        'Cache-Control': 'no-store',
      });
      response.end(data);
    });
  });
  return new Promise((resolve, reject) => {
    server.on('error', reject);
    server.listen(0, '127.0.0.1', () => resolve({
      url: `http://127.0.0.1:${server.address().port}/`,
      close: () => new Promise((done) => server.close(done)),
    }));
  });
}

function chromiumPath() {
  for (const candidate of [process.env.CHROMIUM, '/usr/bin/chromium', '/usr/bin/chromium-browser'])
    if (candidate && fs.existsSync(candidate)) return candidate;
  throw new Error('Chromium is needed for the browser tests (Debian: apt install chromium)');
}

// Headless Chromium with software WebGL (SwiftShader) and a profile of its own,
// removed again by close().
async function launchChromium(extraArgs = []) {
  const puppeteer = require('puppeteer-core');
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: chromiumPath(),
    headless: true,
    userDataDir: profile,
    args: ['--headless=new', '--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      '--no-first-run', '--hide-scrollbars', ...extraArgs],
  });
  const close = browser.close.bind(browser);
  browser.close = async () => {
    try { await close(); } finally { fs.rmSync(profile, { recursive: true, force: true }); }
  };
  return browser;
}

// A PNG to { width, height, rgba }, decoded by ffmpeg (scripts/deps installs it).
function decodePng(buffer) {
  const width = buffer.readUInt32BE(16), height = buffer.readUInt32BE(20); // from IHDR
  const rgba = execFileSync('ffmpeg', ['-nostdin', '-loglevel', 'error', '-f', 'png_pipe', '-i', '-',
    '-f', 'rawvideo', '-pix_fmt', 'rgba', '-'], { input: buffer, maxBuffer: width * height * 4 + 1 });
  if (rgba.length !== width * height * 4) throw new Error(`PNG of ${width}x${height} not decoded`);
  return { width, height, rgba };
}

// Colour differences of two RGBA pictures of the same size: the mean absolute
// difference of each of red, green and blue, and the share of pixels whose every
// channel lies within `tolerance` levels.
function comparePictures(a, b, tolerance = 16) {
  if (a.width !== b.width || a.height !== b.height)
    throw new Error(`picture sizes differ: ${a.width}x${a.height} and ${b.width}x${b.height}`);
  const count = a.width * a.height;
  const sums = [0, 0, 0];
  let within = 0;
  for (let i = 0; i < count; ++i) {
    let worst = 0;
    for (let c = 0; c < 3; ++c) {
      const d = Math.abs(a.rgba[4 * i + c] - b.rgba[4 * i + c]);
      sums[c] += d;
      if (d > worst) worst = d;
    }
    if (worst <= tolerance) ++within;
  }
  return { meanAbs: sums.map((s) => s / count), within: within / count };
}

module.exports = { parseArguments, serveFolder, launchChromium, decodePng, comparePictures };
