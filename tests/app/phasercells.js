// Phaser's own Tiled parser on an exported map: prints every tile layer (tab-separated:
// "layer", name, visible, alpha, x, y) and every cell it places ("cell", x, y, tileset name,
// the tile's pixel x and y in the sheet, tile width and height, rotation, flipX), then
// "warnings" and their count. Phaser runs with a stub for the browser it expects.
//   node phasercells.js NODE_MODULES MAP.json
const path = require('path');
const fs = require('fs');
const [modules, mapFile] = process.argv.slice(2);

const warnings = [];
console.warn = (...args) => warnings.push(args.join(' '));
console.log = () => {};  // Phaser's banner
// Any property of a canvas context reads back as a function doing nothing.
const context = () => new Proxy({}, { get: (t, k) => (k in t ? t[k] : () => ({ data: [0, 0, 0, 0] })), set: (t, k, v) => ((t[k] = v), true) });
const element = () => ({ style: {}, getContext: context, addEventListener() {}, appendChild() {}, toDataURL: () => '' });
global.window = { addEventListener() {}, removeEventListener() {}, navigator: { userAgent: 'node' }, location: { href: '' },
                  devicePixelRatio: 1, requestAnimationFrame() {}, screen: {}, document: null, focus() {} };
global.document = { createElement: element, documentElement: {}, addEventListener() {}, readyState: 'complete', body: element() };
global.window.document = global.document;
global.navigator = global.window.navigator;
global.Image = function () {};
global.HTMLCanvasElement = function () {};
let Phaser;
try {
  Phaser = require(path.join(modules, 'phaser', 'dist', 'phaser.js'));
} catch (e) {
  process.stderr.write('phaser would not load: ' + e.message + '\n');
  process.exit(3);
}
const json = JSON.parse(fs.readFileSync(mapFile, 'utf8'));
const data = Phaser.Tilemaps.Parsers.Parse('map', Phaser.Tilemaps.Formats.TILED_JSON, json, 0, 0, false);
const out = [];
const sets = data.tilesets;
// As addTilesetImage does with the sheet's size (a warning where the grid does not fit it).
for (const set of sets) {
  const source = json.tilesets.find((t) => t.name === set.name);
  set.updateTileData(source.imagewidth, source.imageheight);
}
for (const layer of data.layers) {
  out.push(['layer', layer.name, layer.visible, layer.alpha, layer.x, layer.y].join('\t'));
  for (const row of layer.data) {
    for (const tile of row) {
      if (!tile || tile.index < 0) continue;
      const set = sets.find((s) => s.containsTileIndex(tile.index));
      if (!set) {
        out.push(['cell', tile.x, tile.y, '?', -1, -1, 0, 0, 0, false].join('\t'));
        continue;
      }
      const at = set.getTileTextureCoordinates(tile.index);
      out.push(['cell', tile.x, tile.y, set.name, at.x, at.y, set.tileWidth, set.tileHeight, tile.rotation, tile.flipX].join('\t'));
    }
  }
}
for (const layer of data.objects) {
  out.push(['objects', layer.name, layer.objects.length, layer.objects.filter((o) => o.polygon || o.polyline).length].join('\t'));
}
out.push(['warnings', warnings.length].concat(warnings).join('\t'));
process.stdout.write(out.join('\n') + '\n');
