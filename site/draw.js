// Draws a terminal's screen as HTML text: one line of spans per row, a class
// per colour of the 256-colour palette (c0 to c255) and `b` for bold. The
// build draws the still frame with it and the page draws the moving rain, so
// both look the same. `buffer` is an emulator's active buffer (xterm.js API).

const escapes = { '&': '&amp;', '<': '&lt;', '>': '&gt;' };

// Returns the rows as HTML; adds the palette indices drawn to `used`.
export function drawRows(buffer, rows, cols, used = new Set()) {
    const lines = [];
    let cell; // one cell object, read into again and again
    for (let y = 0; y < rows; y++) {
        const line = buffer.getLine(y);
        let row = '';
        let open = '';
        for (let x = 0; x < cols; x++) {
            cell = line.getCell(x, cell);
            const glyph = cell.getChars() || ' ';
            // A blank keeps whatever span is open: only its background could
            // show, and the rain draws none.
            if (glyph !== ' ') {
                let style = '';
                if (cell.isFgPalette()) {
                    used.add(cell.getFgColor());
                    style = `c${cell.getFgColor()}`;
                } else if (!cell.isFgDefault()) {
                    throw new Error(`a colour outside the palette at column ${x}, row ${y}`);
                }
                if (cell.isBold()) style += ' b';
                if (style !== open) {
                    if (open) row += '</span>';
                    if (style) row += `<span class="${style.trim()}">`;
                    open = style;
                }
            }
            row += escapes[glyph] ?? glyph;
        }
        if (open) row += '</span>';
        lines.push(row);
    }
    return lines;
}

// The colours of an xterm-like terminal's 256-colour palette, as CSS.
export function paletteColour(index) {
    const base = ['#000000', '#cd0000', '#00cd00', '#cdcd00', '#0000ee', '#cd00cd', '#00cdcd', '#e5e5e5',
        '#7f7f7f', '#ff0000', '#00ff00', '#ffff00', '#5c5cff', '#ff00ff', '#00ffff', '#ffffff'];
    if (index < 16) return base[index];
    const hex = (v) => v.toString(16).padStart(2, '0');
    if (index >= 232) {
        const grey = hex(8 + 10 * (index - 232));
        return `#${grey}${grey}${grey}`;
    }
    const level = (n) => hex(n === 0 ? 0 : 55 + 40 * n);
    const i = index - 16;
    return `#${level(Math.floor(i / 36))}${level(Math.floor(i / 6) % 6)}${level(i % 6)}`;
}
