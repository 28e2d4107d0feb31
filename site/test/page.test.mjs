// The built home page in headless Chromium, served from the loopback address:
// what a visitor meets, with and without JavaScript, with and without the wish
// for less motion, on a phone's width and a desktop's.
//
// Usage: node --test site/test/*.test.mjs, after `make site`. GLYPHFALL_SITE
// is the built folder (build/site) and GLYPHFALL the program that made it
// (build/release/glyphfall).
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { gunzipSync } from 'node:zlib';
import puppeteer from 'puppeteer-core';
import lighthouse from 'lighthouse';
import axe from 'axe-core';
import { applyChanges } from '../draw.js';
import { paletteColour } from '../screens.mjs';
import { serve } from '../serve.mjs';
import { chromium } from './chromium.mjs';

const top = fileURLToPath(new URL('../..', import.meta.url));
const folder = process.env.GLYPHFALL_SITE ?? join(top, 'build', 'site');
const program = process.env.GLYPHFALL ?? join(top, 'build', 'release', 'glyphfall');
const pages = ['index.html', 'manual.html', 'changes.html', 'download.html', 'releases/index.html'];
const widths = [375, 1280];

let server;
let origin;
let browser;

before(async () => {
    server = await serve(folder);
    origin = `http://127.0.0.1:${server.address().port}`;
    browser = await puppeteer.launch(chromium);
});

after(async () => {
    await browser?.close();
    server?.close();
});

const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

// The rain as the page says it was recorded.
function figure() {
    const html = readFileSync(join(folder, 'index.html'), 'utf8');
    return Object.fromEntries([...html.matchAll(/data-(\w+)="(\d+)"/g)].map((m) => [m[1], Number(m[2])]));
}

// The program's frames, recorded again here and read without any terminal
// emulator: each is cursor home, then every cell in turn, a colour change
// (SGR 38;5;N) before a cell where the colour changes.
let recorded;
function recordedScreens() {
    if (recorded) return recorded;
    const { cols, rows, seed, first, last } = figure();
    const work = mkdtempSync(join(tmpdir(), 'glyphfall-rain-'));
    let text;
    try {
        execFileSync(join(top, 'site', 'record.sh'), [program, join(work, 'rain'), rows, cols, seed, first, last]
            .map(String));
        text = readFileSync(join(work, 'rain'), 'utf8');
    } finally {
        rmSync(work, { recursive: true, force: true });
    }
    const parts = text.split(/(?=\x1b\[H)/);
    recorded = parts.slice(2).map((frame, n) => {
        const cells = [];
        let colour = null;
        for (let i = 3; i < frame.length;) {
            const sgr = /^\x1b\[([0-9;]*)m/.exec(frame.slice(i, i + 16));
            if (sgr) {
                const colourSet = /^38;5;(\d+)$/.exec(sgr[1]);
                assert.ok(colourSet, `frame ${n}: an unexpected sequence ${JSON.stringify(sgr[0])}`);
                colour = Number(colourSet[1]);
                i += sgr[0].length;
            } else {
                assert.notEqual(frame[i], '\x1b', `frame ${n}: an unexpected sequence at ${i}`);
                cells.push({ glyph: frame[i], colour });
                i += 1;
            }
        }
        assert.equal(cells.length, rows * cols, `frame ${n} has ${cells.length} cells`);
        const lines = [];
        for (let y = 0; y < rows; y++) lines.push(cells.slice(y * cols, (y + 1) * cols).map((c) => c.glyph).join(''));
        return { text: lines.join('\n'), cells };
    });
    return recorded;
}

// A page with every console message, failed load and request kept.
async function open(path, { width = 1280, motion = 'no-preference', script = true } = {}) {
    const page = await browser.newPage();
    const seen = { errors: [], requests: [] };
    page.on('console', (message) => {
        if (message.type() === 'error') seen.errors.push(message.text());
    });
    page.on('pageerror', (error) => seen.errors.push(error.message));
    page.on('requestfailed', (request) => seen.errors.push(`${request.url()}: ${request.failure()?.errorText}`));
    page.on('response', (response) => {
        if (response.status() >= 400) seen.errors.push(`${response.url()}: ${response.status()}`);
    });
    page.on('request', (request) => seen.requests.push(request.url()));
    await page.setViewport({ width, height: 800 });
    await page.emulateMediaFeatures([{ name: 'prefers-reduced-motion', value: motion }]);
    await page.setJavaScriptEnabled(script);
    await page.goto(`${origin}/${path}`, { waitUntil: 'networkidle0' });
    return { page, seen };
}

const screenText = (page) => page.$eval('#rain .still', (pre) => pre.textContent);

// Waits until the rain shows something other than `text`; returns it.
async function changedFrom(page, text, why, timeout = 5000) {
    const start = Date.now();
    for (;;) {
        const now = await screenText(page);
        if (now !== text) return now;
        assert.ok(Date.now() - start < timeout, why);
        await sleep(50);
    }
}

test('each page loads with no console error and no request beyond the local server', async () => {
    for (const path of pages) {
        const { page, seen } = await open(path);
        if (path === 'index.html') {
            // Until the rain has moved: its frames loaded too.
            const first = await screenText(page);
            await changedFrom(page, first, 'the rain did not move');
        }
        assert.deepEqual(seen.errors, [], `${path}: errors`);
        const foreign = seen.requests.filter((url) => !url.startsWith(`${origin}/`) && !url.startsWith('data:'));
        assert.deepEqual(foreign, [], `${path}: requests beyond ${origin}`);
        await page.close();
    }
});

test('no page scrolls sideways at 375 or 1280 pixels, and the rain shows whole', async () => {
    for (const path of pages) {
        for (const width of widths) {
            const { page } = await open(path, { width });
            const { scroll, client } = await page.evaluate(() => ({
                scroll: document.documentElement.scrollWidth,
                client: document.documentElement.clientWidth,
            }));
            assert.ok(scroll <= client, `${path} at ${width} px: ${scroll} px wide in ${client}`);
            if (path === 'index.html') {
                const screen = await page.$eval('#rain .still', (pre) => [pre.scrollWidth, pre.clientWidth,
                    pre.scrollHeight, pre.clientHeight]);
                assert.ok(screen[0] <= screen[1] && screen[2] <= screen[3], `the rain is cut at ${width} px: ${screen}`);
            }
            await page.close();
        }
    }
});

test('every local link, anchor, script, stylesheet and image resolves', async () => {
    const ids = new Map();
    const targets = [];
    for (const path of pages) {
        const { page } = await open(path, { script: false });
        ids.set(path, new Set(await page.$$eval('[id]', (all) => all.map((e) => e.id))));
        const found = await page.evaluate(() => [
            ...[...document.querySelectorAll('a[href], link[href]')].map((e) => e.href),
            ...[...document.querySelectorAll('script[src], img[src]')].map((e) => e.src),
        ]);
        for (const url of found) targets.push({ from: path, url });
        const images = await page.$$eval('img', (all) => all.filter((i) => !i.complete || i.naturalWidth === 0)
            .map((i) => i.src));
        assert.deepEqual(images, [], `${path}: images that did not load`);
        await page.close();
    }
    const local = targets.filter((t) => t.url.startsWith(`${origin}/`));
    assert.ok(local.length > 20, `only ${local.length} local links found`);
    for (const { from, url } of local) {
        const { pathname, hash } = new URL(url);
        const response = await fetch(url);
        assert.equal(response.status, 200, `${from} links to ${url}`);
        if (hash) {
            const page = pathname === '/' ? 'index.html' : pathname.slice(1);
            assert.ok(ids.get(page)?.has(decodeURIComponent(hash.slice(1))), `${from} links to ${url}: no such anchor`);
        }
    }
    // What rain.js loads by itself.
    for (const file of ['rain.js', 'draw.js', 'rain.gz']) {
        assert.equal((await fetch(`${origin}/${file}`)).status, 200, file);
    }
});

test('axe-core finds no violation', async () => {
    const cases = [
        ...pages.flatMap((path) => widths.map((width) => ({ path, width, motion: 'no-preference' }))),
        { path: 'index.html', width: 1280, motion: 'reduce' },
    ];
    for (const { path, width, motion } of cases) {
        const { page } = await open(path, { width, motion });
        await page.evaluate(axe.source);
        const violations = await page.evaluate(async () => (await window.axe.run(document)).violations
            .map((v) => `${v.id}: ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`));
        assert.deepEqual(violations, [], `${path} at ${width} px, motion ${motion}`);
        await page.close();
    }
});

// Of performance, the score's metrics that time this machine's main thread
// (paints, blocking time, interactivity) are reported, not judged: they follow
// how busy the machine is, not the page. The rest of what the score weighs,
// the layout shift, must pass, and so must the page's weight; the other three
// categories must score 100.
const machineTimings = ['first-contentful-paint', 'largest-contentful-paint', 'speed-index', 'total-blocking-time',
    'max-potential-fid', 'interactive'];

test('Lighthouse scores 100 in accessibility, best practices and SEO, and performance passes but for the machine\'s timings, in one run', { timeout: 600000 }, async () => {
    const categories = ['performance', 'accessibility', 'best-practices', 'seo'];
    const failed = [];
    for (const path of pages) {
        const page = await browser.newPage();
        const result = await lighthouse(`${origin}/${path}`, { logLevel: 'error', onlyCategories: categories },
            undefined, page);
        await page.close();
        const { audits } = result.lhr;
        const scores = Object.fromEntries(categories.map((c) => [c, Math.round(result.lhr.categories[c].score * 100)]));
        const short = Object.values(audits)
            .filter((a) => ['binary', 'numeric'].includes(a.scoreDisplayMode) && a.score !== null && a.score < 1)
            .map((a) => `${a.id} ${a.displayValue || a.score}`);
        const line = `${path}: ${JSON.stringify(scores)}, ${audits['total-byte-weight'].numericValue} bytes, ` +
            `total blocking time ${Math.round(audits['total-blocking-time'].numericValue)} ms ${short.join('; ')}`;
        console.log(`lighthouse ${line}`);
        const performance = result.lhr.categories.performance.auditRefs
            .filter((ref) => (ref.weight > 0 && !machineTimings.includes(ref.id)) || ref.id === 'total-byte-weight')
            .map((ref) => audits[ref.id])
            .filter((a) => a.score === null || a.score < 1);
        if (!categories.slice(1).every((c) => scores[c] === 100) || performance.length > 0) {
            failed.push(`${line}; performance audits short: ${performance.map((a) => a.id).join(', ') || 'none'}`);
        }
    }
    assert.deepEqual(failed, []);
});

test('the rain plays the recording, stops on the control and goes on again', async () => {
    const screens = recordedScreens();
    const known = new Map(screens.map((s, n) => [s.text, n]));
    const { page } = await open('index.html');
    const button = await page.$('#rain .control');
    assert.equal(await button.evaluate((b) => b.textContent), 'Pause');

    // Frames change, and each one shown is a frame of the recording.
    let shown = await screenText(page);
    const seen = new Set([known.get(shown)]);
    while (seen.size < 4) {
        shown = await changedFrom(page, shown, 'the rain stopped');
        assert.ok(known.has(shown), 'the rain shows a screen that the program did not draw');
        seen.add(known.get(shown));
    }

    await button.click();
    assert.equal(await button.evaluate((b) => b.textContent), 'Play');
    const paused = await screenText(page);
    await sleep(600);
    assert.equal(await screenText(page), paused, 'the rain moved after Pause');

    await button.click();
    assert.equal(await button.evaluate((b) => b.textContent), 'Pause');
    await changedFrom(page, paused, 'the rain did not move again after Play');
    await page.close();
});

test('the rain rests while it is scrolled out of sight', async () => {
    const { page } = await open('index.html');
    const first = await screenText(page);
    await changedFrom(page, first, 'the rain did not move');
    await page.evaluate(() => window.scrollTo(0, document.documentElement.scrollHeight));
    await sleep(300);
    const away = await screenText(page);
    await sleep(600);
    assert.equal(await screenText(page), away, 'the rain moved out of sight');
    await page.evaluate(() => window.scrollTo(0, 0));
    await changedFrom(page, away, 'the rain did not move again in sight');
    await page.close();
});

test('under reduced motion the rain stands still until asked, and loads no frames', async () => {
    const [first] = recordedScreens();
    const { page, seen } = await open('index.html', { motion: 'reduce' });
    const button = await page.$('#rain .control');
    assert.equal(await button.evaluate((b) => b.textContent), 'Play');
    await sleep(600);
    assert.equal(await screenText(page), first.text);
    assert.ok(!seen.requests.some((url) => /rain\.gz/.test(url)), 'loaded the rain anyway');

    await button.click();
    await changedFrom(page, first.text, 'Play did not start the rain');
    await page.close();
});

test('without JavaScript the page shows the still frame, in its colours, and all its text', async () => {
    const [first] = recordedScreens();
    const plain = await open('index.html', { script: false, motion: 'reduce' });
    assert.equal(await screenText(plain.page), first.text, 'the still frame is not the recording\'s first');
    assert.equal(await plain.page.$eval('#rain .control', (b) => getComputedStyle(b).display), 'none');

    // Glyph by glyph: the colour class drawn, and the colour it gives.
    const drawn = await plain.page.$eval('#rain .still', (pre) => {
        const cells = [];
        const walk = (node, classes) => {
            for (const child of node.childNodes) {
                if (child.nodeType === Node.TEXT_NODE) {
                    const colour = getComputedStyle(child.parentElement).color;
                    for (const glyph of child.data) if (glyph !== '\n') cells.push({ glyph, classes, colour });
                } else {
                    walk(child, child.className);
                }
            }
        };
        walk(pre, '');
        return cells;
    });
    assert.equal(drawn.length, first.cells.length);
    const rgb = (hex) => `rgb(${[1, 3, 5].map((i) => parseInt(hex.slice(i, i + 2), 16)).join(', ')})`;
    first.cells.forEach((cell, i) => {
        if (cell.glyph === ' ') return;
        assert.equal(drawn[i].classes, `c${cell.colour} b`, `cell ${i} (${cell.glyph})`);
        assert.equal(drawn[i].colour, rgb(paletteColour(cell.colour)), `cell ${i} (${cell.glyph})`);
    });

    // The text of the page does not depend on the script.
    const text = (page) => page.$eval('main', (main) => {
        const copy = main.cloneNode(true);
        copy.querySelector('#rain').remove();
        return copy.innerText;
    });
    const scripted = await open('index.html', { motion: 'reduce' });
    assert.equal(await text(plain.page), await text(scripted.page));
    await plain.page.close();
    await scripted.page.close();
});

test('the rain is the program\'s own output: recorded again, every frame the page makes, cell by cell', async () => {
    const { first, last } = figure();
    const frames = recordedScreens();
    assert.equal(frames.length, last - first + 1);
    assert.ok(frames.every((f, n) => n === 0 || f.text !== frames[n - 1].text), 'two frames in a row alike');

    // What the page loads, made as it makes it, twice round.
    const rain = JSON.parse(gunzipSync(readFileSync(join(folder, 'rain.gz'))).toString('utf8'));
    assert.equal(rain.frames.length, frames.length);
    const glyphs = new Array(rain.rows * rain.cols).fill(' ');
    const styles = new Array(rain.rows * rain.cols).fill('');
    applyChanges(glyphs, styles, rain.first, rain.styles);
    for (let n = 0; n <= 2 * frames.length; n++) {
        const at = n % frames.length;
        if (n > 0) applyChanges(glyphs, styles, rain.frames[at], rain.styles);
        frames[at].cells.forEach((cell, i) => {
            assert.equal(glyphs[i], cell.glyph, `frame ${at}, cell ${i}`);
            if (cell.glyph !== ' ') assert.equal(styles[i], `c${cell.colour} b`, `frame ${at}, cell ${i} (${cell.glyph})`);
        });
    }
});

test('the page and the manual name every option of the program', async () => {
    const help = execFileSync(program, ['-h'], { encoding: 'utf8' });
    const options = [...help.matchAll(/^\t(-.)\t/gm)].map((m) => m[1]);
    assert.ok(options.length >= 5, `options in -h: ${options}`);
    const { page } = await open('index.html', { script: false });
    const table = await page.$$eval('#options tbody tr td:first-child', (cells) => cells.map((c) => c.textContent));
    assert.deepEqual(table.map((t) => t.split(' ')[0]).sort(), [...options].sort(), 'the options table');
    const manual = await open('manual.html', { script: false });
    const entries = await manual.page.$$eval('.manual dt', (all) => all.map((d) => d.textContent.split(' ')[0]));
    for (const option of options) assert.ok(entries.includes(option), `manual.html has no entry for ${option}`);
    const version = execFileSync(program, ['-V'], { encoding: 'utf8' }).split('\n')[0].split(' ')[1];
    assert.match(await page.$eval('footer', (f) => f.textContent), new RegExp(`glyphfall ${version.replace(/\./g, '\\.')}`));
    await page.close();
    await manual.page.close();
});

test('the changes hold every entry of CHANGELOG, the manual every section of the man page', async () => {
    const changelog = readFileSync(join(top, 'CHANGELOG'), 'utf8');
    const versions = [...changelog.matchAll(/^\S+ \(([^)]+)\)/gm)].map((m) => m[1]);
    const items = changelog.split('\n').filter((line) => /^ {2}\* /.test(line)).length;
    const changes = await open('changes.html', { script: false });
    assert.deepEqual(await changes.page.$$eval('main h2', (all) => all.map((h) => h.textContent.split(' ')[0])),
        versions);
    assert.equal(await changes.page.$$eval('main li', (all) => all.length), items);

    const sections = [...readFileSync(join(top, 'man', 'glyphfall.6'), 'utf8').matchAll(/^\.SH "?([^"\n]+)"?$/gm)]
        .map((m) => m[1]);
    const manual = await open('manual.html', { script: false });
    assert.deepEqual(await manual.page.$$eval('.manual h2', (all) => all.map((h) => h.textContent.replace(/\s+/g, ' '))),
        sections);
    await changes.page.close();
    await manual.page.close();
});

test('at 375 pixels no name in the download page\'s archive table breaks inside', async () => {
    const { page } = await open('download.html', { width: 375, script: false });
    // Each word of the first two columns, as the page lays it out: one line box.
    const broken = await page.$$eval('table.archives tbody td:nth-child(-n+2)', (cells) => cells.flatMap((cell) => {
        const found = [];
        const walker = document.createTreeWalker(cell, NodeFilter.SHOW_TEXT);
        for (let node = walker.nextNode(); node; node = walker.nextNode()) {
            for (const m of node.data.matchAll(/\S+/g)) {
                const range = document.createRange();
                range.setStart(node, m.index);
                range.setEnd(node, m.index + m[0].length);
                const lines = new Set([...range.getClientRects()].map((r) => Math.round(r.top)));
                if (lines.size > 1) found.push(`${m[0]} on ${lines.size} lines`);
            }
        }
        return found;
    }));
    const words = await page.$$eval('table.archives tbody td:nth-child(-n+2)', (cells) => cells.length);
    assert.equal(words, 18, 'the archive table has not nine rows of two names');
    assert.deepEqual(broken, []);
    await page.close();
});
