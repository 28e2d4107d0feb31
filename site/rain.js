// The rain on the home page: the program's recorded frames, decoded at build
// time into what each one changes on the screen (rain.gz), made one after the
// other at the program's default speed and drawn as text into the still
// frame's place. Without this script, or for visitors who ask for less motion,
// the page keeps the still frame: the recording's first, drawn at build time
// by the same code (draw.js). The frames are loaded only when the rain is to
// move.
import { applyChanges, drawRows } from './draw.js';

const figure = document.getElementById('rain');
const screen = figure.querySelector('.still');
const button = figure.querySelector('.control');
const cols = Number(figure.dataset.cols);
const period = 1000 / Number(figure.dataset.fps);
const calm = window.matchMedia('(prefers-reduced-motion: reduce)');

let rain = null;
let starting = null;
let glyphs = [];
let styles = [];
let next = 0;
let timer = 0;
let seen = true; // the rain is on the screen: off it, it rests

async function start() {
    const response = await fetch('rain.gz');
    if (!response.ok) throw new Error(`rain.gz: ${response.status}`);
    const loaded = JSON.parse(await new Response(response.body.pipeThrough(new DecompressionStream('gzip'))).text());
    glyphs = new Array(loaded.rows * loaded.cols).fill(' ');
    styles = new Array(loaded.rows * loaded.cols).fill('');
    applyChanges(glyphs, styles, loaded.first, loaded.styles);
    // The still frame is the recording's first: the rain goes on from it.
    next = 1;
    rain = loaded;
}

// One frame's changes made, the screen drawn again.
function show() {
    applyChanges(glyphs, styles, rain.frames[next], rain.styles);
    next = (next + 1) % rain.frames.length;
    screen.innerHTML = drawRows(glyphs, styles, cols).join('\n');
}

async function play() {
    button.textContent = 'Pause';
    if (!rain) {
        starting = starting || start();
        await starting;
    }
    run();
}

function run() {
    if (button.textContent === 'Pause' && seen && rain && !timer) timer = window.setInterval(show, period);
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
