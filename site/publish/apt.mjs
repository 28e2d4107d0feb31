// debian/: the APT repository that scripts/apt-repository made (make apt),
// published only when its InRelease and Release.gpg verify against the key
// the page publishes; and the download page's section that adds it, installs
// glyphfall and takes it all away again.
import { execFileSync } from 'node:child_process';
import { cpSync, existsSync, mkdtempSync, readFileSync, readdirSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { html } from '../page.mjs';

export const keyring = 'glyphfall-archive-keyring';
export const keyPath = `/etc/apt/keyrings/${keyring}.pgp`;
export const sourcesPath = '/etc/apt/sources.list.d/glyphfall.sources';

// The repository in `from`, checked against `key` (the release's), copied
// into `folder`: its suite, architectures and versions; or null, said, when
// there is none or it is unsigned.
export function publishApt(from, folder, key) {
    if (!from || !existsSync(join(from, 'dists'))) {
        console.log(`site: no APT repository${from ? ` in ${from}` : ''}: none published (make apt SIGNING_KEY=...)`);
        return null;
    }
    const suites = readdirSync(join(from, 'dists'));
    if (suites.length !== 1) throw new Error(`${from}/dists holds ${suites.join(', ')}: one suite expected`);
    const dists = join(from, 'dists', suites[0]);
    if (!existsSync(join(dists, 'InRelease'))) {
        console.log(`site: the APT repository in ${from} is unsigned: not published (make apt SIGNING_KEY=...)`);
        return null;
    }
    const work = mkdtempSync(join(tmpdir(), 'glyphfall-apt-'));
    try {
        const ring = join(work, 'key.gpg');
        execFileSync('gpg', ['--batch', '--yes', '--dearmor', '--output', ring, key.file],
            { env: { ...process.env, GNUPGHOME: work }, stdio: 'pipe' });
        for (const args of [[join(dists, 'InRelease')], [join(dists, 'Release.gpg'), join(dists, 'Release')]]) {
            try {
                execFileSync('gpgv', ['--keyring', ring, ...args], { stdio: 'pipe' });
            } catch (error) {
                throw new Error(`${args[0]} is no good signature by the key published, ${key.file}:\n${error.stderr}`);
            }
        }
        if (!readFileSync(join(from, `${keyring}.pgp`)).equals(readFileSync(ring))) {
            throw new Error(`${from}/${keyring}.pgp is not the key published, ${key.file}`);
        }
    } finally {
        rmSync(work, { recursive: true, force: true });
    }
    const release = readFileSync(join(dists, 'Release'), 'utf8');
    const field = (name) => new RegExp(`^${name}: (.*)$`, 'm').exec(release)?.[1] ?? '';
    cpSync(from, folder, { recursive: true });
    console.log(`site: the APT repository is signed by ${key.spaced}: ${field('Suite')}, ${field('Architectures')}`);
    return { suite: field('Suite'), arches: field('Architectures').split(' ') };
}

// The download page's section: the commands, run as they stand by the tests.
export function aptSection(repository, home, key) {
    if (!repository) return '';
    const url = `${home}/debian`;
    const arches = repository.arches.map((a) => `<code>${html(a)}</code>`).join(', ');
    // No Debian release has them all.
    const limits = [['riscv64', 'from Debian 13 on'], ['mips64el', 'up to Debian 12']]
        .filter(([arch]) => repository.arches.includes(arch)).map(([arch, when]) => `<code>${arch}</code> ${when}`);
    const where = limits.length === 0 ? '' : `, where the Debian release has them (${limits.join(', ')})`;
    return `
<section id="apt" aria-labelledby="apt-h">
<h2 id="apt-h">With apt, on Debian</h2>
<p>On Debian 12 (bookworm), Debian 13 (trixie) and later, and the systems made from them, apt installs glyphfall
from the project's own repository, checked against the project's key, and brings each new release with
<code>apt upgrade</code>. Fetch the key, check that gpg shows its fingerprint,
<code class="fingerprint">${html(key.spaced)}</code>, fetch the repository's entry, then update and install
(with <code>curl</code> and <code>gpg</code>: <code>sudo apt install curl gpg</code>):</p>
<pre><code>sudo curl -fsSL -o ${keyPath} ${html(url)}/${keyring}.pgp
gpg --show-keys --with-fingerprint ${keyPath}
sudo curl -fsSL -o ${sourcesPath} ${html(url)}/glyphfall.sources
sudo apt update
sudo apt install glyphfall</code></pre>
<p>The program is <code>/usr/games/glyphfall</code>, with its manual page and the completions of bash, zsh and fish.
The key is trusted for this repository alone (<code>Signed-By</code> in
<a href="debian/glyphfall.sources">glyphfall.sources</a>), which holds nothing but glyphfall. Its suite,
<code>${html(repository.suite)}</code>, is one for all those Debian releases: the packages are built on Debian 12
and need its C library or a later one. The architectures: ${arches}${where}. Each release stays in the
repository beside the later ones (<code>apt install glyphfall=&lt;version&gt;</code>), and so do the sources:
add <code>deb-src</code> to <code>Types</code> in the file for <code>apt source glyphfall</code>. The key also comes
armored, <a href="debian/${keyring}.asc">${keyring}.asc</a>.</p>
<p>To take it all away again:</p>
<pre><code>sudo apt purge glyphfall
sudo rm ${sourcesPath} ${keyPath}
sudo apt update</code></pre>
</section>`;
}
