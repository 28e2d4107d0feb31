// The rain's recording read by a terminal emulator at build time, screen by
// screen, and what changes from one screen to the next, which is all the page
// ships (draw.js makes the changes). The browser gets no emulator.
import headless from '@xterm/headless';

// The screens after each of `frames`, written after `setup`, as draw.js takes
// them ({ glyphs, styles }); the palette indices drawn are added to `used`.
export async function readScreens(setup, frames, rows, cols, used = new Set()) {
    const term = new headless.Terminal({ rows, cols, allowProposedApi: true });
    const write = (bytes) => new Promise((done) => term.write(bytes, done));
    const screens = [];
    await write(setup);
    for (const frame of frames) {
        await write(frame);
        screens.push(readScreen(term.buffer.active, rows, cols, used));
    }
    term.dispose();
    return screens;
}

// A blank cell has no style: only its background could show, and the rain
// draws none, so a blank whose colour alone changes is no change.
export function readScreen(buffer, rows, cols, used = new Set()) {
    const glyphs = [];
    const styles = [];
    let cell; // one cell object, read into again and again
    for (let y = 0; y < rows; y++) {
        const line = buffer.getLine(y);
        for (let x = 0; x < cols; x++) {
            cell = line.getCell(x, cell);
            const glyph = cell.getChars() || ' ';
            let style = '';
            if (glyph !== ' ') {
                if (cell.isFgPalette()) {
                    used.add(cell.getFgColor());
                    style = `c${cell.getFgColor()}`;
                } else if (!cell.isFgDefault()) {
                    throw new Error(`a colour outside the palette at column ${x}, row ${y}`);
                }
                if (cell.isBold()) style = `${style} b`.trim();
            }
            if (glyph.length !== 1) throw new Error(`a glyph of more than one character at column ${x}, row ${y}`);
            glyphs.push(glyph);
            styles.push(style);
        }
    }
    return { glyphs, styles };
}

// The changes from screen `from` to screen `to`, as applyChanges reads them;
// `names` lists the styles, and gets those it lacks.
export function encodeChanges(from, to, names) {
    let out = '';
    let last = -1;
    for (let at = 0; at < to.glyphs.length; at++) {
        if (from.glyphs[at] === to.glyphs[at] && from.styles[at] === to.styles[at]) continue;
        let style = names.indexOf(to.styles[at]);
        if (style < 0) style = names.push(to.styles[at]) - 1;
        out += String.fromCharCode(48 + at - last, 48 + style) + to.glyphs[at];
        last = at;
    }
    return out;
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
