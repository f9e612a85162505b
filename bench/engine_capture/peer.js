// The peer: the automation library's own full-page screenshot of the same page, same browser,
// five rounds. Every image is decoded and checked against the band pattern (untimed); prints
// each round with its wrong rows, then the median.
const { chromium } = require('playwright-core');
const { PNG } = require('pngjs');

// Rows that differ from the band page's (row y: R = y & 255, G = (y >> 8) & 255, B = 7 + 60 * (y >> 16)),
// rows missing from the image included.
function wrongRows(png, width, height) {
  const image = PNG.sync.read(png);
  let wrong = 0, first = -1;
  for (let y = 0; y < height; y++) {
    let bad = y >= image.height || image.width !== width;
    if (!bad) {
      const r = y & 255, g = (y >> 8) & 255, b = 7 + 60 * (y >> 16);
      const row = y * image.width * 4;
      for (let x = 0; x < width && !bad; x++) {
        const p = row + 4 * x;
        bad = image.data[p] !== r || image.data[p + 1] !== g || image.data[p + 2] !== b || image.data[p + 3] !== 255;
      }
    }
    if (bad) {
      wrong++;
      if (first < 0) first = y;
    }
  }
  return { wrong, first, size: `${image.width}x${image.height}` };
}

(async () => {
  const [pagePath, heightText] = process.argv.slice(2);
  const height = Number(heightText);
  const browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--disable-gpu', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync'],
  });
  const page = await browser.newPage({ viewport: { width: 800, height: 600 } });
  // Only hangs are guarded against: on a loaded machine a tall screenshot takes minutes.
  const limit = 600000;
  await page.goto('file://' + pagePath, { waitUntil: 'load', timeout: limit });
  const rounds = [];
  for (let round = 0; round < 5; round++) {
    const start = process.hrtime.bigint();
    const png = await page.screenshot({ fullPage: true, type: 'png', timeout: limit });
    rounds.push(Number(process.hrtime.bigint() - start) / 1e9);
    const check = wrongRows(png, 800, height);
    console.log(`peer_round h=${height} round=${round + 1} seconds=${rounds[round].toFixed(3)} ` +
                `wrong_rows=${check.wrong} first_wrong=${check.first} size=${check.size}`);
  }
  const sorted = [...rounds].sort((a, b) => a - b);
  console.log(`peer_median h=${height} seconds=${sorted[Math.floor(sorted.length / 2)].toFixed(3)}`);
  await browser.close();
})().catch((e) => { console.error(e); process.exit(1); });
