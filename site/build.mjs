// Builds the home page from the project's own sources, so the page never says
// something the project does not:
//   index.html   the README's sections for users, the rain, the licence
//   manual.html  the manual page, as mandoc renders it
//   changes.html CHANGELOG, version by version
//   rain.gz      the program's own output, recorded by site/record.sh
// plus the scripts that replay the rain (rain.js, draw.js) and the terminal
// emulator they feed, taken from node_modules. Nothing is fetched from
// another host.
//
// Usage: node site/build.mjs GLYPHFALL OUTPUT
import { execFileSync } from 'node:child_process';
import { copyFileSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { gzipSync } from 'node:zlib';
import { marked } from 'marked';
import headless from '@xterm/headless';
import { drawRows, paletteColour } from './draw.js';

const site = fileURLToPath(new URL('.', import.meta.url));
const top = join(site, '..');
const require = createRequire(import.meta.url);

// The README's sections that the page shows, in order, and where the README's
// links to other files of the project lead on the page.
const sections = ['What it is', 'Install', 'Options', 'As a screensaver', 'Licence'];
const links = { CHANGELOG: 'changes.html', LICENSE: '#licence-text', 'man/glyphfall.6': 'manual.html' };

// The rain on the page: what site/record.sh records by default.
const rain = { rows: 24, cols: 80, seed: 20241, first: 61, last: 160, fps: 10 };

const html = (text) =>
    text.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;').replace(/"/g, '&quot;');
const slug = (text) =>
    text
        .toLowerCase()
        .replace(/[^a-z0-9]+/g, '-')
        .replace(/^-|-$/g, '');
const read = (path) => readFileSync(join(top, path), 'utf8');

// The page around a body: the same head, navigation and foot everywhere.
// The stylesheet is in the page: it is small, and the first paint waits for
// no second request.
function page({ title, description, body, script = '', version, home, licence, style }) {
    return `<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>${html(title)}</title>
<meta name="description" content="${html(description)}">
<link rel="icon" href="icon.svg" type="image/svg+xml">
<style>
${style}</style>${script}
</head>
<body>
<header>
<nav aria-label="Site">
<a href="index.html" class="name">glyphfall</a>
<a href="index.html#install">Install</a>
<a href="index.html#options">Options</a>
<a href="manual.html">Manual</a>
<a href="changes.html">Changes</a>
</nav>
</header>
<main>
${body}
</main>
<footer>
<p>glyphfall ${html(version)} · <a href="${html(home)}">${html(home.replace(/^https?:\/\//, ''))}</a> · <a href="index.html#licence">${html(licence)}</a></p>
</footer>
</body>
</html>
`;
}

// "glyphfall 0.2.4" and the home page, as `glyphfall -V` prints them.
function versionOf(program) {
    const [first, home] = execFileSync(program, ['-V'], { encoding: 'utf8' }).trim().split('\n');
    const version = first.split(' ')[1];
    if (!version || !/^https?:\/\//.test(home ?? '')) throw new Error(`unexpected -V output: ${first} ${home}`);
    return { version, home };
}

// The README cut at its second-level headings: the text before the first one,
// then each section by its heading.
function readmeSections() {
    const tokens = marked.lexer(read('README.md'));
    const parts = { '': [] };
    let current = '';
    for (const token of tokens) {
        if (token.type === 'heading' && token.depth === 2) {
            current = token.text;
            parts[current] = [];
        } else if (token.type !== 'heading' || token.depth > 2) {
            parts[current].push(token);
        }
    }
    return parts;
}

function renderMarkdown(tokens, where) {
    const list = Object.assign([...tokens], { links: {} });
    marked.walkTokens(list, (token) => {
        if (token.type !== 'link' && token.type !== 'image') return;
        if (/^([a-z]+:|#)/.test(token.href)) return;
        if (!(token.href in links)) {
            throw new Error(`README (${where}) links to ${token.href}, which the page lacks: map it in site/build.mjs`);
        }
        token.href = links[token.href];
    });
    return marked.parser(list);
}

// The rain drawn by a terminal emulator: the still frame, for visitors without
// JavaScript or who ask for less motion, and the colours that the whole
// recording uses, for the stylesheet.
async function drawRain(parts) {
    const term = new headless.Terminal({ rows: rain.rows, cols: rain.cols, allowProposedApi: true });
    const write = (bytes) => new Promise((done) => term.write(bytes, done));
    const used = new Set();
    await write(parts[0] + parts[1] + parts[2]);
    const still = drawRows(term.buffer.active, rain.rows, rain.cols, used);
    for (const frame of parts.slice(3)) {
        await write(frame);
        drawRows(term.buffer.active, rain.rows, rain.cols, used);
    }
    term.dispose();
    const css = [...used]
        .sort((x, y) => x - y)
        .map((index) => `.screen .c${index} { color: ${paletteColour(index)}; }`)
        .join('\n');
    return { rows: still, css };
}

function changes() {
    const entries = [];
    let entry;
    let item;
    for (const line of read('CHANGELOG').split('\n')) {
        let m;
        if ((m = /^(\S+) \(([^)]+)\) ([^;]+);/.exec(line))) {
            entry = { version: m[2], items: [] };
            entries.push(entry);
        } else if ((m = /^ {2}\* (.*)/.exec(line))) {
            item = [m[1]];
            entry.items.push(item);
        } else if ((m = /^ {4}(\S.*)/.exec(line)) && item) {
            item.push(m[1]);
        } else if ((m = /^ -- (.+?) <[^>]*> {2}(.+)$/.exec(line))) {
            entry.date = new Date(m[2]);
            item = undefined;
        } else if (line.trim() !== '') {
            throw new Error(`CHANGELOG: a line this page cannot read: ${line}`);
        }
    }
    const inline = (text) => html(text).replace(/`([^`]+)`/g, '<code>$1</code>');
    return entries.map((e) => ({
        ...e,
        day: e.date.toISOString().slice(0, 10),
        html: e.items.map((lines) => `<li>${inline(lines.join(' '))}</li>`).join('\n'),
    }));
}

function manual() {
    const out = execFileSync('mandoc', ['-T', 'html', '-O', 'fragment', join(top, 'man/glyphfall.6')], {
        encoding: 'utf8',
    });
    // The page's own title is its one first-level heading.
    return out
        .replace(/<h2 class="Ss"([^]*?)<\/h2>/g, '<h3 class="Ss"$1</h3>')
        .replace(/<h1 class="Sh"([^]*?)<\/h1>/g, '<h2 class="Sh"$1</h2>');
}

async function main() {
    const [program, output] = process.argv.slice(2);
    if (!program || !output) throw new Error('usage: node site/build.mjs GLYPHFALL OUTPUT');
    const out = resolve(output);
    rmSync(out, { recursive: true, force: true });
    mkdirSync(out, { recursive: true });
    const { version, home } = versionOf(program);
    const css = readFileSync(join(site, 'site.css'), 'utf8');
    const licence = read('LICENSE').split('\n')[0];

    const work = mkdtempSync(join(tmpdir(), 'glyphfall-site-'));
    let recording;
    try {
        execFileSync(join(site, 'record.sh'), [program, join(work, 'rain'), rain.rows, rain.cols, rain.seed,
            rain.first, rain.last].map(String), { stdio: 'inherit' });
        recording = readFileSync(join(work, 'rain'));
    } finally {
        rmSync(work, { recursive: true, force: true });
    }
    writeFileSync(join(out, 'rain.gz'), gzipSync(recording, { level: 9 }));
    const parts = recording.toString('utf8').split(/(?=\x1b\[H)/);
    const still = await drawRain(parts);

    const readme = readmeSections();
    const tagline = readme[''].find((t) => t.type === 'paragraph').text;
    const body = sections.map((name) => {
        if (!readme[name]) throw new Error(`README has no section "${name}" for the page`);
        const id = slug(name);
        let text = renderMarkdown(readme[name], name);
        if (name === 'Licence') {
            const paragraphs = read('LICENSE').trim().split(/\n\s*\n/).map((p) => `<p>${html(p.replace(/\n/g, ' '))}</p>`);
            text += `<div id="licence-text" class="licence">\n${paragraphs.join('\n')}\n</div>`;
        }
        return `<section id="${id}" aria-labelledby="${id}-h">\n<h2 id="${id}-h">${html(name)}</h2>\n${text}</section>`;
    });
    const log = changes();
    const latest = log[0];
    body.splice(body.length - 1, 0,
        `<section id="manual" aria-labelledby="manual-h">\n<h2 id="manual-h">Manual</h2>\n` +
            `<p>The whole manual page, <a href="manual.html">glyphfall(6)</a>: every option, the exit status, ` +
            `the signals and examples. Once installed: <code>man 6 glyphfall</code>.</p>\n</section>`,
        `<section id="changes" aria-labelledby="changes-h">\n<h2 id="changes-h">Changes</h2>\n` +
            `<p>Version ${html(latest.version)}, <time datetime="${latest.day}">${latest.day}</time>. ` +
            `<a href="changes.html">What changed in each version</a>.</p>\n</section>`);

    // The glyphs are a picture, not text to read, find or select: the screen is
    // an image to assistive technology, and its text is inert.
    const figure = `<figure class="rain" id="rain" data-cols="${rain.cols}" data-rows="${rain.rows}" data-fps="${rain.fps}"
    data-seed="${rain.seed}" data-first="${rain.first}" data-last="${rain.last}">
<div class="screen" role="img" aria-label="Green characters raining down a black terminal screen">
<pre class="still" inert>${still.rows.join('\n')}</pre>
</div>
<button type="button" class="control" hidden>Pause</button>
<figcaption><code>glyphfall -r ${rain.seed}</code> in a terminal of ${rain.cols} × ${rain.rows}: its own output, frames ${rain.first} to
${rain.last} at ${rain.fps} a second.</figcaption>
</figure>`;
    const description = `glyphfall: ${tagline.replace(/\.$/, '').toLowerCase()}. A small program for Linux terminals: install it, its options, its manual.`;
    writeFileSync(join(out, 'index.html'), page({
        title: `glyphfall: ${tagline.replace(/\.$/, '').toLowerCase()}`,
        description,
        version,
        home,
        licence,
        style: `${css}\n/* The colours of the rain. */\n${still.css}\n`,
        script: '\n<script type="module" src="rain.js"></script>',
        body: `<h1>glyphfall</h1>\n<p class="tagline">${html(tagline)}</p>\n${figure}\n${body.join('\n')}`,
    }));
    writeFileSync(join(out, 'manual.html'), page({
        title: 'glyphfall(6): the manual page',
        description: 'The manual page of glyphfall: its options, exit status, signals and examples.',
        version,
        home,
        licence,
        style: css,
        body: `<h1>glyphfall(6)</h1>\n<div class="manual">\n${manual()}</div>`,
    }));
    writeFileSync(join(out, 'changes.html'), page({
        title: 'glyphfall: changes',
        description: 'What changed in each version of glyphfall.',
        version,
        home,
        licence,
        style: css,
        body: `<h1>Changes</h1>\n${log.map((e) => `<section id="v${html(e.version)}" aria-labelledby="v${html(e.version)}-h">
<h2 id="v${html(e.version)}-h">${html(e.version)} <time datetime="${e.day}">${e.day}</time></h2>
<ul>
${e.html}
</ul>
</section>`).join('\n')}`,
    }));

    for (const file of ['rain.js', 'draw.js', 'icon.svg']) copyFileSync(join(site, file), join(out, file));
    // The emulator, a CommonJS bundle, made a module for the browser; without
    // the pointer to a source map that is not shipped.
    const emulator = readFileSync(require.resolve('@xterm/headless'), 'utf8').replace(/\n\/\/# sourceMappingURL=\S+\s*$/, '\n');
    writeFileSync(join(out, 'emulator.js'), `const exports = {};\n${emulator}export const { Terminal } = exports;\n`);
}

await main();
