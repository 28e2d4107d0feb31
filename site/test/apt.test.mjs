// The APT repository under debian/, as the download page tells a user to add
// it: the page's two blocks of commands, read in Chromium as a visitor sees
// them, run by tests/check_apt.sh in fresh Debian 12 roots against the
// repository served on 127.0.0.1 (install, upgrade, the refused cases, the
// same bytes again, foreign architectures); and what the repository holds,
// read here.
//
// Usage: as release.test.mjs, with GLYPHFALL_APT_DEBS the packages the
// repository was made from and GLYPHFALL_SIGNING_FINGERPRINT the key that
// signed it (site/check sets both).
import assert from 'node:assert/strict';
import { execFile, execFileSync } from 'node:child_process';
import { cpSync, existsSync, mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';
import { serve } from '../serve.mjs';
import { chromium } from './chromium.mjs';

const top = fileURLToPath(new URL('../..', import.meta.url));
const folder = process.env.GLYPHFALL_SITE ?? join(top, 'build', 'site');
const program = process.env.GLYPHFALL ?? join(top, 'build', 'release', 'glyphfall');
const debs = process.env.GLYPHFALL_APT_DEBS;
const fingerprint = process.env.GLYPHFALL_SIGNING_FINGERPRINT;
const repository = join(folder, 'debian');
const missing = !debs || !fingerprint ? 'no GLYPHFALL_APT_DEBS and GLYPHFALL_SIGNING_FINGERPRINT: run by site/check' : false;

let work;
let install;
let remove;

before(async () => {
    if (missing) return;
    work = mkdtempSync(join(tmpdir(), 'glyphfall-apt-'));
    const server = await serve(folder);
    const browser = await puppeteer.launch(chromium);
    try {
        const page = await browser.newPage();
        await page.goto(`http://127.0.0.1:${server.address().port}/download.html`, { waitUntil: 'load' });
        [install, remove] = await page.$$eval('#apt pre', (all) => all.map((pre) => pre.textContent));
    } finally {
        await browser.close();
        server.closeAllConnections();
        server.close();
    }
    writeFileSync(join(work, 'install'), install ?? '');
    writeFileSync(join(work, 'remove'), remove ?? '');
});

after(() => {
    if (work) rmSync(work, { recursive: true, force: true });
});

test('the download page adds the repository with the key named by Signed-By alone, and removes it all again',
    { skip: missing }, () => {
        assert.ok(install && remove, 'the download page has no #apt section with two blocks of commands');
        const lines = install.trim().split('\n');
        assert.match(lines[0], /^sudo curl -fsSL -o \/etc\/apt\/keyrings\/glyphfall-archive-keyring\.pgp \S+\/debian\/glyphfall-archive-keyring\.pgp$/);
        assert.match(lines.at(-1), /^sudo apt install glyphfall$/);
        assert.ok(!install.includes('trusted.gpg'), install);
        const sources = readFileSync(join(repository, 'glyphfall.sources'), 'utf8');
        assert.match(sources, /^Signed-By: \/etc\/apt\/keyrings\/glyphfall-archive-keyring\.pgp$/m);
        assert.match(sources, /^URIs: https:\/\/\S+\/debian\/$/m);
        assert.match(remove, /^sudo apt purge glyphfall$/m);
    });

test('the repository: one suite for Debian 12 and later, by-hash, dated and signed, the pool whole',
    { skip: missing }, () => {
        const release = readFileSync(join(repository, 'dists', 'stable', 'Release'), 'utf8');
        const field = (name) => new RegExp(`^${name}: (.*)$`, 'm').exec(release)?.[1];
        assert.equal(field('Suite'), 'stable');
        assert.equal(field('Components'), 'main');
        assert.equal(field('Acquire-By-Hash'), 'yes');
        assert.equal(field('Valid-Until'), undefined);
        // No Signed-By: the keyring file alone says which key, so a new key needs no other step.
        assert.equal(field('Signed-By'), undefined);
        const arches = readdirSync(debs).map((n) => /^glyphfall_[^_]+_([a-z0-9]+)\.deb$/.exec(n)?.[1]).filter(Boolean);
        assert.deepEqual(field('Architectures').split(' ').sort(), [...new Set(arches)].sort());
        // Every index listed is there under its checksum too.
        const listed = release.split('SHA256:\n')[1].split('\n').filter((l) => l.startsWith(' '));
        assert.ok(listed.length >= 3 * arches.length + 3, release);
        for (const line of listed) {
            const [sum, , path] = line.trim().split(/\s+/);
            const byHash = join(repository, 'dists', 'stable', path, '..', 'by-hash', 'SHA256', sum);
            assert.ok(readFileSync(byHash).equals(readFileSync(join(repository, 'dists', 'stable', path))), path);
        }
        // The packages given, and the orig tarball's signature that the .dsc names; no dbgsym.
        const pool = readdirSync(join(repository, 'pool', 'main', 'g', 'glyphfall')).sort();
        const given = readdirSync(debs).filter((n) => /\.(dsc|deb|xz|gz|asc)$/.test(n) && !n.includes('dbgsym')).sort();
        assert.deepEqual(pool, given);
        assert.ok(pool.some((n) => n.endsWith('.orig.tar.gz.asc')), `no signature of the tarball in ${pool}`);
        const dsc = readFileSync(join(repository, 'pool', 'main', 'g', 'glyphfall', pool.find((n) => n.endsWith('.dsc'))), 'utf8');
        assert.match(dsc, /\.orig\.tar\.gz\.asc$/m);
    });

// A command, without holding up this process; resolves to what it printed,
// or rejects with it.
function run(command, args, env = {}) {
    return new Promise((done, fail) => {
        execFile(command, args, { timeout: 300000, encoding: 'utf8', env: { ...process.env, ...env } },
            (error, stdout, stderr) => (error ? fail(new Error(`${command}: ${error.message}\n${stdout}${stderr}`))
                : done(stdout + stderr)));
    });
}

test('without a signature the repository is not published, and the build says so; another key\'s is refused; '
    + 'a published version is never changed', { skip: missing, timeout: 900000 }, async () => {
    const site = (label, apt) => run('node', [join(top, 'site', 'build.mjs'), program,
        process.env.GLYPHFALL_RELEASE, join(work, `site-${label}`)], { GLYPHFALL_APT: apt });

    const unsigned = join(work, 'unsigned');
    cpSync(repository, unsigned, { recursive: true });
    const said = await run(join(top, 'scripts', 'apt-repository'), [debs, unsigned]);
    assert.match(said, /apt: unsigned/);
    assert.ok(!existsSync(join(unsigned, 'dists', 'stable', 'InRelease')), 'InRelease left unsigned');
    const built = await site('unsigned', unsigned);
    assert.match(built, /the APT repository in \S+ is unsigned: not published/);
    assert.ok(!existsSync(join(work, 'site-unsigned', 'debian')), 'debian/ published unsigned');
    assert.ok(!readFileSync(join(work, 'site-unsigned', 'download.html'), 'utf8').includes('id="apt"'));

    const other = join(work, 'other');
    cpSync(repository, other, { recursive: true });
    const home = mkdtempSync(join(work, 'gnupg-'));
    const gpg = (...args) => execFileSync('gpg', ['--batch', '--quiet', ...args], { env: { ...process.env, GNUPGHOME: home },
        stdio: 'pipe' });
    gpg('--passphrase', '', '--quick-gen-key', 'another key <other@glyphfall.invalid>', 'ed25519', 'sign', 'never');
    const dists = join(other, 'dists', 'stable');
    try {
        gpg('--yes', '--clearsign', '-o', join(dists, 'InRelease'), join(dists, 'Release'));
    } finally {
        execFileSync('gpgconf', ['--kill', 'gpg-agent'], { env: { ...process.env, GNUPGHOME: home } });
    }
    await assert.rejects(site('other', other), /InRelease is no good signature by the key published/);

    const changed = join(work, 'changed');
    mkdirSync(changed);
    cpSync(debs, changed, { recursive: true });
    const deb = readdirSync(changed).find((n) => n.endsWith('.deb'));
    const bytes = readFileSync(join(changed, deb));
    bytes[bytes.length >> 1] ^= 1;
    writeFileSync(join(changed, deb), bytes);
    await assert.rejects(run(join(top, 'scripts', 'apt-repository'), [changed, other]),
        new RegExp(`${deb.replace(/\./g, '\\.')} is already published, with other bytes`));
});

// tests/check_apt.sh CASE in roots of its own; resolves to its report, or
// with `skipped` and the reason when it exits 77.
function check(name) {
    return new Promise((done, fail) => {
        execFile('sh', [join(top, 'tests', 'check_apt.sh'), name, folder, debs, fingerprint, join(work, 'install'),
            join(work, 'remove'), program], { timeout: 1200000, maxBuffer: 1 << 26 }, (error, stdout, stderr) => {
            if (error?.code === 77) done({ skipped: stdout.trim().split('\n').at(-1), report: stdout });
            else if (error) fail(new Error(`check_apt.sh ${name} exited ${error.code ?? error.signal}:\n${stdout}${stderr}`));
            else done({ report: stdout });
        });
    });
}

for (const [name, title] of [
    ['install', 'in a fresh Debian 12, the page\'s commands install glyphfall, which runs; its removal commands leave nothing'],
    ['upgrade', 'a later version in the repository: apt-get upgrade installs it, the first stays in the pool'],
    ['refused', 'apt refuses another key, no signature, a changed Packages file and a changed .deb, and installs nothing'],
    ['same', 'the repository made again from the same packages and key is the same bytes'],
    ['foreign', 'with arm64 and armhf added, apt installs glyphfall:arm64 and glyphfall:armhf, which draw the native frames under qemu-user'],
]) {
    const foreignMissing = !missing && name === 'foreign' &&
        !['arm64', 'armhf'].every((arch) => readdirSync(debs).some((n) => n.endsWith(`_${arch}.deb`))) &&
        'no arm64 and armhf packages among those given (make debs builds them)';
    test(title, { skip: missing || foreignMissing, timeout: 1200000 }, async (t) => {
        const { skipped, report } = await check(name);
        for (const line of report.trim().split('\n')) t.diagnostic(line);
        if (skipped) t.skip(skipped);
    });
}
