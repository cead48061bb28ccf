// The printer's "Printing Defaults" page in headless Chromium: it renders,
// a darkness of 86 % is chosen and saved, and the page shows it saved.
//   node webui.cjs URL SCREENSHOT.png     (playwright-core on NODE_PATH)
const fs = require('fs');
const os = require('os');
const path = require('path');
const { chromium } = require('playwright-core');

const [url, shot] = process.argv.slice(2);

(async () => {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'chromium-'));
  const browser = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  try {
    const page = await browser.newPage();
    await page.setViewportSize({ width: 900, height: 1100 });
    await page.goto(url);
    await page.selectOption('select[name="print-darkness"]', '86');
    await Promise.all([page.waitForNavigation(), page.click('input[type=submit]')]);
    const shown = await page.$eval('select[name="print-darkness"]', (s) => s.value);
    if (shown !== '86') throw new Error(`the page shows darkness ${shown} after saving 86`);
    await page.screenshot({ path: shot, fullPage: true });
  } finally {
    await browser.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
})().catch((e) => {
  console.error(e);
  process.exit(1);
});
