// What every page of the site shares: the template around a body, escaping,
// sizes as a reader reads them, and the README cut into the sections that
// the pages show.
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { marked } from 'marked';

export const site = fileURLToPath(new URL('.', import.meta.url));
export const top = join(site, '..');

export const html = (text) =>
    text.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;').replace(/"/g, '&quot;');
export const slug = (text) =>
    text
        .toLowerCase()
        .replace(/[^a-z0-9]+/g, '-')
        .replace(/^-|-$/g, '');
export const read = (path) => readFileSync(join(top, path), 'utf8');
export const size = (bytes) =>
    (bytes < 1e6 ? `${Math.max(1, Math.round(bytes / 1e3))} kB` : `${(bytes / 1e6).toFixed(1)} MB`);

// The page around a body: the same head, navigation and foot everywhere.
// The stylesheet is in the page: it is small, and the first paint waits for
// no second request.
// `root` leads from the page's folder to the top of the site.
export function page({ title, description, body, script = '', version, home, licence, style, root = '' }) {
    return `<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>${html(title)}</title>
<meta name="description" content="${html(description)}">
<link rel="icon" href="${root}icon.svg" type="image/svg+xml">
<style>
${style}</style>${script}
</head>
<body>
<header>
<nav aria-label="Site">
<a href="${root}index.html" class="name">glyphfall</a>
<a href="${root}index.html#install">Install</a>
<a href="${root}download.html">Download</a>
<a href="${root}index.html#options">Options</a>
<a href="${root}manual.html">Manual</a>
<a href="${root}changes.html">Changes</a>
</nav>
</header>
<main>
${body}
</main>
<footer>
<p>glyphfall ${html(version)} · <a href="${html(home)}">${html(home.replace(/^https?:\/\//, ''))}</a> · <a href="${root}index.html#licence">${html(licence)}</a></p>
</footer>
</body>
</html>
`;
}

// The README cut at its second-level headings: the text before the first one,
// then each section by its heading.
export function readmeSections() {
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

// Links to the home page itself lead to the page's own files; `links` maps the
// README's links to other files of the project to where they lead on the site.
export function renderMarkdown(tokens, where, home, links) {
    const list = Object.assign([...tokens], { links: {} });
    marked.walkTokens(list, (token) => {
        if (token.type !== 'link' && token.type !== 'image') return;
        if (token.href.startsWith(`${home}/`)) {
            token.href = token.href.slice(home.length + 1) || 'index.html';
            return;
        }
        if (/^([a-z]+:|#)/.test(token.href)) return;
        if (!(token.href in links)) {
            throw new Error(`README (${where}) links to ${token.href}, which the page lacks: map it in site/pages/index.mjs`);
        }
        token.href = links[token.href];
    });
    return marked.parser(list);
}
