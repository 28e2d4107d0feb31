// The rain on the index page: the program's own output, recorded by
// site/record.sh and decoded here by a terminal emulator.
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { applyChanges, drawRows } from '../draw.js';
import { site } from '../page.mjs';
import { encodeChanges, paletteColour, readScreens } from '../screens.mjs';

// What site/record.sh records by default.
export const rain = { rows: 24, cols: 80, seed: 20241, first: 61, last: 160, fps: 10 };

export function recordRain(program) {
    const work = mkdtempSync(join(tmpdir(), 'glyphfall-site-'));
    try {
        execFileSync(join(site, 'record.sh'), [program, join(work, 'rain'), rain.rows, rain.cols, rain.seed,
            rain.first, rain.last].map(String), { stdio: 'inherit' });
        return readFileSync(join(work, 'rain'));
    } finally {
        rmSync(work, { recursive: true, force: true });
    }
}

// The still frame, for visitors without JavaScript or who ask for less
// motion; the colours that the whole recording uses, for the stylesheet; and
// what the page replays (rain.gz): the first screen as changes to a blank
// one, then for each frame the changes from the one before, the first
// frame's from the last, as the rain goes round.
export async function decodeRain(recording) {
    const parts = recording.toString('utf8').split(/(?=\x1b\[H)/);
    const used = new Set();
    const screens = await readScreens(parts[0] + parts[1], parts.slice(2), rain.rows, rain.cols, used);
    const cells = rain.rows * rain.cols;
    const blank = { glyphs: new Array(cells).fill(' '), styles: new Array(cells).fill('') };
    const styles = [''];
    const first = encodeChanges(blank, screens[0], styles);
    const frames = screens.map((to, n) => encodeChanges(screens[(n || screens.length) - 1], to, styles));
    const data = { rows: rain.rows, cols: rain.cols, styles, first, frames };

    // Replayed as the page does it, twice round: every screen the emulator's.
    const replay = { glyphs: [...blank.glyphs], styles: [...blank.styles] };
    applyChanges(replay.glyphs, replay.styles, first, styles);
    for (let n = 1; n <= 2 * screens.length; n++) {
        const at = n % screens.length;
        applyChanges(replay.glyphs, replay.styles, frames[at], styles);
        const same = (list) => replay[list].join('\n') === screens[at][list].join('\n');
        if (!same('glyphs') || !same('styles')) {
            throw new Error(`the changes replayed do not give frame ${at}`);
        }
    }
    const css = [...used]
        .sort((x, y) => x - y)
        .map((index) => `.screen .c${index} { color: ${paletteColour(index)}; }`)
        .join('\n');
    return { rows: drawRows(screens[0].glyphs, screens[0].styles, rain.cols), css, data };
}
