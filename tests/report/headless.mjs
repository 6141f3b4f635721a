// What the page checks share: Debian's Chromium driven by puppeteer-core
// (installed in tests/report), a fresh profile, and a page that records every
// console error, page error and network request as a failure: the pages must
// work offline from their one file.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

export const SKIP = 77;  // ctest's SKIP_RETURN_CODE for these tests

// puppeteer-core, or the process ends as skipped when it or Chromium is missing.
export async function loadPuppeteer(chromium) {
  if (!fs.existsSync(chromium)) {
    console.log(`SKIPPED: no Chromium at ${chromium} (scripts/install-deps.sh installs Debian's chromium)`);
    process.exit(SKIP);
  }
  try {
    return (await import('puppeteer-core')).default;
  } catch {
    console.log('SKIPPED: puppeteer-core is not installed in tests/report (scripts/install-deps.sh runs npm ci there)');
    process.exit(SKIP);
  }
}

export async function launch(puppeteer, chromium) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'torvik-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: chromium, headless: true, userDataDir: profile,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync'],
  });
  browser.cleanUp = async () => {
    await browser.close();
    fs.rmSync(profile, { recursive: true, force: true });
  };
  return browser;
}

export async function offlinePage(browser, failures) {
  const page = await browser.newPage();
  await page.setViewport({ width: 1360, height: 1000 });
  page.on('console', (m) => { if (m.type() === 'error') failures.push(`console error: ${m.text()}`); });
  page.on('pageerror', (e) => failures.push(`page error: ${e.message}`));
  await page.setRequestInterception(true);
  page.on('request', (req) => {
    const url = req.url();
    if (url.startsWith('file:') || url.startsWith('data:') || url.startsWith('blob:')) req.continue();
    else { failures.push(`network request: ${url}`); req.abort(); }
  });
  return page;
}

// Two animation frames: what the page drew after an event is on screen.
export const frames = (page) => page.evaluate(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))));
