// The rain on the home page: the program's recorded bytes (rain.gz) fed to a
// terminal emulator frame after frame, at the program's default speed, and
// its screen drawn as text into the still frame's place. Without this script,
// or for visitors who ask for less motion, the page keeps the still frame: the
// recording's first, drawn at build time by the same code (draw.js). The
// emulator is loaded only when the rain is to move.
import { drawRows } from './draw.js';

const figure = document.getElementById('rain');
const screen = figure.querySelector('.still');
const button = figure.querySelector('.control');
const cols = Number(figure.dataset.cols);
const rows = Number(figure.dataset.rows);
const period = 1000 / Number(figure.dataset.fps);
const calm = window.matchMedia('(prefers-reduced-motion: reduce)');

let term = null;
let starting = null;
let frames = [];
let next = 0;
let timer = 0;
let seen = true; // the rain is on the screen: off it, it rests

async function recording() {
    const response = await fetch('rain.gz');
    if (!response.ok) throw new Error(`rain.gz: ${response.status}`);
    const text = await new Response(response.body.pipeThrough(new DecompressionStream('gzip'))).text();
    // The set-up ends with a cursor home, and every frame starts with one.
    return text.split(/(?=\x1b\[H)/);
}

async function start() {
    const [parts, { Terminal }] = await Promise.all([recording(), import('./emulator.js')]);
    term = new Terminal({ cols, rows, scrollback: 0, allowProposedApi: true });
    term.write(parts[0] + parts[1]);
    frames = parts.slice(2);
    // The still frame is the recording's first: the rain goes on from it.
    next = 1;
}

// One frame into the emulator, its screen onto the page.
function show() {
    const frame = frames[next];
    next = (next + 1) % frames.length;
    term.write(frame, () => {
        screen.innerHTML = drawRows(term.buffer.active, rows, cols).join('\n');
    });
}

async function play() {
    button.textContent = 'Pause';
    if (!term) {
        starting = starting || start();
        await starting;
    }
    run();
}

function run() {
    if (button.textContent === 'Pause' && seen && term && !timer) timer = window.setInterval(show, period);
}

function rest() {
    window.clearInterval(timer);
    timer = 0;
}

function pause() {
    button.textContent = 'Play';
    rest();
}

function stop(error) {
    pause();
    button.hidden = true;
    console.warn('the rain stays still:', error);
}

if (window.DecompressionStream) {
    button.addEventListener('click', () => {
        if (button.textContent === 'Pause') pause();
        else play().catch(stop);
    });
    calm.addEventListener('change', () => {
        if (calm.matches) pause();
    });
    new IntersectionObserver((entries) => {
        seen = entries[entries.length - 1].isIntersecting;
        if (seen) run();
        else rest();
    }).observe(figure);
    button.hidden = false;
    if (calm.matches) pause();
    else play().catch(stop);
}
