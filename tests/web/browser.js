// Shared pieces of the browser tests: a static file server on 127.0.0.1, the
// system Chromium started headless through puppeteer-core with a fresh profile,
// a PNG reader for the pictures the tests compare, and the comparison itself.
'use strict';
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const zlib = require('zlib');

const mimeTypes = {
  '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm',
  '.png': 'image/png', '.css': 'text/css', '.json': 'application/json',
};

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

// 8-bit RGB or RGBA, non-interlaced PNG to { width, height, rgba }.
function decodePng(buffer) {
  let offset = 8, width = 0, height = 0, channels = 0;
  const chunks = [];
  while (offset < buffer.length) {
    const length = buffer.readUInt32BE(offset);
    const type = buffer.toString('latin1', offset + 4, offset + 8);
    const data = buffer.subarray(offset + 8, offset + 8 + length);
    if (type === 'IHDR') {
      width = data.readUInt32BE(0);
      height = data.readUInt32BE(4);
      const colourType = data[9];
      if (data[8] !== 8 || data[12] !== 0 || (colourType !== 2 && colourType !== 6))
        throw new Error('only 8-bit RGB(A) non-interlaced PNG is read');
      channels = colourType === 6 ? 4 : 3;
    } else if (type === 'IDAT') {
      chunks.push(data);
    }
    offset += 12 + length;
  }
  const raw = zlib.inflateSync(Buffer.concat(chunks));
  const stride = width * channels;
  const pixels = Buffer.alloc(stride * height);
  for (let y = 0; y < height; ++y) {
    const filter = raw[y * (stride + 1)];
    const line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    for (let x = 0; x < stride; ++x) {
      const a = x >= channels ? pixels[y * stride + x - channels] : 0;
      const b = y > 0 ? pixels[(y - 1) * stride + x] : 0;
      const c = x >= channels && y > 0 ? pixels[(y - 1) * stride + x - channels] : 0;
      let predictor = 0;
      if (filter === 1) predictor = a;
      else if (filter === 2) predictor = b;
      else if (filter === 3) predictor = (a + b) >> 1;
      else if (filter === 4) {
        const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
        predictor = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
      }
      pixels[y * stride + x] = (line[x] + predictor) & 255;
    }
  }
  const rgba = Buffer.alloc(width * height * 4);
  for (let i = 0; i < width * height; ++i) {
    rgba[4 * i] = pixels[channels * i];
    rgba[4 * i + 1] = pixels[channels * i + 1];
    rgba[4 * i + 2] = pixels[channels * i + 2];
    rgba[4 * i + 3] = channels === 4 ? pixels[4 * i + 3] : 255;
  }
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

module.exports = { serveFolder, launchChromium, decodePng, comparePictures };
