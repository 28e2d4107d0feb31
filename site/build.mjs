// Builds the home page from the project's own sources and its release, so the
// page never says something the project does not:
//   index.html     the README's sections for users, the rain, the licence
//   manual.html    the manual page, as mandoc renders it
//   changes.html   CHANGELOG, version by version
//   download.html  the release: an archive for each architecture, the source,
//                  how to check a download, the bill of materials, the
//                  container image and how to check its signatures
//   releases/      every file of the release (what `make release` leaves in
//                  RELEASE), the same bytes, and index.html listing them, as a
//                  static host shows no folder and debian/watch reads the list;
//                  the key that signs it, glyphfall-release-key.asc
//   glyphfall.git/ the repository up to the released commit, bare, for git's
//                  "dumb" HTTP protocol that any static host serves
//   signatures/    the container image's signatures, when `make publish-image`
//                  signed it: GLYPHFALL_SIGNATURES, or the lookaside beside
//                  RELEASE (build/signatures)
//   rain.gz        the program's own output, recorded by site/record.sh and
//                  decoded here by a terminal emulator: what each frame changes
// plus the scripts that replay the rain (rain.js, draw.js). Nothing is fetched
// from another host.
//
// Usage: node site/build.mjs GLYPHFALL RELEASE OUTPUT
// The key published is debian/upstream/signing-key.asc; GLYPHFALL_SIGNING_KEY
// names another key file, for the tests, which sign with a throwaway key.
// GLYPHFALL_REGISTRY names the registry the image was published to,
// host[:port]/path.
import { execFileSync } from 'node:child_process';
import { createHash } from 'node:crypto';
import { copyFileSync, cpSync, existsSync, mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { gunzipSync, gzipSync } from 'node:zlib';
import { marked } from 'marked';
import { aptRepository, aptSection, publishApt } from './apt.mjs';
import { applyChanges, drawRows } from './draw.js';
import { encodeChanges, paletteColour, readScreens } from './screens.mjs';

const site = fileURLToPath(new URL('.', import.meta.url));
const top = join(site, '..');

// The README's sections that the page shows, in order, and where the README's
// links to other files of the project lead on the page.
const sections = ['What it is', 'Install', 'Options', 'As a screensaver', 'Licence'];
const links = { CHANGELOG: 'changes.html', LICENSE: '#licence-text', 'man/glyphfall.6': 'manual.html' };

// The rain on the page: what site/record.sh records by default.
const rain = { rows: 24, cols: 80, seed: 20241, first: 61, last: 160, fps: 10 };

// The machines each release archive is for, by Debian's name of the
// architecture: what `uname -m` says there, and examples.
const machines = {
    amd64: ['x86_64', 'PCs, laptops and servers with a 64-bit Intel or AMD processor'],
    i386: ['i686', 'older PCs with a 32-bit x86 processor, or a 32-bit system on a 64-bit PC'],
    arm64: ['aarch64', 'a Raspberry Pi 3, 4 or 5 with a 64-bit system, 64-bit ARM boards and servers'],
    armhf: ['armv7l', 'a Raspberry Pi 2, 3 or 4 with a 32-bit system, 32-bit ARMv7 boards'],
    armel: ['armv6l, armv5tel', 'the first Raspberry Pi and the Pi Zero (their system says armhf: take this one), older ARM boards'],
    ppc64el: ['ppc64le', 'IBM POWER8 and later machines with a little-endian system'],
    s390x: ['s390x', 'IBM Z and LinuxONE mainframes'],
    riscv64: ['riscv64', '64-bit RISC-V boards'],
    mips64el: ['mips64', '64-bit little-endian MIPS machines, such as Loongson 3'],
};

const html = (text) =>
    text.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;').replace(/"/g, '&quot;');
const slug = (text) =>
    text
        .toLowerCase()
        .replace(/[^a-z0-9]+/g, '-')
        .replace(/^-|-$/g, '');
const read = (path) => readFileSync(join(top, path), 'utf8');

// The page around a body: the same head, navigation and foot everywhere.
// The stylesheet is in the page: it is small, and the first paint waits for
// no second request.
// `root` leads from the page's folder to the top of the site.
function page({ title, description, body, script = '', version, home, licence, style, root = '' }) {
    return `<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>${html(title)}</title>
<meta name="description" content="${html(description)}">
<link rel="icon" href="${root}icon.svg" type="image/svg+xml">
<style>
${style}</style>${script}
</head>
<body>
<header>
<nav aria-label="Site">
<a href="${root}index.html" class="name">glyphfall</a>
<a href="${root}index.html#install">Install</a>
<a href="${root}download.html">Download</a>
<a href="${root}index.html#options">Options</a>
<a href="${root}manual.html">Manual</a>
<a href="${root}changes.html">Changes</a>
</nav>
</header>
<main>
${body}
</main>
<footer>
<p>glyphfall ${html(version)} · <a href="${html(home)}">${html(home.replace(/^https?:\/\//, ''))}</a> · <a href="${root}index.html#licence">${html(licence)}</a></p>
</footer>
</body>
</html>
`;
}

// "glyphfall 0.2.4" and the home page, as `glyphfall -V` prints them.
function versionOf(program) {
    const [first, home] = execFileSync(program, ['-V'], { encoding: 'utf8' }).trim().split('\n');
    const version = first.split(' ')[1];
    if (!version || !/^https?:\/\//.test(home ?? '')) throw new Error(`unexpected -V output: ${first} ${home}`);
    return { version, home };
}

// The README cut at its second-level headings: the text before the first one,
// then each section by its heading.
function readmeSections() {
    const tokens = marked.lexer(read('README.md'));
    const parts = { '': [] };
    let current = '';
    for (const token of tokens) {
        if (token.type === 'heading' && token.depth === 2) {
            current = token.text;
            parts[current] = [];
        } else if (token.type !== 'heading' || token.depth > 2) {
            parts[current].push(token);
        }
    }
    return parts;
}

// Links to the home page itself lead to the page's own files.
function renderMarkdown(tokens, where, home) {
    const list = Object.assign([...tokens], { links: {} });
    marked.walkTokens(list, (token) => {
        if (token.type !== 'link' && token.type !== 'image') return;
        if (token.href.startsWith(`${home}/`)) {
            token.href = token.href.slice(home.length + 1) || 'index.html';
            return;
        }
        if (/^([a-z]+:|#)/.test(token.href)) return;
        if (!(token.href in links)) {
            throw new Error(`README (${where}) links to ${token.href}, which the page lacks: map it in site/build.mjs`);
        }
        token.href = links[token.href];
    });
    return marked.parser(list);
}

// The rain decoded by a terminal emulator: the still frame, for visitors
// without JavaScript or who ask for less motion; the colours that the whole
// recording uses, for the stylesheet; and what the page replays (rain.gz):
// the first screen as changes to a blank one, then for each frame the
// changes from the one before, the first frame's from the last, as the rain
// goes round.
async function decodeRain(recording) {
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

function changes() {
    const entries = [];
    let entry;
    let item;
    for (const line of read('CHANGELOG').split('\n')) {
        let m;
        if ((m = /^(\S+) \(([^)]+)\) ([^;]+);/.exec(line))) {
            entry = { version: m[2], items: [] };
            entries.push(entry);
        } else if ((m = /^ {2}\* (.*)/.exec(line))) {
            item = [m[1]];
            entry.items.push(item);
        } else if ((m = /^ {4}(\S.*)/.exec(line)) && item) {
            item.push(m[1]);
        } else if ((m = /^ -- (.+?) <[^>]*> {2}(.+)$/.exec(line))) {
            entry.date = new Date(m[2]);
            item = undefined;
        } else if (line.trim() !== '') {
            throw new Error(`CHANGELOG: a line this page cannot read: ${line}`);
        }
    }
    const inline = (text) => html(text).replace(/`([^`]+)`/g, '<code>$1</code>');
    return entries.map((e) => ({
        ...e,
        day: e.date.toISOString().slice(0, 10),
        html: e.items.map((lines) => `<li>${inline(lines.join(' '))}</li>`).join('\n'),
    }));
}

function manual() {
    const out = execFileSync('mandoc', ['-T', 'html', '-O', 'fragment', join(top, 'man/glyphfall.6')], {
        encoding: 'utf8',
    });
    // The page's own title is its one first-level heading.
    return out
        .replace(/<h2 class="Ss"([^]*?)<\/h2>/g, '<h3 class="Ss"$1</h3>')
        .replace(/<h1 class="Sh"([^]*?)<\/h1>/g, '<h2 class="Sh"$1</h2>');
}

const git = (...args) => execFileSync('git', args, { encoding: 'utf8', stdio: ['pipe', 'pipe', 'inherit'] });
const size = (bytes) => (bytes < 1e6 ? `${Math.max(1, Math.round(bytes / 1e3))} kB` : `${(bytes / 1e6).toFixed(1)} MB`);

// The release in `dist`: every file of it, each file that SHA256SUMS names
// checked against it.
function releaseFiles(dist, version) {
    const names = readdirSync(dist, { withFileTypes: true }).filter((e) => e.isFile()).map((e) => e.name).sort();
    if (!names.includes('SHA256SUMS') || !names.includes(`glyphfall-${version}.tar.gz`)) {
        throw new Error(`${dist} holds no release of glyphfall ${version}: make release first`);
    }
    const files = names.map((name) => {
        const bytes = readFileSync(join(dist, name));
        return { name, bytes: bytes.length, sha256: createHash('sha256').update(bytes).digest('hex') };
    });
    for (const line of readFileSync(join(dist, 'SHA256SUMS'), 'utf8').trim().split('\n')) {
        const [, sum, name] = /^([0-9a-f]{64}) [ *](.+)$/.exec(line) ?? [];
        const file = files.find((f) => f.name === name);
        if (!file || file.sha256 !== sum) throw new Error(`${dist}/SHA256SUMS: ${line}: no such file, or other bytes`);
    }
    return files;
}

// The released commit, which git archive wrote into the source tarball, and
// the branch main up to it alone, in a bare repository with the files that
// git's "dumb" HTTP protocol reads in place of a server.
function repository(tarball, folder) {
    const head = gunzipSync(readFileSync(tarball)).subarray(0, 1024);
    const commit = execFileSync('git', ['get-tar-commit-id'], { input: head, encoding: 'utf8' }).trim();
    try {
        git('-C', top, 'cat-file', '-e', `${commit}^{commit}`);
    } catch {
        throw new Error(`the release's commit ${commit} is not in the repository at ${top}`);
    }
    git('init', '--quiet', '--bare', '--template=', '--initial-branch=main', folder);
    git('-C', top, 'push', '--quiet', '--no-verify', folder, `${commit}:refs/heads/main`);
    git('-C', folder, 'repack', '-a', '-d', '-q', '--no-write-bitmap-index');
    git('-C', folder, 'update-server-info');
    return commit;
}

// The key that signs releases, as published in releases/, and its
// fingerprint, as gpg shows it. The project's own key must be the one the
// README names.
const keyName = 'glyphfall-release-key.asc';
function signingKey(work) {
    const own = join(top, 'debian', 'upstream', 'signing-key.asc');
    const file = process.env.GLYPHFALL_SIGNING_KEY || own;
    const listed = execFileSync('gpg', ['--batch', '--with-colons', '--show-keys', file], {
        encoding: 'utf8', env: { ...process.env, GNUPGHOME: work }, stdio: ['ignore', 'pipe', 'pipe'] });
    const fingerprint = /^fpr:(?:[^:]*:){8}([0-9A-F]{40}):/m.exec(listed)?.[1];
    if (!fingerprint) throw new Error(`${file} holds no OpenPGP key`);
    const blocks = fingerprint.match(/.{4}/g);
    const spaced = `${blocks.slice(0, 5).join(' ')}  ${blocks.slice(5).join(' ')}`;
    if (file === own && !read('README.md').includes(spaced)) {
        throw new Error(`README does not name the release key's fingerprint, ${spaced}`);
    }
    return { file, fingerprint, spaced };
}

// The release's signatures, SHA256SUMS.asc and the source tarball's: both or
// none (an unsigned release), and each must verify against the key published
// beside them, or the page would hand out signatures nobody can check.
function signatures(dist, files, version, key, work) {
    const names = ['SHA256SUMS.asc', `glyphfall-${version}.tar.gz.asc`];
    const present = names.filter((name) => files.some((f) => f.name === name));
    if (present.length === 0) {
        console.log('site: the release is unsigned: no signature published');
        return false;
    }
    if (present.length < names.length) {
        throw new Error(`${dist} holds ${present.join(', ')} but not ${names.filter((n) => !present.includes(n)).join(', ')}`);
    }
    const keyring = join(work, 'key.gpg');
    execFileSync('gpg', ['--batch', '--yes', '--dearmor', '--output', keyring, key.file], {
        env: { ...process.env, GNUPGHOME: work }, stdio: ['ignore', 'pipe', 'pipe'] });
    for (const name of names) {
        try {
            execFileSync('gpgv', ['--keyring', keyring, join(dist, name), join(dist, name.replace(/\.asc$/, ''))],
                { stdio: ['ignore', 'pipe', 'pipe'] });
        } catch (error) {
            throw new Error(`${dist}/${name} is no good signature by the key published, ${key.file}:\n${error.stderr}`);
        }
    }
    console.log(`site: the release is signed by ${key.spaced}`);
    return true;
}

// releases/index.html: what a static host does not show by itself.
function releaseList(files, version) {
    const rows = files.map((f) => `<tr><td><a href="${html(f.name)}">${html(f.name)}</a></td>` +
        `<td class="size">${f.bytes.toLocaleString('en')}</td><td><code class="sum">${f.sha256}</code></td></tr>`);
    return `<h1>Releases</h1>
<p>Every file of glyphfall ${html(version)}: the source tarball, the program for each architecture and the
checksums of them all, <code>SHA256SUMS</code>, for <code>sha256sum --ignore-missing -c SHA256SUMS</code>.
Which archive is for which machine, how to install it and how to check it against the release key,
<code>${keyName}</code>: the <a href="../download.html">download page</a>.</p>
<table class="files">
<thead><tr><th scope="col">file</th><th scope="col">bytes</th><th scope="col">SHA-256</th></tr></thead>
<tbody>
${rows.join('\n')}
</tbody>
</table>`;
}

// download.html's part on checking a download: the key and its fingerprint,
// the signature over SHA256SUMS first, then the checksums. For an unsigned
// release the checksums alone, and a word on why that is less.
function checkSection(key, signed, version, url) {
    if (!signed) {
        return `<section id="check" aria-labelledby="check-h">
<h2 id="check-h">Checking a download</h2>
<p>This release is unsigned: <code>SHA256SUMS</code> tells a damaged download, but comes from the same host as the
files. The key that signs releases is <a href="releases/${keyName}">${keyName}</a>, fingerprint
<code class="fingerprint">${key.spaced}</code>.</p>
</section>`;
    }
    const tarball = `glyphfall-${version}.tar.gz`;
    return `<section id="check" aria-labelledby="check-h">
<h2 id="check-h">Checking a download</h2>
<p>The release is signed by the project's key, <a href="releases/${keyName}">${keyName}</a>, whose fingerprint
is:</p>
<p><code class="fingerprint">${key.spaced}</code></p>
<p><a href="releases/SHA256SUMS.asc">SHA256SUMS.asc</a> is its signature over <code>SHA256SUMS</code>, which holds
the checksum of every file of the release; the source tarball has one of its own,
<a href="releases/${html(tarball)}.asc">${html(tarball)}.asc</a>, for Debian's <code>uscan</code>. Check the
signature first, then the checksums of what you downloaded, in the same folder:</p>
<pre><code>curl -fL -O ${html(url(keyName))} -O ${html(url('SHA256SUMS'))} -O ${html(url('SHA256SUMS.asc'))}
gpg --show-keys --with-fingerprint ${keyName}
gpg --dearmor ${keyName}
gpgv --keyring ./${keyName}.gpg SHA256SUMS.asc SHA256SUMS
sha256sum --ignore-missing -c SHA256SUMS</code></pre>
<p><code>gpg --show-keys</code> shows the key's fingerprint: it must be the one above, best compared with one
from another place, such as the repository's <code>debian/upstream/signing-key.asc</code>. <code>gpgv</code> must
say <q>Good signature</q>, and <code>sha256sum</code> <q>OK</q> for each file downloaded. With Sequoia's
<code>sqv</code> (Debian's package <code>sqv</code>) in place of the last three gpg commands,
<code>sqv --keyring ${keyName} SHA256SUMS.asc SHA256SUMS</code> prints the fingerprint of the key that made a good
signature.</p>
</section>`;
}

// download.html's bill of materials: what it is, and the link.
function bomSection(bom) {
    if (!bom) return '';
    return `<section id="bom" aria-labelledby="bom-h">
<h2 id="bom-h">Bill of materials</h2>
<p><a href="releases/${html(bom.name)}">${html(bom.name)}</a>, ${size(bom.bytes)}, in CycloneDX JSON: what each
program is made of. The programs are static, so each carries its own copy of the C library and the C++ runtime,
where no scanner looks; this lists them, with the Debian package and version each came from, and the checksum of
every program, archive and image. Scanners read it to tell whether a flaw announced in one of those libraries is in
this release.</p>
</section>`;
}

// What download.html shows in sections of their own, and the list of other
// files leaves out.
const ownSection = (name) => name === keyName || name.endsWith('.asc') || name.endsWith('.cdx.json');

// download.html: an archive for each architecture, the sources, the package.
function downloadPage(files, version, home, day, key, signed, imageSigned) {
    const url = (name) => `${home}/releases/${name}`;
    const source = files.find((f) => f.name === `glyphfall-${version}.tar.gz`);
    const archives = [];
    const others = [];
    const archive = new RegExp(`^glyphfall-${version.replace(/\./g, '\\.')}-linux-(\\w+)\\.tar\\.gz$`);
    for (const f of files) {
        const arch = archive.exec(f.name)?.[1];
        if (arch) {
            if (!machines[arch]) throw new Error(`the release holds ${f.name}: say what machines it is for`);
            archives.push({ ...f, arch });
        } else if (f !== source && f.name !== 'SHA256SUMS' && !ownSection(f.name) &&
            f.name !== `glyphfall-${version}-oci.tar`) {
            others.push(f);
        }
    }
    const order = Object.keys(machines);
    archives.sort((a, b) => order.indexOf(a.arch) - order.indexOf(b.arch));
    const example = archives.find((a) => a.arch === 'amd64') ?? archives[0];
    const unpacked = example.name.replace(/\.tar\.gz$/, '');
    const rows = archives.map((a) => `<tr><td><a href="releases/${html(a.name)}">${html(a.arch)}</a></td>` +
        `<td><code>${html(machines[a.arch][0])}</code></td><td>${html(machines[a.arch][1])}</td>` +
        `<td class="size">${size(a.bytes)}</td></tr>`);
    const also = others.length === 0 ? '' : `
<h2 id="more-h">Also in the release</h2>
<ul>
${others.map((f) => `<li><a href="releases/${html(f.name)}">${html(f.name)}</a>, ${size(f.bytes)}</li>`).join('\n')}
</ul>`;
    return `<h1>Download</h1>
<p class="tagline">glyphfall ${html(version)}, <time datetime="${day}">${day}</time></p>
<p>On Debian and the systems made from it, apt installs glyphfall from the project's repository. Elsewhere, a
single static program for each processor below runs on any Linux of that processor, with nothing else to install.
Then the sources. Every file of the release, with its size and
SHA-256 checksum: <a href="releases/">releases</a>.</p>
<section id="program" aria-labelledby="program-h">
<h2 id="program-h">The program</h2>
<p>Which archive: <code>dpkg --print-architecture</code> names it on Debian and the systems made from it;
elsewhere <code>uname -m</code> names the processor.</p>
<table class="archives">
<thead><tr><th scope="col">archive</th><th scope="col"><code>uname -m</code></th><th scope="col">for</th>
<th scope="col">size</th></tr></thead>
<tbody>
${rows.join('\n')}
</tbody>
</table>
<p>Four commands: download the archive and the checksums, check it, unpack it, and copy the program, its manual
page and its completions into <code>~/.local</code>, for you alone. Here for ${html(example.arch)}: put your
archive's name in its place.</p>
<pre><code>curl -fL -O ${html(url(example.name))} -O ${html(url('SHA256SUMS'))}
sha256sum --ignore-missing -c SHA256SUMS
tar -xzf ${html(example.name)}
cp -R ${html(unpacked)}/bin ${html(unpacked)}/share ~/.local/</code></pre>
<p>Then <code>glyphfall</code> runs it where <code>~/.local/bin</code> is on the path, as Debian's
<code>~/.profile</code> puts it once the folder exists, and <code>man glyphfall</code> shows its manual. For every
user, copy them as root into <code>/usr/local/</code> instead.</p>
</section>
${checkSection(key, signed, version, url)}
<section id="source" aria-labelledby="source-h">
<h2 id="source-h">The sources</h2>
<p><a href="releases/${html(source.name)}">${html(source.name)}</a>, ${size(source.bytes)}: the released files. On
Debian 12 with g++, CMake and make:</p>
<pre><code>curl -fL -O ${html(url(source.name))} -O ${html(url('SHA256SUMS'))}
sha256sum --ignore-missing -c SHA256SUMS
tar -xzf ${html(source.name)}
cd ${html(source.name.replace(/\.tar\.gz$/, ''))}
make run                # build it and start the rain; Ctrl-C ends it
sudo make install       # into /usr/local</code></pre>
<p>The repository, up to the released commit: <code>git clone ${html(home)}/glyphfall.git</code>.</p>
</section>
${bomSection(files.find((f) => f.name.endsWith('.cdx.json')))}${imageSection(files, version, home, imageSigned)}${also}`;
}

// The container image: what the archive is, how to load and run it; and,
// when the images published to a registry are signed (`imageSigned`), the two
// files that make podman refuse an image from there that the release key did
// not sign. GLYPHFALL_REGISTRY (make site REGISTRY=...) names the registry.
function imageSection(files, version, home, imageSigned) {
    const image = files.find((f) => f.name === `glyphfall-${version}-oci.tar`);
    if (!image) return '';
    const registry = process.env.GLYPHFALL_REGISTRY || 'REGISTRY';
    const key = '/etc/pki/containers/glyphfall-release-key.asc';
    const policy = {
        default: [{ type: 'insecureAcceptAnything' }],
        transports: { docker: { [registry]: [{ type: 'signedBy', keyType: 'GPGKeys', keyPath: key }] } },
    };
    const verify = !imageSigned ? '' : `
<p>The images published to a registry, as <code>${html(registry)}/glyphfall:${html(version)}</code> and
<code>${html(registry)}/glyphfall:latest</code>${registry === 'REGISTRY' ? ' (REGISTRY: <code>host[:port]/path</code>)' : ''},
are signed with the release key, and their signatures are served here, under
<code>${html(home)}/signatures/</code>. To have podman refuse any image from that registry that the key did not sign,
fetch the key, as root:</p>
<pre><code>mkdir -p /etc/pki/containers
curl -fL -o ${key} ${html(home)}/releases/glyphfall-release-key.asc</code></pre>
<p>then say where the signatures are, in <code>/etc/containers/registries.d/glyphfall.yaml</code>:</p>
<pre><code>docker:
  ${html(registry)}:
    lookaside: ${html(home)}/signatures</code></pre>
<p>and require them in <code>/etc/containers/policy.json</code>: the entry under <code>transports</code>, beside
what the file holds (here Debian's default):</p>
<pre><code>${html(JSON.stringify(policy, null, 4))}</code></pre>
<p>Then <code>podman run --rm -it ${html(registry)}/glyphfall</code> pulls <code>:latest</code> and checks its
signature first; an image without one is refused: <code>Source image rejected: A signature was required, but no
signature exists</code>, and one signed by another key too.</p>`;
    return `
<section id="image" aria-labelledby="image-h">
<h2 id="image-h">The container image</h2>
<p><a href="releases/${html(image.name)}">${html(image.name)}</a>, ${size(image.bytes)}: an OCI image archive, with an
image FROM scratch for each of the architectures above, holding the program and its licence alone; the program runs
as user 65534, not root. Podman picks the image of the machine:</p>
<pre><code>curl -fL -O ${html(`${home}/releases/${image.name}`)} -O ${html(`${home}/releases/SHA256SUMS`)}
sha256sum --ignore-missing -c SHA256SUMS
podman load -i ${html(image.name)}      # Loaded image: localhost/glyphfall:${html(version)}
podman run --rm -it glyphfall:${html(version)} -r 42 -s 20</code></pre>
<p><code>-it</code> gives the program a terminal and passes Ctrl-C on, the options after the image's name go to the
program, and <code>--rm</code> removes the container when it ends.</p>${verify}
</section>`;
}

async function main() {
    const [program, dist, output] = process.argv.slice(2);
    if (!program || !dist || !output) throw new Error('usage: node site/build.mjs GLYPHFALL RELEASE OUTPUT');
    const out = resolve(output);
    const { version, home } = versionOf(program);
    const files = releaseFiles(dist, version);
    if (files.some((f) => f.name === keyName)) throw new Error(`${dist} holds a ${keyName} of its own`);
    const keys = mkdtempSync(join(tmpdir(), 'glyphfall-key-'));
    let key;
    let signed;
    let apt;
    try {
        key = signingKey(keys);
        signed = signatures(dist, files, version, key, keys);
        apt = aptRepository(process.env.GLYPHFALL_APT, key, keys);
    } finally {
        rmSync(keys, { recursive: true, force: true });
    }
    const keyBytes = readFileSync(key.file);
    const published = [...files, { name: keyName, bytes: keyBytes.length,
        sha256: createHash('sha256').update(keyBytes).digest('hex') }].sort((a, b) => (a.name < b.name ? -1 : 1));
    const lookaside = process.env.GLYPHFALL_SIGNATURES || join(dist, '..', 'signatures');
    const imageSigned = existsSync(lookaside);
    rmSync(out, { recursive: true, force: true });
    mkdirSync(join(out, 'releases'), { recursive: true });
    const css = readFileSync(join(site, 'site.css'), 'utf8');
    const licence = read('LICENSE').split('\n')[0];

    const work = mkdtempSync(join(tmpdir(), 'glyphfall-site-'));
    let recording;
    try {
        execFileSync(join(site, 'record.sh'), [program, join(work, 'rain'), rain.rows, rain.cols, rain.seed,
            rain.first, rain.last].map(String), { stdio: 'inherit' });
        recording = readFileSync(join(work, 'rain'));
    } finally {
        rmSync(work, { recursive: true, force: true });
    }
    const decoded = await decodeRain(recording);
    writeFileSync(join(out, 'rain.gz'), gzipSync(JSON.stringify(decoded.data), { level: 9 }));

    const readme = readmeSections();
    const tagline = readme[''].find((t) => t.type === 'paragraph').text;
    const body = sections.map((name) => {
        if (!readme[name]) throw new Error(`README has no section "${name}" for the page`);
        const id = slug(name);
        let text = renderMarkdown(readme[name], name, home);
        if (name === 'Licence') {
            const paragraphs = read('LICENSE').trim().split(/\n\s*\n/).map((p) => `<p>${html(p.replace(/\n/g, ' '))}</p>`);
            text += `<div id="licence-text" class="licence">\n${paragraphs.join('\n')}\n</div>`;
        }
        return `<section id="${id}" aria-labelledby="${id}-h">\n<h2 id="${id}-h">${html(name)}</h2>\n${text}</section>`;
    });
    const log = changes();
    const latest = log[0];
    body.splice(body.length - 1, 0,
        `<section id="manual" aria-labelledby="manual-h">\n<h2 id="manual-h">Manual</h2>\n` +
            `<p>The whole manual page, <a href="manual.html">glyphfall(6)</a>: every option, the exit status, ` +
            `the signals and examples. Once installed: <code>man 6 glyphfall</code>.</p>\n</section>`,
        `<section id="changes" aria-labelledby="changes-h">\n<h2 id="changes-h">Changes</h2>\n` +
            `<p>Version ${html(latest.version)}, <time datetime="${latest.day}">${latest.day}</time>. ` +
            `<a href="changes.html">What changed in each version</a>.</p>\n</section>`);

    // The glyphs are a picture, not text to read, find or select: the screen is
    // an image to assistive technology, and its text is inert.
    const figure = `<figure class="rain" id="rain" data-cols="${rain.cols}" data-rows="${rain.rows}" data-fps="${rain.fps}"
    data-seed="${rain.seed}" data-first="${rain.first}" data-last="${rain.last}">
<div class="screen" role="img" aria-label="Green characters raining down a black terminal screen">
<pre class="still" inert>${decoded.rows.join('\n')}</pre>
</div>
<button type="button" class="control" hidden>Pause</button>
<figcaption><code>glyphfall -r ${rain.seed}</code> in a terminal of ${rain.cols} × ${rain.rows}: its own output, frames ${rain.first} to
${rain.last} at ${rain.fps} a second.</figcaption>
</figure>`;
    const description = `glyphfall: ${tagline.replace(/\.$/, '').toLowerCase()}. A small program for Linux terminals: install it, its options, its manual.`;
    writeFileSync(join(out, 'index.html'), page({
        title: `glyphfall: ${tagline.replace(/\.$/, '').toLowerCase()}`,
        description,
        version,
        home,
        licence,
        style: `${css}\n/* The colours of the rain. */\n${decoded.css}\n`,
        script: '\n<script type="module" src="rain.js"></script>',
        body: `<h1>glyphfall</h1>\n<p class="tagline">${html(tagline)}</p>\n${figure}\n${body.join('\n')}`,
    }));
    writeFileSync(join(out, 'manual.html'), page({
        title: 'glyphfall(6): the manual page',
        description: 'The manual page of glyphfall: its options, exit status, signals and examples.',
        version,
        home,
        licence,
        style: css,
        body: `<h1>glyphfall(6)</h1>\n<div class="manual">\n${manual()}</div>`,
    }));
    writeFileSync(join(out, 'changes.html'), page({
        title: 'glyphfall: changes',
        description: 'What changed in each version of glyphfall.',
        version,
        home,
        licence,
        style: css,
        body: `<h1>Changes</h1>\n${log.map((e) => `<section id="v${html(e.version)}" aria-labelledby="v${html(e.version)}-h">
<h2 id="v${html(e.version)}-h">${html(e.version)} <time datetime="${e.day}">${e.day}</time></h2>
<ul>
${e.html}
</ul>
</section>`).join('\n')}`,
    }));

    const released = log.find((e) => e.version === version) ?? latest;
    const archives = files.filter((f) => /-linux-\w+\.tar\.gz$/.test(f.name)).length;
    writeFileSync(join(out, 'download.html'), page({
        title: `glyphfall ${version}: download`,
        description: `Download glyphfall ${version}: a static program for ${archives} processor architectures, ` +
            'the sources, and an APT repository for Debian.',
        version,
        home,
        licence,
        style: css,
        body: downloadPage(files, version, home, released.day, key, signed, imageSigned)
            .replace('<section id="program"', () => `${aptSection(apt, home, key).trim()}\n<section id="program"`),
    }));
    writeFileSync(join(out, 'releases', 'index.html'), page({
        title: `glyphfall ${version}: the release's files`,
        description: `Every file of glyphfall ${version}'s release, with its size and SHA-256 checksum.`,
        version,
        home,
        licence,
        style: css,
        root: '../',
        body: releaseList(published, version),
    }));
    for (const f of files) copyFileSync(join(dist, f.name), join(out, 'releases', f.name));
    writeFileSync(join(out, 'releases', keyName), keyBytes);
    repository(join(dist, `glyphfall-${version}.tar.gz`), join(out, 'glyphfall.git'));
    if (apt) publishApt(apt, out);
    if (imageSigned) {
        cpSync(lookaside, join(out, 'signatures'), { recursive: true });
    } else {
        console.log(`no ${lookaside}: the page publishes no signatures of the container image (make publish-image SIGNING_KEY=...)`);
    }

    for (const file of ['rain.js', 'draw.js', 'icon.svg']) copyFileSync(join(site, file), join(out, file));
}

await main();
