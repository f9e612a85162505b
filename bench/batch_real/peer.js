// The peer: a plain batch with the automation library and the same browser. For each address:
// load it (until the load event), take its full-page screenshot, store it. One line of JSON per
// address on stdout.   node peer.js LIST OUT_FOLDER WIDTH HEIGHT TIMEOUT_SECONDS
const fs = require('fs');
const path = require('path');
const { chromium } = require('playwright-core');

const [listFile, outFolder, width, height, timeoutSeconds] = process.argv.slice(2);
const timeout = Number(timeoutSeconds) * 1000;
const seconds = (start) => Number(process.hrtime.bigint() - start) / 1e9;

// A stalled page must not stall the batch: every step outside the library's own timeouts is capped.
function capped(promise, ms) {
  return Promise.race([promise, new Promise((_, reject) => setTimeout(() => reject(new Error(`no answer in ${ms / 1000} s`)), ms))]);
}

// Not timed: what the report needs to explain a difference.
function describePage() {
  let fixed = 0;
  for (const e of document.querySelectorAll('*')) {
    const p = getComputedStyle(e).position;
    if (p === 'fixed' || p === 'sticky') fixed++;
  }
  const d = document.documentElement;
  return { page_width: d.scrollWidth, page_height: d.scrollHeight, fixed_or_sticky: fixed };
}

(async () => {
  const urls = fs.readFileSync(listFile, 'utf8').split(/\r?\n/).filter((u) => u.trim() !== '');
  const launchStart = process.hrtime.bigint();
  const browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--disable-gpu', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync'],
  });
  const newPage = () => browser.newPage({ viewport: { width: Number(width), height: Number(height) } });
  let page = await newPage();
  console.log(JSON.stringify({ launch_seconds: seconds(launchStart) }));
  for (let i = 0; i < urls.length; i++) {
    const file = path.join(outFolder, `${i + 1}.png`);
    const result = { item: i + 1, url: urls[i], file };
    const start = process.hrtime.bigint();
    try {
      await page.goto(urls[i], { waitUntil: 'load', timeout });
      await page.screenshot({ fullPage: true, path: file, timeout });
      result.ok = true;
    } catch (e) {
      result.ok = false;
      result.error = e.message.split('\n')[0];
    }
    result.seconds = seconds(start);
    try {
      Object.assign(result, await capped(page.evaluate(describePage), 60000));
    } catch (e) {
      result.describe_error = e.message.split('\n')[0];
    }
    if (!result.ok) {  // a page that failed may be wedged: the next address gets a fresh one
      await capped(page.close(), 30000).catch(() => {});
      page = await capped(newPage(), 60000);
    }
    console.log(JSON.stringify(result));
  }
  await capped(browser.close(), 30000).catch(() => {});
  process.exit(0);
})().catch((e) => { console.error(e); process.exit(1); });
