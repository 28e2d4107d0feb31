// What draws the rain, at build time and on the page: small screens written
// into the emulator and read as cells (screens.mjs), drawn as rows (draw.js),
// the changes between two screens and their replay, and the palette against
// xterm's values.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { applyChanges, drawRows } from '../draw.js';
import { encodeChanges, paletteColour, readScreens } from '../screens.mjs';

async function screen(bytes, rows, cols) {
    const used = new Set();
    const [cells] = await readScreens('', [bytes], rows, cols, used);
    return { lines: drawRows(cells.glyphs, cells.styles, cols), used, cells };
}

test('a screen is drawn as rows of text with a class per colour', async () => {
    const cases = [
        {
            name: 'one span for a run of one colour; blanks stay in the span open',
            bytes: '\x1b[38;5;48mab c\x1b[38;5;231md',
            lines: ['<span class="c48">ab c</span><span class="c231">d </span>'],
            used: [48, 231],
        },
        {
            name: 'bold as its own class; blanks before the first glyph outside any span',
            bytes: '\x1b[1m  \x1b[38;5;29mx\x1b[0my',
            lines: ['  <span class="c29 b">x</span>y  '],
            used: [29],
        },
        {
            name: 'markup characters escaped',
            bytes: '\x1b[38;5;35m<&>',
            lines: ['<span class="c35">&lt;&amp;&gt;   </span>'],
            used: [35],
        },
        {
            name: 'rows wrap at the right margin, as the program relies on',
            bytes: '\x1b[38;5;41mabcdefgh',
            lines: ['<span class="c41">abcdef</span>', '<span class="c41">gh    </span>'],
            rows: 2,
            used: [41],
        },
    ];
    for (const c of cases) {
        const { lines, used } = await screen(c.bytes, c.rows ?? 1, 6);
        assert.deepEqual(lines, c.lines, c.name);
        assert.deepEqual([...used].sort((a, b) => a - b), c.used, c.name);
    }
});

test('a colour outside the palette is refused, not drawn in the wrong colour', async () => {
    await assert.rejects(screen('\x1b[38;2;1;2;3mx', 1, 4), /outside the palette/);
});

test('the changes from one screen to the next, made again, give the next', async () => {
    // 3 rows of 40 cells: a change can lie a whole screen past the last.
    const cols = 40;
    const cases = [
        { name: 'from a blank screen', from: '', to: '\x1b[38;5;48mab\x1b[1mc' },
        { name: 'a glyph alone, the colour alone, at both ends of the screen',
            from: '\x1b[38;5;48mab', to: '\x1b[38;5;48mxb\x1b[H\x1b[3;40H\x1b[38;5;231mz' },
        { name: 'the last cell only, the whole screen past the start', from: '', to: '\x1b[3;40Hq' },
        { name: 'a glyph gone, and one whose colour alone changes where nothing shows',
            from: '\x1b[38;5;48mab', to: '\x1b[38;5;29m  ' },
        { name: 'no change at all', from: '\x1b[38;5;48mab', to: '\x1b[38;5;48mab' },
    ];
    for (const c of cases) {
        const [from] = await readScreens('', [c.from], 3, cols);
        const [to] = await readScreens('', [c.to], 3, cols);
        const names = [''];
        const changes = encodeChanges(from, to, names);
        const glyphs = [...from.glyphs];
        const styles = [...from.styles];
        applyChanges(glyphs, styles, changes, names);
        assert.deepEqual({ glyphs, styles }, to, c.name);
        const differ = to.glyphs.filter((g, at) => g !== from.glyphs[at] || to.styles[at] !== from.styles[at]).length;
        assert.equal(changes.length, 3 * differ, `${c.name}: three characters for each cell that differs`);
    }
    // A blank cell has no style, whatever colour was set when it was written.
    const [blank] = await readScreens('', ['\x1b[38;5;48m a'], 1, 4);
    assert.deepEqual(blank.styles, ['', 'c48', '', '']);
});

test('the palette is xterm\'s', () => {
    const cases = [
        [0, '#000000'], [1, '#cd0000'], [15, '#ffffff'],   // the sixteen colours
        [16, '#000000'], [29, '#00875f'], [48, '#00ff87'], [196, '#ff0000'], [231, '#ffffff'],   // the cube
        [232, '#080808'], [238, '#444444'], [255, '#eeeeee'],   // the greys
    ];
    for (const [index, colour] of cases) assert.equal(paletteColour(index), colour, `colour ${index}`);
});
