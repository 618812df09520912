// Draws exported maps with Phaser in the installed chromium, driven by puppeteer-core, the
// way the README tells a game maker to load them: every tileset's sheet loaded under its name,
// every tile layer created with all tilesets and shown as the map says. One browser for all
// maps; the pages are served from localhost so the canvas can be read back.
//   node phaserbrowser.js NODE_MODULES CHROMIUM ROOT JOBS.json
// JOBS.json: [{"map": path of the map under ROOT, "width", "height", "out": PNG to write,
// "webgl": bool}]. Prints a line a job: "drawn", the map, the tiles Phaser animates, the
// collision shapes it read, and its warnings; "nowebgl" where the browser has no WebGL.
const path = require('path');
const fs = require('fs');
const os = require('os');
const http = require('http');
const [modules, chromium, root, jobsFile] = process.argv.slice(2);
const puppeteer = require(path.join(modules, 'puppeteer-core'));
const jobs = JSON.parse(fs.readFileSync(jobsFile, 'utf8'));

const types = { '.json': 'application/json', '.png': 'image/png', '.js': 'text/javascript', '.html': 'text/html' };
const page = '<!doctype html><html><body style="margin:0"><script src="/-/phaser.js"></script></body></html>';
const server = http.createServer((request, response) => {
  const url = decodeURIComponent(request.url.split('?')[0]);
  if (url === '/-/index.html') {
    response.writeHead(200, { 'content-type': 'text/html' });
    return response.end(page);
  }
  const file = url === '/-/phaser.js' ? path.join(modules, 'phaser', 'dist', 'phaser.js') : path.join(root, path.normalize(url));
  if (!file.startsWith(root) && url !== '/-/phaser.js') {
    response.writeHead(403);
    return response.end();
  }
  fs.readFile(file, (error, bytes) => {
    response.writeHead(error ? 404 : 200, { 'content-type': types[path.extname(file)] || 'application/octet-stream' });
    response.end(error ? '' : bytes);
  });
});

// Runs in the page: the game maker's few lines, then the first frame drawn read back.
function draw(job) {
  return new Promise((resolve) => {
    const warnings = [];
    console.warn = (...args) => warnings.push(args.join(' '));
    const base = job.map.slice(0, job.map.lastIndexOf('/') + 1);
    class Level extends Phaser.Scene {
      preload() {
        this.load.tilemapTiledJSON('level', job.map);
        this.load.once('filecomplete-tilemapJSON-level', (key, type, data) => {
          for (const set of data.tilesets) this.load.image(set.name, base + set.image);
        });
      }
      create() {
        const map = this.make.tilemap({ key: 'level' });
        const tilesets = map.tilesets.map((set) => map.addTilesetImage(set.name));
        map.layers.forEach((layer, i) => map.createLayer(i, tilesets).setVisible(layer.visible));
        let animated = 0;
        let shapes = 0;
        for (const set of map.tilesets) {
          for (const data of Object.values(set.tileData || {})) {
            animated += data.animation ? 1 : 0;
            shapes += data.objectgroup && data.objectgroup.objects ? data.objectgroup.objects.length : 0;
          }
        }
        this.game.events.once('postrender', () => {
          const png = this.game.canvas.toDataURL('image/png');
          this.game.destroy(true);
          resolve({ png, animated, shapes, warnings });
        });
      }
    }
    new Phaser.Game({ type: job.webgl ? Phaser.WEBGL : Phaser.CANVAS, width: job.width, height: job.height, transparent: true,
                      pixelArt: true, banner: false, audio: { noAudio: true }, render: { preserveDrawingBuffer: true }, scene: Level });
  });
}

(async () => {
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'phaser-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: chromium, headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', '--enable-unsafe-swiftshader', `--user-data-dir=${profile}`],
  });
  try {
    const tab = await browser.newPage();
    await tab.goto(`http://127.0.0.1:${server.address().port}/-/index.html`);
    const webgl = await tab.evaluate(() => !!document.createElement('canvas').getContext('webgl'));
    for (const job of jobs) {
      if (job.webgl && !webgl) {
        console.log(['nowebgl', job.map].join('\t'));
        continue;
      }
      const result = await tab.evaluate(draw, job);
      fs.writeFileSync(job.out, Buffer.from(result.png.slice(result.png.indexOf(',') + 1), 'base64'));
      console.log(['drawn', job.map, result.animated, result.shapes, result.warnings.length].concat(result.warnings).join('\t'));
    }
  } finally {
    await browser.close();
    server.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
})().catch((error) => {
  process.stderr.write(String(error && error.stack ? error.stack : error) + '\n');
  process.exit(1);
});
