// manual.html: the manual page, as mandoc renders it.
import { execFileSync } from 'node:child_process';
import { join } from 'node:path';
import { page, top } from '../page.mjs';

export function manualPage(common) {
    const out = execFileSync('mandoc', ['-T', 'html', '-O', 'fragment', join(top, 'man/glyphfall.6')], {
        encoding: 'utf8',
    });
    // The page's own title is its one first-level heading.
    const manual = out
        .replace(/<h2 class="Ss"([^]*?)<\/h2>/g, '<h3 class="Ss"$1</h3>')
        .replace(/<h1 class="Sh"([^]*?)<\/h1>/g, '<h2 class="Sh"$1</h2>');
    return page({
        ...common,
        title: 'glyphfall(6): the manual page',
        description: 'The manual page of glyphfall: its options, exit status, signals and examples.',
        body: `<h1>glyphfall(6)</h1>\n<div class="manual">\n${manual}</div>`,
    });
}
