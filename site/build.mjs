// Builds the home page from the project's own sources and its release, so the
// page never says something the project does not. What the site holds, and
// the module that makes it:
//   index.html     pages/index.mjs: the README's sections for users, the
//                  rain, the licence
//   rain.gz        pages/index-rain.mjs: the program's own output, recorded
//                  by site/record.sh and decoded by a terminal emulator: what
//                  each frame changes
//   manual.html    pages/manual.mjs: the manual page, as mandoc renders it
//   changes.html   pages/changes.mjs: CHANGELOG, version by version
//   download.html  pages/download.mjs: the release: an archive for each
//                  architecture, the source, the Debian package, then a
//                  section from each module of publish/ below
//   releases/      publish/release.mjs: every file of the release (what
//                  `make release` leaves in RELEASE), the same bytes, and
//                  index.html listing them, as a static host shows no folder
//                  and debian/watch reads the list; the key that signs it,
//                  glyphfall-release-key.asc; how to check a download
//                  publish/bom.mjs: the bill of materials among them
//   glyphfall.git/ publish/repository.mjs: the repository up to the released
//                  commit, bare, for git's "dumb" HTTP protocol that any
//                  static host serves
//   signatures/    publish/image.mjs: the container image's signatures, when
//                  `make publish-image` signed it: GLYPHFALL_SIGNATURES, or
//                  the lookaside beside RELEASE (build/signatures); how to
//                  load, run and check the image
//   debian/        publish/apt.mjs: the APT repository of `make apt`
//                  (GLYPHFALL_APT), when signed by the release's key; how to
//                  add it, install glyphfall with apt and remove it
// plus the scripts that replay the rain (rain.js, draw.js). What every page
// shares, the template and the README's sections, is page.mjs. Nothing is
// fetched from another host.
//
// Usage: node site/build.mjs GLYPHFALL RELEASE OUTPUT
// The key published is debian/upstream/signing-key.asc; GLYPHFALL_SIGNING_KEY
// names another key file, for the tests, which sign with a throwaway key.
// GLYPHFALL_REGISTRY names the registry the image was published to,
// host[:port]/path.
import { execFileSync } from 'node:child_process';
import { copyFileSync, mkdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { join, resolve } from 'node:path';
import { gzipSync } from 'node:zlib';
import { read, site } from './page.mjs';
import { changelog, changesPage } from './pages/changes.mjs';
import { downloadPage } from './pages/download.mjs';
import { decodeRain, recordRain } from './pages/index-rain.mjs';
import { indexPage } from './pages/index.mjs';
import { manualPage } from './pages/manual.mjs';
import { publishApt } from './publish/apt.mjs';
import { publishImage } from './publish/image.mjs';
import { publishRelease, readRelease } from './publish/release.mjs';
import { publishRepository } from './publish/repository.mjs';

// "glyphfall 0.2.4" and the home page, as `glyphfall -V` prints them.
function versionOf(program) {
    const [first, home] = execFileSync(program, ['-V'], { encoding: 'utf8' }).trim().split('\n');
    const version = first.split(' ')[1];
    if (!version || !/^https?:\/\//.test(home ?? '')) throw new Error(`unexpected -V output: ${first} ${home}`);
    return { version, home };
}

const [program, dist, output] = process.argv.slice(2);
if (!program || !dist || !output) throw new Error('usage: node site/build.mjs GLYPHFALL RELEASE OUTPUT');
const out = resolve(output);
const { version, home } = versionOf(program);
// Checked before anything is removed: a release that fails leaves the last site.
const release = readRelease(dist, version, process.env.GLYPHFALL_SIGNING_KEY);
rmSync(out, { recursive: true, force: true });
mkdirSync(out, { recursive: true });
const common = { version, home, licence: read('LICENSE').split('\n')[0], style: readFileSync(join(site, 'site.css'), 'utf8') };

const published = {
    release: publishRelease(join(out, 'releases'), release, common),
    repository: publishRepository(join(dist, `glyphfall-${version}.tar.gz`), join(out, 'glyphfall.git')),
    image: publishImage(dist, join(out, 'signatures'),
        { lookaside: process.env.GLYPHFALL_SIGNATURES, registry: process.env.GLYPHFALL_REGISTRY }),
    apt: publishApt(process.env.GLYPHFALL_APT, join(out, 'debian'), release.key),
};

const rain = await decodeRain(recordRain(program));
const log = changelog();
const released = log.find((e) => e.version === version) ?? log[0];
const pages = {
    'index.html': indexPage(common, rain, log[0]),
    'manual.html': manualPage(common),
    'changes.html': changesPage(common, log),
    'download.html': downloadPage(common, published, released.day),
};
for (const [name, text] of Object.entries(pages)) writeFileSync(join(out, name), text);
writeFileSync(join(out, 'rain.gz'), gzipSync(JSON.stringify(rain.data), { level: 9 }));
for (const file of ['rain.js', 'draw.js', 'icon.svg']) copyFileSync(join(site, file), join(out, file));
