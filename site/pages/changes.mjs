// changes.html: CHANGELOG, version by version. The other pages take the
// newest version and the released one's day from here too.
import { html, page, read } from '../page.mjs';

// The entries, newest first: { version, day, html } with the items as <li>s.
export function changelog() {
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

export function changesPage(common, log) {
    return page({
        ...common,
        title: 'glyphfall: changes',
        description: 'What changed in each version of glyphfall.',
        body: `<h1>Changes</h1>\n${log.map((e) => `<section id="v${html(e.version)}" aria-labelledby="v${html(e.version)}-h">
<h2 id="v${html(e.version)}-h">${html(e.version)} <time datetime="${e.day}">${e.day}</time></h2>
<ul>
${e.html}
</ul>
</section>`).join('\n')}`,
    });
}
