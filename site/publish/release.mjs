// releases/: every file of the release, the same bytes, and index.html
// listing them with sizes and checksums; the key that signs the release and
// the check of its signatures; and the download page's section on checking a
// download.
import { execFileSync } from 'node:child_process';
import { createHash } from 'node:crypto';
import { copyFileSync, mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { html, page, read, top } from '../page.mjs';

export const keyName = 'glyphfall-release-key.asc';

const described = (name, bytes) => ({ name, bytes: bytes.length, sha256: createHash('sha256').update(bytes).digest('hex') });

// The release in `dist`, checked: each file that SHA256SUMS names, and the
// signatures against the key to publish, `keyFile` or the project's own.
export function readRelease(dist, version, keyFile) {
    const files = releaseFiles(dist, version);
    if (files.some((f) => f.name === keyName)) throw new Error(`${dist} holds a ${keyName} of its own`);
    const work = mkdtempSync(join(tmpdir(), 'glyphfall-key-'));
    try {
        const key = signingKey(work, keyFile);
        return { dist, version, files, key, signed: signatures(dist, files, version, key, work) };
    } finally {
        rmSync(work, { recursive: true, force: true });
    }
}

function releaseFiles(dist, version) {
    const names = readdirSync(dist, { withFileTypes: true }).filter((e) => e.isFile()).map((e) => e.name).sort();
    if (!names.includes('SHA256SUMS') || !names.includes(`glyphfall-${version}.tar.gz`)) {
        throw new Error(`${dist} holds no release of glyphfall ${version}: make release first`);
    }
    const files = names.map((name) => described(name, readFileSync(join(dist, name))));
    for (const line of readFileSync(join(dist, 'SHA256SUMS'), 'utf8').trim().split('\n')) {
        const [, sum, name] = /^([0-9a-f]{64}) [ *](.+)$/.exec(line) ?? [];
        const file = files.find((f) => f.name === name);
        if (!file || file.sha256 !== sum) throw new Error(`${dist}/SHA256SUMS: ${line}: no such file, or other bytes`);
    }
    return files;
}

// The key's fingerprint, as gpg shows it. The project's own key must be the
// one the README names.
function signingKey(work, keyFile) {
    const own = join(top, 'debian', 'upstream', 'signing-key.asc');
    const file = keyFile || own;
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

// SHA256SUMS.asc and the source tarball's signature: both or none (an
// unsigned release), and each must verify against the key published beside
// them, or the page would hand out signatures nobody can check.
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

// The files and the key into `folder`, with index.html, which a static host
// does not show by itself. Gives `release` back, for the download page.
export function publishRelease(folder, release, common) {
    const keyBytes = readFileSync(release.key.file);
    const published = [...release.files, described(keyName, keyBytes)].sort((a, b) => (a.name < b.name ? -1 : 1));
    mkdirSync(folder, { recursive: true });
    for (const f of release.files) copyFileSync(join(release.dist, f.name), join(folder, f.name));
    writeFileSync(join(folder, keyName), keyBytes);
    const rows = published.map((f) => `<tr><td><a href="${html(f.name)}">${html(f.name)}</a></td>` +
        `<td class="size">${f.bytes.toLocaleString('en')}</td><td><code class="sum">${f.sha256}</code></td></tr>`);
    writeFileSync(join(folder, 'index.html'), page({
        ...common,
        title: `glyphfall ${release.version}: the release's files`,
        description: `Every file of glyphfall ${release.version}'s release, with its size and SHA-256 checksum.`,
        root: '../',
        body: `<h1>Releases</h1>
<p>Every file of glyphfall ${html(release.version)}: the source tarball, the program for each architecture and the
checksums of them all, <code>SHA256SUMS</code>, for <code>sha256sum --ignore-missing -c SHA256SUMS</code>.
Which archive is for which machine, how to install it and how to check it against the release key,
<code>${keyName}</code>: the <a href="../download.html">download page</a>.</p>
<table class="files">
<thead><tr><th scope="col">file</th><th scope="col">bytes</th><th scope="col">SHA-256</th></tr></thead>
<tbody>
${rows.join('\n')}
</tbody>
</table>`,
    }));
    return release;
}

// What the download page shows in the section below, and so leaves out of
// its list of other files.
export const releaseShows = (name) => name === 'SHA256SUMS' || name === keyName || name.endsWith('.asc');

// The download page's part on checking a download: the key and its
// fingerprint, the signature over SHA256SUMS first, then the checksums. For
// an unsigned release the checksums alone, and a word on why that is less.
export function checkSection({ key, signed, version }, url) {
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
