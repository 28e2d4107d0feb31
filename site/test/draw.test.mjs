// draw.js, which draws both the still frame and the moving rain: a small
// screen written into the emulator, and the palette against xterm's values.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import headless from '@xterm/headless';
import { drawRows, paletteColour } from '../draw.js';

async function screen(bytes, rows, cols) {
    const term = new headless.Terminal({ rows, cols, allowProposedApi: true });
    await new Promise((done) => term.write(bytes, done));
    const used = new Set();
    const lines = drawRows(term.buffer.active, rows, cols, used);
    term.dispose();
    return { lines, used };
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

test('the palette is xterm\'s', () => {
    const cases = [
        [0, '#000000'], [1, '#cd0000'], [15, '#ffffff'],   // the sixteen colours
        [16, '#000000'], [29, '#00875f'], [48, '#00ff87'], [196, '#ff0000'], [231, '#ffffff'],   // the cube
        [232, '#080808'], [238, '#444444'], [255, '#eeeeee'],   // the greys
    ];
    for (const [index, colour] of cases) assert.equal(paletteColour(index), colour, `colour ${index}`);
});
