// Draws the rain's screen as HTML text: one line of spans per row, a class per
// colour of the 256-colour palette (c0 to c255) and `b` for bold. The build
// draws the still frame with it and the page the moving rain, so both look the
// same. A screen is two arrays over its cells, row after row: `glyphs`, one
// character each, and `styles`, each cell's classes ('' for none).

const escapes = { '&': '&amp;', '<': '&lt;', '>': '&gt;' };

export function drawRows(glyphs, styles, cols) {
    const lines = [];
    for (let start = 0; start < glyphs.length; start += cols) {
        let row = '';
        let open = '';
        for (let at = start; at < start + cols; at++) {
            const glyph = glyphs[at];
            // A blank keeps whatever span is open: only its background could
            // show, and the rain draws none.
            if (glyph !== ' ' && styles[at] !== open) {
                if (open) row += '</span>';
                if (styles[at]) row += `<span class="${styles[at]}">`;
                open = styles[at];
            }
            row += escapes[glyph] ?? glyph;
        }
        if (open) row += '</span>';
        lines.push(row);
    }
    return lines;
}

// One frame's changes made to a screen. Each changed cell, in order, is three
// characters: how many cells past the last change it lies and the index of
// its style in `names`, each plus 48 ('0'), then its glyph.
export function applyChanges(glyphs, styles, changes, names) {
    for (let i = 0, at = -1; i < changes.length; i += 3) {
        at += changes.charCodeAt(i) - 48;
        styles[at] = names[changes.charCodeAt(i + 1) - 48];
        glyphs[at] = changes[i + 2];
    }
}
