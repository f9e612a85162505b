// The peer: the automation library's own full-page screenshot of the same page, same browser,
// five rounds; prints each and their median.
const { chromium } = require('playwright-core');

(async () => {
  const page_path = process.argv[2];
  const browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--disable-gpu', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync'],
  });
  const page = await browser.newPage({ viewport: { width: 800, height: 600 } });
  await page.goto('file://' + page_path, { waitUntil: 'load' });
  const rounds = [];
  let png;
  for (let round = 0; round < 5; round++) {
    const start = process.hrtime.bigint();
    png = await page.screenshot({ fullPage: true, type: 'png' });
    rounds.push(Number(process.hrtime.bigint() - start) / 1e9);
    console.log(`peer_round_seconds=${rounds[round].toFixed(3)}`);
  }
  const sorted = [...rounds].sort((a, b) => a - b);
  console.log(`peer_bytes=${png.length}`);
  console.log(`peer_seconds=${sorted[Math.floor(sorted.length / 2)].toFixed(3)}`);
  await browser.close();
})().catch((e) => { console.error(e); process.exit(1); });
