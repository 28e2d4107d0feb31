// index.html: the README's sections for users, the rain, the licence, and a
// word on the manual and the changes.
import { html, page, read, readmeSections, renderMarkdown, slug } from '../page.mjs';
import { rain } from './index-rain.mjs';

// The README's sections that the page shows, in order, and where the README's
// links to other files of the project lead on the site.
const sections = ['What it is', 'Install', 'Options', 'As a screensaver', 'Licence'];
const links = { CHANGELOG: 'changes.html', LICENSE: '#licence-text', 'man/glyphfall.6': 'manual.html' };

// `decoded` is the rain as decodeRain gives it; `latest` the newest CHANGELOG entry.
export function indexPage(common, decoded, latest) {
    const readme = readmeSections();
    const tagline = readme[''].find((t) => t.type === 'paragraph').text;
    const body = sections.map((name) => {
        if (!readme[name]) throw new Error(`README has no section "${name}" for the page`);
        const id = slug(name);
        let text = renderMarkdown(readme[name], name, common.home, links);
        if (name === 'Licence') {
            const paragraphs = read('LICENSE').trim().split(/\n\s*\n/).map((p) => `<p>${html(p.replace(/\n/g, ' '))}</p>`);
            text += `<div id="licence-text" class="licence">\n${paragraphs.join('\n')}\n</div>`;
        }
        return `<section id="${id}" aria-labelledby="${id}-h">\n<h2 id="${id}-h">${html(name)}</h2>\n${text}</section>`;
    });
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
<pre class="still" inert>${decoded.rows.join('\n')}</pre>
</div>
<button type="button" class="control" hidden>Pause</button>
<figcaption><code>glyphfall -r ${rain.seed}</code> in a terminal of ${rain.cols} × ${rain.rows}: its own output, frames ${rain.first} to
${rain.last} at ${rain.fps} a second.</figcaption>
</figure>`;
    const what = tagline.replace(/\.$/, '').toLowerCase();
    return page({
        ...common,
        title: `glyphfall: ${what}`,
        description: `glyphfall: ${what}. A small program for Linux terminals: install it, its options, its manual.`,
        style: `${common.style}\n/* The colours of the rain. */\n${decoded.css}\n`,
        script: '\n<script type="module" src="rain.js"></script>',
        body: `<h1>glyphfall</h1>\n<p class="tagline">${html(tagline)}</p>\n${figure}\n${body.join('\n')}`,
    });
}
