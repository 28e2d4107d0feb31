// download.html: apt's commands, an archive for each architecture in a
// table, the sources; then a section for each thing published beside them,
// from its own module, and the release's other files.
import { html, page, size } from '../page.mjs';
import { aptSection } from '../publish/apt.mjs';
import { bomSection, bomShows } from '../publish/bom.mjs';
import { imageSection, imageShows } from '../publish/image.mjs';
import { checkSection, releaseShows } from '../publish/release.mjs';

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

// `published` holds what each module of publish/ gave back; `day` is the
// release's, from CHANGELOG.
export function downloadPage(common, published, day) {
    const { version, home } = common;
    const { files } = published.release;
    const url = (name) => `${home}/releases/${name}`;
    const source = files.find((f) => f.name === `glyphfall-${version}.tar.gz`);
    const shownBelow = (name) => releaseShows(name) || bomShows(name) || imageShows(name, version);
    const archives = [];
    const others = [];
    const archive = new RegExp(`^glyphfall-${version.replace(/\./g, '\\.')}-linux-(\\w+)\\.tar\\.gz$`);
    for (const f of files) {
        const arch = archive.exec(f.name)?.[1];
        if (arch) {
            if (!machines[arch]) throw new Error(`the release holds ${f.name}: say what machines it is for`);
            archives.push({ ...f, arch });
        } else if (f !== source && !shownBelow(f.name)) {
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
    const body = `<h1>Download</h1>
<p class="tagline">glyphfall ${html(version)}, <time datetime="${day}">${day}</time></p>
<p>${published.apt ? `On Debian and the systems made from it, apt installs glyphfall from the project's repository.
Elsewhere, a single` : 'A single'} static program for each processor below runs on any Linux of that processor, with
nothing else to install. Then the sources. Every file of the release, with its size and
SHA-256 checksum: <a href="releases/">releases</a>.</p>${aptSection(published.apt, home, published.release.key)}
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
${checkSection(published.release, url)}
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
${bomSection(files)}${imageSection(published.image, files, version, home)}${also}`;
    const count = files.filter((f) => /-linux-\w+\.tar\.gz$/.test(f.name)).length;
    return page({
        ...common,
        title: `glyphfall ${version}: download`,
        description: `Download glyphfall ${version}: a static program for ${count} processor architectures, ` +
            `the sources${published.apt ? ', and an APT repository for Debian' : ''}.`,
        body,
    });
}
