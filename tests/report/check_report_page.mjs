// Opens a report page in headless Chromium and checks what a trader relies on:
// no error, no network, every price chart drawn, two markers per trade, the
// trade table scrolls and sorts, a click on a trade shows it on the chart and
// a click on a marker finds its row, price-axis labels fit. Saves screenshots.
//
//   node check_report_page.mjs --assembler report_page_assemble --data DATA.json
//        --page OUT.html --screenshot OUT.png [--repeat N]
//   node check_report_page.mjs --page REPORT.html --screenshot OUT.png [--repeat N]
// The first assembles the page from a data object; the second opens a
// finished page (the tester's report.html) and takes the data from it.
//
// Exit codes: 0 passed, 1 failed, 77 skipped (no Chromium or puppeteer-core).
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { parseArgs } from 'node:util';

import { frames, launch, loadPuppeteer, offlinePage } from './headless.mjs';

const { values: opt } = parseArgs({
  options: {
    assembler: { type: 'string' }, data: { type: 'string' }, page: { type: 'string' },
    screenshot: { type: 'string' }, repeat: { type: 'string', default: '1' },
    chromium: { type: 'string', default: process.env.TORVIK_CHROMIUM || '/usr/bin/chromium' },
  },
});
for (const k of opt.assembler ? ['data', 'page', 'screenshot'] : ['page', 'screenshot']) {
  if (!opt[k]) { console.error(`--${k} is required`); process.exit(2); }
}
const puppeteer = await loadPuppeteer(opt.chromium);

// ---- the page, assembled by the C++ writer from the data object, or as the tester wrote it
fs.mkdirSync(path.dirname(opt.page), { recursive: true });
fs.mkdirSync(path.dirname(opt.screenshot), { recursive: true });
let data;
if (opt.assembler) {
  execFileSync(opt.assembler, [opt.data, opt.page], { stdio: 'inherit' });
  data = JSON.parse(fs.readFileSync(opt.data, 'utf8'));
} else {
  // the data object between its assignment and the end of its script element
  const html = fs.readFileSync(opt.page, 'utf8'), start = 'window.TORVIK_REPORT = ';
  const from = html.indexOf(start), to = html.indexOf(';</script>', from);
  if (from < 0 || to < 0) { console.log(`FAILED ${opt.page}: no report data in the page`); process.exit(1); }
  data = JSON.parse(html.slice(from + start.length, to));
}
const name = opt.assembler ? path.basename(opt.page) : path.basename(opt.screenshot, '.png');
const failures = [];
const check = (ok, what) => { if (!ok) failures.push(what); return ok; };

const browser = await launch(puppeteer, opt.chromium);
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

try {
  const page = await offlinePage(browser, failures);

  // ---- opening time: navigation start to the chart's first drawn frame
  const url = 'file://' + path.resolve(opt.page);
  const openTimes = [];
  for (let run = 0; run < Math.max(1, Number(opt.repeat)); run++) {
    await page.goto(url, { waitUntil: 'load', timeout: 60000 });
    await page.waitForFunction(() => window.torvikPage && window.torvikPage.drawnAt !== null, { timeout: 60000 });
    openTimes.push(await page.evaluate(() => window.torvikPage.drawnAt));
  }
  const sorted = [...openTimes].sort((a, b) => a - b);
  const median = sorted[Math.floor(sorted.length / 2)];
  console.log(`${name}: ${data.charts.length} chart(s), ${data.charts.reduce((s, c) => s + c.candles.time.length, 0)} candles, ` +
              `${data.trades.ticket.length} trades; opened (navigation start to chart drawn) in ${median.toFixed(0)} ms` +
              (openTimes.length > 1 ? ` median of ${openTimes.length} (min ${sorted[0].toFixed(0)}, max ${sorted.at(-1).toFixed(0)})` : ''));
  await page.screenshot({ path: opt.screenshot, fullPage: true });

  const trades = data.trades;
  const n = trades.ticket.length;
  const info = await page.evaluate(() => ({ charts: torvikPage.charts, paneCount: torvikPage.paneCount,
                                            level: torvikPage.level() }));
  check(info.charts.length === data.charts.length, `${info.charts.length} price charts for ${data.charts.length} in the data`);

  // ---- every price chart drew: its pane's canvas has candles on it
  for (let ci = 0; ci < info.charts.length; ci++) {
    const inked = await page.evaluate((p) => {
      const canvas = torvikPage.paneElement(p).querySelector('canvas');
      const ctx = canvas.getContext('2d');
      const px = ctx.getImageData(0, 0, canvas.width, canvas.height).data;
      let count = 0;
      for (let k = 0; k < px.length; k += 4) if (px[k] < 200 || px[k + 1] < 200 || px[k + 2] < 200) count++;
      return count / (canvas.width * canvas.height);
    }, ci);
    check(inked > 0.01, `price chart ${ci} looks blank (${(inked * 100).toFixed(2)}% of its pixels drawn)`);
  }

  // ---- exactly two markers per trade, one entry and one exit each
  for (let ci = 0; ci < info.charts.length; ci++) {
    const markers = await page.evaluate((c) => torvikPage.baseMarkers(c), ci);
    const expected = [];
    for (let i = 0; i < n; i++) if ((trades.chart[i] || 0) === ci) expected.push('e' + i, 'x' + i);
    const ids = markers.map((m) => m.id).sort();
    check(ids.length === expected.length && JSON.stringify(ids) === JSON.stringify(expected.sort()),
          `chart ${ci}: ${ids.length} markers for ${expected.length / 2} trades`);
    // each marker sits on its trade's price, on a candle that holds its time
    const bad = markers.filter((m) => {
      const i = Number(m.id.slice(1)), entry = m.id[0] === 'e';
      const t = entry ? trades.openTime[i] : trades.closeTime[i];
      return m.price !== (entry ? trades.openPrice[i] : trades.closePrice[i]) || m.time > t ||
             t - m.time >= (data.charts[ci].timeframe || 3600) + 1e-9 && !data.charts[ci].candles.time.includes(m.time);
    });
    check(bad.length === 0, `chart ${ci}: ${bad.length} markers off their trade's time or price (${JSON.stringify(bad.slice(0, 3))})`);
  }

  // ---- zooming in over the chart switches to finer bars
  const before = info.level;
  if (before && before.index > 0) {
    const box = await page.evaluate(() => { const r = torvikPage.paneElement(0).getBoundingClientRect(); return { x: r.left + r.width / 2, y: r.top + r.height / 2 }; });
    await page.evaluate(() => window.scrollTo(0, 0));
    await page.mouse.move(box.x, box.y);
    for (let k = 0; k < 30 && (await page.evaluate(() => torvikPage.level().index)) >= before.index; k++) {
      await page.mouse.wheel({ deltaY: -400 });
      await frames(page);
    }
    const after = await page.evaluate(() => torvikPage.level());
    check(after.index < before.index, `zooming in kept the ${before.name} bars (now ${after.name})`);
  }

  // ---- the trade table: only the rows in view exist, it scrolls and sorts
  const table = await page.evaluate(() => ({ rows: torvikPage.table.rowCount(), rendered: torvikPage.table.renderedRows() }));
  check(table.rows === n, `the table has ${table.rows} rows for ${n} trades`);
  check(table.rendered <= 60, `the table put ${table.rendered} rows in the document`);
  if (n > 0) {
    await page.evaluate(() => { const t = document.getElementById('trades'); t.scrollTop = t.scrollHeight; });
    await frames(page);
    const lastShown = await page.evaluate(() => {
      const rows = [...document.querySelectorAll('#trades .row[data-trade]')];
      return rows.map((r) => Number(r.dataset.trade)).includes(torvikPage.table.order().at(-1));
    });
    check(lastShown, 'scrolled to the bottom, the table does not show its last trade');

    const sortedBy = async () => page.evaluate(() => torvikPage.table.order());
    const header = async (key) => (await page.$(`#trades .head span[data-key="${key}"]`)).click();
    await page.evaluate(() => { document.getElementById('trades').scrollTop = 0; });
    await header('profit');
    let order = await sortedBy();
    check(order.every((t, k) => k === 0 || trades.profit[order[k - 1]] <= trades.profit[t]), 'profit sort is not ascending');
    await header('profit');
    order = await sortedBy();
    check(order.every((t, k) => k === 0 || trades.profit[order[k - 1]] >= trades.profit[t]), 'second profit click is not descending');
    const firstRow = await page.evaluate(() => Number(document.querySelector('#trades .row[data-trade]').dataset.trade));
    check(firstRow === order[0], 'the first row shown is not the first of the sort');
    await header('openTime');
    order = await sortedBy();
    check(order.every((t, k) => k === 0 || trades.openTime[order[k - 1]] <= trades.openTime[t]), 'open-time sort is not ascending');

    // ---- a click on a trade: the chart moves to it and shows its levels
    const target = order[Math.floor(n / 2)];
    await page.evaluate((t) => {
      const box = document.getElementById('trades');
      box.scrollIntoView({ block: 'center' });
      box.scrollTop = Math.max(0, torvikPage.table.order().indexOf(t) * 22 - 100);
    }, target);
    await frames(page);
    const row = await (await page.$(`#trades .row[data-trade="${target}"]`)).boundingBox();
    await page.mouse.click(row.x + 40, row.y + row.height / 2);
    await frames(page);
    const shown = await page.evaluate((t) => ({ selected: torvikPage.selectedTrade(), range: torvikPage.visibleRange(),
      lines: torvikPage.priceLines(torvikPage.trade(t).chart), level: torvikPage.level(), trade: torvikPage.trade(t),
      tradeLine: torvikPage.tradeLine(torvikPage.trade(t).chart),
      markersShown: torvikPage.shownMarkerCount(torvikPage.trade(t).chart),
      markersAll: torvikPage.baseMarkers(torvikPage.trade(t).chart).length }), target);
    const tf = data.charts[shown.trade.chart].timeframe || 3600;
    check(shown.selected === target, `clicked trade ${target}, selected ${shown.selected}`);
    check(shown.range && shown.range.from <= shown.trade.openTime && shown.range.to >= shown.trade.closeTime - tf,
          `the chart shows ${JSON.stringify(shown.range)}, not trade #${shown.trade.ticket} ` +
          `(${shown.trade.openTime} to ${shown.trade.closeTime})`);
    const levels = [shown.trade.stopLoss, shown.trade.takeProfit].filter((p) => p > 0).sort();
    check(JSON.stringify([...shown.lines].sort()) === JSON.stringify(levels),
          `trade #${shown.trade.ticket} shows price lines ${shown.lines}, its levels are ${levels}`);
    check(shown.tradeLine.length >= 1 && shown.tradeLine.at(-1).value === shown.trade.closePrice,
          'no line from the entry to the exit of the selected trade');
    check(shown.level.index === 0 && shown.markersShown === shown.markersAll,
          `at the trade the chart shows ${shown.level.name} bars and ${shown.markersShown} of ${shown.markersAll} markers`);
    await page.evaluate(() => window.scrollTo(0, 0));
    await page.screenshot({ path: opt.screenshot.replace(/\.png$/, '-trade.png') });

    // ---- a click on a marker: the pointer shows that trade's levels, the click selects its row
    // An exit marker (a circle drawn on its price) clear of the others; the
    // selected trade's own once Escape has cleared the selection, if no other is in view.
    const found = await page.evaluate((selected) => {
      const ci = torvikPage.trade(selected).chart, all = [];
      for (const m of torvikPage.baseMarkers(ci)) {
        const i = Number(m.id.slice(1)), p = torvikPage.markerPoint(i, m.id[0] === 'e' ? 'entry' : 'exit');
        if (p) all.push({ i, exit: m.id[0] === 'x', ...p });
      }
      const pane = torvikPage.paneElement(ci).querySelector('canvas').getBoundingClientRect();  // the plot, not the axis
      const lone = all.filter((p) => p.exit && p.y > pane.top + 30 && p.y < pane.bottom - 10 &&
        p.x > pane.left + 10 && p.x < pane.right - 10 && all.every((q) => q === p || Math.hypot(q.x - p.x, q.y - p.y) > 40));
      // every such marker is drawn where its trade closed: its colour is at that point
      const plots = [...torvikPage.paneElement(ci).querySelectorAll('canvas')];
      const colourAt = (x, y) => plots.map((c) => {
        const r = c.getBoundingClientRect(), k = c.width / r.width;
        if (x < r.left || x >= r.right || y < r.top || y >= r.bottom) return null;
        return [...c.getContext('2d').getImageData(Math.round((x - r.left) * k), Math.round((y - r.top) * k), 1, 1).data];
      }).filter((px) => px && px[3] > 200);
      const misplaced = lone.filter((p) => {
        const want = torvikPage.trade(p.i).net < 0 ? [0xc6, 0x28, 0x28] : [0x2e, 0x7d, 0x32];
        p.colours = colourAt(p.x, p.y);
        return !p.colours.some((px) => Math.abs(px[0] - want[0]) + Math.abs(px[1] - want[1]) + Math.abs(px[2] - want[2]) < 60);
      }).map((p) => `${p.i} at ${Math.round(p.x)},${Math.round(p.y)}: ${JSON.stringify(p.colours)}`);
      return { pick: lone.find((p) => p.i !== selected) || lone[0] || null, misplaced, checked: lone.length };
    }, target);
    check(found.misplaced.length === 0, `exit markers not drawn at their trade's close: trades ${found.misplaced} of ${found.checked}`);
    const candidate = found.pick;
    if (candidate && candidate.i === target) {
      await page.keyboard.press('Escape');
      await frames(page);
      check(await page.evaluate(() => torvikPage.selectedTrade() === -1 && torvikPage.priceLines(0).length === 0),
            'Escape left a trade selected');
      // without the selected trade's levels the price scale changed: the marker moved
      Object.assign(candidate, await page.evaluate((i) => torvikPage.markerPoint(i, 'exit'), candidate.i));
    }
    if (candidate === null) {
      console.log(`${name}: no exit marker clear of the others in view; the marker click is not checked`);
    } else {
      await page.mouse.move(candidate.x, candidate.y);
      await frames(page);
      const hover = await page.evaluate((i) => ({ lines: torvikPage.priceLines(torvikPage.trade(i).chart),
                                                  trade: torvikPage.trade(i) }), candidate.i);
      const hoverLevels = [hover.trade.stopLoss, hover.trade.takeProfit].filter((p) => p > 0).sort();
      check(JSON.stringify([...hover.lines].sort()) === JSON.stringify(hoverLevels),
            `pointer on trade #${hover.trade.ticket}'s marker shows lines ${hover.lines}, not its levels ${hoverLevels}`);
      await page.mouse.click(candidate.x, candidate.y);
      await frames(page);
      const picked = await page.evaluate((i) => ({ selected: torvikPage.selectedTrade(),
        row: !!document.querySelector(`#trades .row.selected[data-trade="${i}"]`) }), candidate.i);
      check(picked.selected === candidate.i && picked.row,
            `clicked the marker of trade ${candidate.i}: selected ${picked.selected}, row shown: ${picked.row}`);
    }
  }

  // ---- price-axis labels fit: the scale is wider than its longest label
  const fit = await page.evaluate((longest) => {
    const ctx = document.createElement('canvas').getContext('2d');
    ctx.font = "12px -apple-system, BlinkMacSystemFont, 'Trebuchet MS', Roboto, Ubuntu, sans-serif";
    return { width: torvikPage.priceScaleWidth(), text: Math.max(...longest.map((s) => ctx.measureText(s).width)) };
  }, [Math.max(...data.equity.balance, ...data.equity.equity).toFixed(2),
      ...data.charts.map((c) => Math.max(...c.candles.high).toFixed(c.digits))]);
  check(fit.width >= fit.text + 4, `price axis ${fit.width}px wide for labels of ${fit.text.toFixed(1)}px`);
} finally {
  await browser.cleanUp();
}

if (failures.length) {
  console.log(`FAILED ${name}:\n  ` + failures.join('\n  '));
  process.exit(1);
}
console.log(`passed ${name}; screenshots: ${opt.screenshot}`);
