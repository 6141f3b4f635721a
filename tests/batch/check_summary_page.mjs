// Opens a batch's summary.html in headless Chromium and checks it: no error,
// no network, a row per run, the table sorts by a click on a column, the
// heatmap draws a cell per pair of inputs with the best value of the chosen
// figure, and redraws for other inputs and figures. Saves a screenshot.
//
//   node check_summary_page.mjs --page summary.html --screenshot OUT.png
//
// Exit codes: 0 passed, 1 failed, 77 skipped (no Chromium or puppeteer-core).
// puppeteer-core is the one scripts/install-deps.sh installs for the report
// page's tests in tests/report.
import fs from 'node:fs';
import path from 'node:path';
import { parseArgs } from 'node:util';

import { frames, launch, loadPuppeteer, offlinePage } from '../report/headless.mjs';

const { values: opt } = parseArgs({
  options: {
    page: { type: 'string' }, screenshot: { type: 'string' },
    chromium: { type: 'string', default: process.env.TORVIK_CHROMIUM || '/usr/bin/chromium' },
  },
});
for (const k of ['page', 'screenshot']) {
  if (!opt[k]) { console.error(`--${k} is required`); process.exit(2); }
}
const puppeteer = await loadPuppeteer(opt.chromium);

const failures = [];
const check = (ok, what) => { if (!ok) failures.push(what); return ok; };
const html = fs.readFileSync(opt.page, 'utf8');
const start = html.indexOf('window.TORVIK_BATCH = ');
const data = JSON.parse(html.slice(start + 'window.TORVIK_BATCH = '.length, html.indexOf(';\n</script>', start))
  .replace(/<\\\//g, '</'));
fs.mkdirSync(path.dirname(opt.screenshot), { recursive: true });

const browser = await launch(puppeteer, opt.chromium);

try {
  const page = await offlinePage(browser, failures);
  await page.goto('file://' + path.resolve(opt.page), { waitUntil: 'load', timeout: 60000 });
  await page.waitForFunction(() => window.torvikBatch !== undefined, { timeout: 60000 });
  await frames(page);
  await page.screenshot({ path: opt.screenshot, fullPage: true });

  // ---- the table: one row per run, only the rows in view in the document
  const table = await page.evaluate(() => ({ rows: torvikBatch.table.rowCount(), rendered: torvikBatch.table.renderedRows() }));
  check(table.rows === data.rows.length, `the table has ${table.rows} rows for ${data.rows.length} runs`);
  check(table.rendered > 0 && table.rendered <= Math.min(data.rows.length, 40), `the table put ${table.rendered} rows in the document`);

  // ---- a click on a column header sorts by it, a second click the other way
  const figure = data.figures.includes('total_net_profit') ? 'total_net_profit' : data.figures[0];
  const value = (i) => data.rows[i].figures ? data.rows[i].figures[figure] : null;
  const header = async (key) => (await page.$(`#runs .head span[data-key="${key}"]`)).click();
  await header('figure:' + figure);
  let order = await page.evaluate(() => torvikBatch.table.order());
  const defined = order.filter((i) => value(i) !== null && value(i) !== undefined);
  check(defined.every((t, k) => k === 0 || value(defined[k - 1]) <= value(t)), `${figure}: the first click does not sort ascending`);
  await header('figure:' + figure);
  order = await page.evaluate(() => torvikBatch.table.order());
  const again = order.filter((i) => value(i) !== null && value(i) !== undefined);
  check(again.every((t, k) => k === 0 || value(again[k - 1]) >= value(t)), `${figure}: the second click does not sort descending`);
  const firstRow = await page.evaluate(() => Number(document.querySelector('#runs .row[data-run]').dataset.run));
  check(firstRow === order[0], `the first row shown is run ${firstRow}, not the first of the sort (${order[0]})`);
  // inputs written as texts sort as numbers
  const input = data.varying.find((k) => k !== 'bars');
  if (input) {
    await header('input:' + input);
    order = await page.evaluate(() => torvikBatch.table.order());
    const numbers = order.map((i) => Number(data.rows[i].inputs[input]));
    check(numbers.every((v, k) => k === 0 || numbers[k - 1] <= v), `${input}: not sorted as numbers: ${numbers.slice(0, 12)}`);
  }

  // ---- the heatmap: a cell per pair of inputs, each the best value of its runs
  const ok = data.rows.filter((r) => r.status === 'ok' && r.sample !== 'out');
  const checkCells = async (x, y, key, lower) => {
    const cells = await page.evaluate((a, b, f) => { torvikBatch.heatmap.draw(a, b, f); return torvikBatch.heatmap.cells(); }, x, y, key);
    const drawn = await page.evaluate(() => document.querySelectorAll('#heatmap svg rect.cell').length);
    const pairs = new Set(ok.map((r) => r.inputs[x] + '|' + (y ? r.inputs[y] : '')));
    check(cells.length === pairs.size && drawn === pairs.size, `heatmap ${x} x ${y || '-'}: ${cells.length} cells and ${drawn} drawn for ${pairs.size} pairs`);
    for (const c of cells) {
      const values = ok.filter((r) => r.inputs[x] === c.x && (!y || r.inputs[y] === c.y))
        .map((r) => (key === '$value' ? r.value : r.figures[key])).filter((v) => typeof v === 'number');
      const best = values.length ? (lower ? Math.min(...values) : Math.max(...values)) : null;
      if (!check(c.value === best, `heatmap ${x} ${c.x} / ${y} ${c.y}: ${c.value}, the best of its runs is ${best}`)) break;
    }
  };
  if (data.varying.length >= 2) {
    await checkCells(data.varying[0], data.varying[1], '$value', data.lower_is_better);
    await checkCells(data.varying[1], data.varying[0], figure, false);
    if (data.figures.includes('maximal_drawdown')) await checkCells(data.varying[0], data.varying[1], 'maximal_drawdown', true);
  }
  if (data.varying.length >= 1) await checkCells(data.varying[0], '', '$value', data.lower_is_better);
  await page.evaluate((a, b) => torvikBatch.heatmap.draw(a, b, '$value'), data.varying[0], data.varying[1] || '');
  await frames(page);
  await page.screenshot({ path: opt.screenshot.replace(/\.png$/, '-heatmap.png'), clip: await page.evaluate(() => {
    const r = document.getElementById('heatmap').getBoundingClientRect();
    return { x: r.left, y: r.top + window.scrollY, width: Math.max(1, r.width), height: Math.max(1, r.height) };
  }) });
} finally {
  await browser.cleanUp();
}

if (failures.length) {
  console.log(`FAILED ${opt.page}:\n  ` + failures.join('\n  '));
  process.exit(1);
}
console.log(`passed ${opt.page} (${data.rows.length} runs); screenshot ${opt.screenshot}`);
