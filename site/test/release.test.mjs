// The release as the home page serves it, from a server that lists no folder,
// as a static host does: downloaded from the download page in Chromium and
// checked, every file against SHA256SUMS, the program run; the key, its
// fingerprint and the signatures, checked as the page says; the repository
// cloned over HTTP; debian/watch read by uscan, which verifies the signature;
// the build refusing signatures that do not verify.
//
// Usage: as page.test.mjs. GLYPHFALL_RELEASE is the release the page was
// built from (site/check signs a copy of build/dist), GLYPHFALL_SIGNING_KEY the
// key published with it.
import assert from 'node:assert/strict';
import { execFile, execFileSync } from 'node:child_process';
import { createHash } from 'node:crypto';
import { copyFileSync, existsSync, mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync, statSync, writeFileSync }
    from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { gunzipSync } from 'node:zlib';
import puppeteer from 'puppeteer-core';
import { serve } from '../serve.mjs';
import { chromium } from './chromium.mjs';

const top = fileURLToPath(new URL('../..', import.meta.url));
const folder = process.env.GLYPHFALL_SITE ?? join(top, 'build', 'site');
const dist = process.env.GLYPHFALL_RELEASE ?? join(top, 'build', 'dist');
const program = process.env.GLYPHFALL ?? join(top, 'build', 'release', 'glyphfall');
const [versionLine, home] = execFileSync(program, ['-V'], { encoding: 'utf8' }).trim().split('\n');
const version = versionLine.split(' ')[1];
const pages = ['index.html', 'download.html', 'releases/index.html'];
const keyName = 'glyphfall-release-key.asc';
const keyFile = process.env.GLYPHFALL_SIGNING_KEY || join(top, 'debian', 'upstream', 'signing-key.asc');
const signatures = ['SHA256SUMS.asc', `glyphfall-${version}.tar.gz.asc`];

let server;
let origin;
let browser;
let work;

before(async () => {
    server = await serve(folder);
    origin = `http://127.0.0.1:${server.address().port}`;
    browser = await puppeteer.launch(chromium);
    work = mkdtempSync(join(tmpdir(), 'glyphfall-release-'));
});

after(async () => {
    await browser?.close();
    server?.closeAllConnections();
    server?.close();
    if (work) rmSync(work, { recursive: true, force: true });
});

const sleep = (ms) => new Promise((done) => setTimeout(done, ms));
const sha256 = (file) => createHash('sha256').update(readFileSync(file)).digest('hex');

// A command, run without holding up the server in this process; resolves to
// its standard output. The loopback address only: no proxy from the
// environment.
function run(command, args, options = {}) {
    const env = Object.fromEntries(Object.entries(process.env).filter(([name]) => !/_proxy$/i.test(name)));
    return new Promise((done, fail) => {
        execFile(command, args, { timeout: 120000, encoding: 'utf8', ...options,
            env: { ...env, ...options.env, no_proxy: '127.0.0.1' } },
            (error, stdout, stderr) => (error ? fail(new Error(`${command} ${args.join(' ')}: ${error.message}\n${stdout}${stderr}`))
                : done(stdout)));
    });
}

// SHA256SUMS as served: file name to checksum.
async function sums() {
    const response = await fetch(`${origin}/releases/SHA256SUMS`);
    assert.equal(response.status, 200);
    const text = await response.text();
    return { text, byName: new Map(text.trim().split('\n').map((line) => line.split(/ [ *]/).reverse())) };
}

// Every link of the pages, as absolute URLs.
async function links() {
    const found = new Set();
    for (const path of pages) {
        const page = await browser.newPage();
        await page.setJavaScriptEnabled(false);
        await page.goto(`${origin}/${path}`, { waitUntil: 'load' });
        for (const href of await page.$$eval('a[href]', (all) => all.map((a) => a.href))) found.add(href.split('#')[0]);
        await page.close();
    }
    return found;
}

test('the server lists no folder: what debian/watch reads is the built list', async () => {
    for (const path of ['glyphfall.git/', 'glyphfall.git/objects/pack/', 'glyphfall.git', 'releases']) {
        assert.equal((await fetch(`${origin}/${path}`)).status, 404, path);
    }
});

test('releases/ holds every file of the release, the same bytes, each listed with its size and checksum', async () => {
    const released = readdirSync(dist).filter((name) => statSync(join(dist, name)).isFile()).sort();
    const served = readdirSync(join(folder, 'releases')).filter((name) => name !== 'index.html').sort();
    assert.deepEqual(served, [...released, keyName].sort());
    assert.ok(readFileSync(keyFile).equals(readFileSync(join(folder, 'releases', keyName))), 'the key published');
    const list = readFileSync(join(folder, 'releases', 'index.html'), 'utf8');
    for (const name of [...released, keyName]) {
        const file = name === keyName ? keyFile : join(dist, name);
        assert.ok(readFileSync(file).equals(readFileSync(join(folder, 'releases', name))), name);
        const row = list.split('\n').find((line) => line.includes(`href="${name}"`));
        assert.ok(row, `releases/index.html does not list ${name}`);
        assert.ok(row.includes(statSync(file).size.toLocaleString('en')) && row.includes(sha256(file)), row);
    }
    const { byName } = await sums();
    assert.ok(byName.has(`glyphfall-${version}.tar.gz`), 'SHA256SUMS has no source tarball');
    assert.ok([...byName.keys()].some((name) => name.endsWith('-linux-amd64.tar.gz')), 'SHA256SUMS has no amd64 archive');
});

test('the download page\'s amd64 link, clicked, downloads the archive that SHA256SUMS names', async () => {
    const downloads = join(work, 'clicked');
    const page = await browser.newPage();
    const session = await page.createCDPSession();
    await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads, eventsEnabled: true });
    const finished = new Promise((done) => {
        session.on('Browser.downloadProgress', (event) => {
            if (event.state !== 'inProgress') done(event.state);
        });
    });
    await page.goto(`${origin}/download.html`, { waitUntil: 'load' });
    const link = await page.$('#program table a[href$="-linux-amd64.tar.gz"]');
    assert.ok(link, 'no amd64 link in the table of the download page');
    assert.equal(await link.evaluate((a) => a.textContent), 'amd64');
    await link.click();
    assert.equal(await Promise.race([finished, sleep(30000).then(() => 'not finished in 30 s')]), 'completed');
    await page.close();
    const name = `glyphfall-${version}-linux-amd64.tar.gz`;
    assert.deepEqual(readdirSync(downloads), [name]);
    assert.equal(sha256(join(downloads, name)), (await sums()).byName.get(name));
});

test('every file that SHA256SUMS names is linked from a page, downloads and passes sha256sum -c; the amd64 program runs', async () => {
    const { text, byName } = await sums();
    const linked = await links();
    const downloads = join(work, 'fetched');
    execFileSync('mkdir', ['-p', downloads]);
    for (const name of byName.keys()) {
        const url = `${origin}/releases/${name}`;
        assert.ok(linked.has(url), `no page links to ${name}`);
        const response = await fetch(url);
        assert.equal(response.status, 200, url);
        writeFileSync(join(downloads, name), Buffer.from(await response.arrayBuffer()));
    }
    writeFileSync(join(downloads, 'SHA256SUMS'), text);
    const checked = await run('sha256sum', ['--strict', '-c', 'SHA256SUMS'], { cwd: downloads });
    assert.equal(checked.trim().split('\n').filter((line) => / OK$/.test(line)).length, byName.size, checked);

    const archive = `glyphfall-${version}-linux-amd64`;
    await run('tar', ['-xzf', `${archive}.tar.gz`], { cwd: downloads });
    const printed = await run(join(downloads, archive, 'bin', 'glyphfall'), ['-V']);
    assert.equal(printed.split('\n')[0], `glyphfall ${version}`);
});

test('git clone over HTTP gives the branch main at the released commit, and nothing else', async () => {
    const tarball = join(folder, 'releases', `glyphfall-${version}.tar.gz`);
    const commit = execFileSync('git', ['get-tar-commit-id'], { input: gunzipSync(readFileSync(tarball)).subarray(0, 1024),
        encoding: 'utf8' }).trim();
    assert.match(commit, /^[0-9a-f]{40}$/);
    const clone = join(work, 'clone');
    await run('git', ['clone', '--quiet', `${origin}/glyphfall.git`, clone], { env: { GIT_TERMINAL_PROMPT: '0' } });
    const git = (dir, ...args) => execFileSync('git', ['-C', dir, ...args], { encoding: 'utf8' }).trim();
    assert.equal(git(clone, 'rev-parse', 'HEAD'), commit);
    assert.equal(git(clone, 'rev-parse', 'HEAD^{tree}'), git(top, 'rev-parse', `${commit}^{tree}`));
    assert.equal(git(clone, 'status', '--porcelain'), '');
    // Over HTTP too, so not while this process, the server, waits.
    const remote = await run('git', ['-C', clone, 'ls-remote', 'origin']);
    assert.deepEqual(remote.trim().split('\n'), [`${commit}\tHEAD`, `${commit}\trefs/heads/main`]);

    // What the host holds: that branch, no reflog, no object it does not reach.
    const bare = join(folder, 'glyphfall.git');
    assert.equal(git(bare, 'for-each-ref', '--format=%(refname) %(objectname)'), `refs/heads/main ${commit}`);
    assert.ok(!existsSync(join(bare, 'logs')), 'the repository keeps reflogs');
    assert.equal(git(bare, 'fsck', '--unreachable', '--no-reflogs', '--no-progress'), '');
});

// The fingerprint of a key file, as gpg shows it, in a GNUPGHOME of the test's.
async function fingerprint(file) {
    const home = mkdtempSync(join(work, 'gnupg-'));
    const listed = await run('gpg', ['--batch', '--with-colons', '--show-keys', file], { env: { GNUPGHOME: home } });
    return /^fpr:(?:[^:]*:){8}([0-9A-F]{40}):/m.exec(listed)[1];
}

test('the download page shows the key\'s fingerprint and links the key, the signatures and the bill of materials; its commands check a download', async () => {
    const expected = await fingerprint(keyFile);
    const page = await browser.newPage();
    await page.goto(`${origin}/download.html`, { waitUntil: 'load' });
    const shown = await page.$eval('#check .fingerprint', (code) => code.textContent);
    assert.equal(shown.replace(/\s/g, ''), expected);
    const hrefs = await page.$$eval('main a[href]', (all) => all.map((a) => a.href));
    const commands = await page.$eval('#check pre', (pre) => pre.textContent);
    await page.close();
    const bom = `glyphfall-${version}.cdx.json`;
    for (const name of [keyName, ...signatures, bom]) {
        assert.ok(hrefs.includes(`${origin}/releases/${name}`), `the download page does not link ${name}`);
    }

    // Each downloads: the key is the key, each signature verifies with gpgv and
    // sqv, the bill of materials passes sha256sum -c.
    const downloads = join(work, 'signed');
    mkdirSync(downloads);
    for (const name of [keyName, ...signatures, bom, 'SHA256SUMS', `glyphfall-${version}.tar.gz`]) {
        const response = await fetch(`${origin}/releases/${name}`);
        assert.equal(response.status, 200, name);
        writeFileSync(join(downloads, name), Buffer.from(await response.arrayBuffer()));
    }
    assert.equal(await fingerprint(join(downloads, keyName)), expected);
    for (const signature of signatures) {
        const data = signature.replace(/\.asc$/, '');
        const said = await run('sqv', ['--keyring', keyName, signature, data], { cwd: downloads });
        assert.equal(said.trim(), expected, `sqv on ${signature}`);
    }

    // The page's commands, as they stand, the host swapped for the server: the
    // fingerprint shown, a good signature, then OK for each file here.
    const script = commands.replaceAll(`${home}/`, `${origin}/`);
    assert.notEqual(script, commands, `the commands do not download from ${home}`);
    const output = await run('sh', ['-ec', `{\n${script}\n} 2>&1`], { cwd: downloads,
        env: { GNUPGHOME: mkdtempSync(join(work, 'gnupg-')) } });
    assert.ok(output.includes(shown.trim()), `gpg --show-keys does not show the fingerprint:\n${output}`);
    assert.match(output, /gpgv: Good signature from /);
    for (const name of [bom, `glyphfall-${version}.tar.gz`]) assert.ok(output.includes(`${name}: OK`), output);

    // And they stop on a changed SHA256SUMS.
    const sums = readFileSync(join(downloads, 'SHA256SUMS'), 'utf8');
    const changed = join(work, 'changed');
    mkdirSync(changed);
    for (const name of readdirSync(downloads).filter((n) => !n.endsWith('.gpg'))) {
        copyFileSync(join(downloads, name), join(changed, name));
    }
    writeFileSync(join(changed, 'SHA256SUMS'), sums.replace(/^./, (c) => (c === '0' ? '1' : '0')));
    await assert.rejects(run('sh', ['-ec', script.split('\n').filter((l) => !/^curl /.test(l)).join('\n')],
        { cwd: changed, env: { GNUPGHOME: mkdtempSync(join(work, 'gnupg-')) } }), /BAD signature/);
});

// uscan in a copy of the packaging: debian/watch with the host swapped for
// `server`'s, debian/upstream/signing-key.asc the published key (the
// throwaway one under test), debian/changelog; it downloads the newest
// version into its own folder. Resolves to that folder's files and uscan's
// report, or rejects.
async function uscan(server, label) {
    const there = `http://127.0.0.1:${server.address().port}`;
    const dir = join(work, `uscan-${label}`);
    mkdirSync(join(dir, 'glyphfall', 'debian', 'upstream'), { recursive: true });
    mkdirSync(join(dir, 'out'));
    const watch = readFileSync(join(top, 'debian', 'watch'), 'utf8');
    assert.ok(watch.includes(`${home}/releases/`), `debian/watch does not scan ${home}/releases/`);
    assert.match(watch, /pgpsigurlmangle=s\/\$\/\.asc\//);
    writeFileSync(join(dir, 'glyphfall', 'debian', 'watch'), watch.replaceAll(`${home}/`, `${there}/`));
    copyFileSync(join(folder, 'releases', keyName), join(dir, 'glyphfall', 'debian', 'upstream', 'signing-key.asc'));
    copyFileSync(join(top, 'debian', 'changelog'), join(dir, 'glyphfall', 'debian', 'changelog'));
    const report = await run('uscan', ['--no-conf', '--dehs', '--timeout', '20', '--download-current-version',
        '--destdir', join(dir, 'out')], { cwd: join(dir, 'glyphfall') });
    return { report, files: readdirSync(join(dir, 'out')).sort(), out: join(dir, 'out') };
}

test('uscan on debian/watch, the host swapped for the server, downloads this version and verifies its signature', async () => {
    const { report, files, out } = await uscan(server, 'good');
    const field = (name) => new RegExp(`<${name}>([^<]*)</${name}>`).exec(report)?.[1];
    assert.equal(field('upstream-version'), version, report);
    assert.equal(field('upstream-url'), `${origin}/releases/glyphfall-${version}.tar.gz`, report);
    assert.ok(files.includes(`glyphfall_${version}.orig.tar.gz`), `uscan made ${files}\n${report}`);
    assert.ok(readFileSync(join(out, `glyphfall_${version}.orig.tar.gz`))
        .equals(readFileSync(join(dist, `glyphfall-${version}.tar.gz`))), 'the orig tarball is not the release\'s');
});

test('uscan refuses a changed tarball and a missing signature, and makes no orig tarball', async () => {
    const tarball = `glyphfall-${version}.tar.gz`;
    const cases = [
        ['changed', /OpenPGP signature did not verify/, (dir) => {
            const bytes = readFileSync(join(dir, tarball));
            bytes[bytes.length >> 1] ^= 1;
            writeFileSync(join(dir, tarball), bytes);
        }],
        ['unsigned', /no signature file downloaded/, (dir) => rmSync(join(dir, `${tarball}.asc`))],
    ];
    for (const [label, said, spoil] of cases) {
        const copy = join(work, `host-${label}`, 'releases');
        mkdirSync(copy, { recursive: true });
        for (const name of readdirSync(join(folder, 'releases'))) copyFileSync(join(folder, 'releases', name), join(copy, name));
        spoil(copy);
        const spoilt = await serve(join(work, `host-${label}`));
        try {
            await assert.rejects(uscan(spoilt, label), said, label);
            const made = readdirSync(join(work, `uscan-${label}`, 'out')).filter((n) => n.includes('.orig.'));
            assert.deepEqual(made, [], `${label}: uscan made ${made}`);
        } finally {
            spoilt.closeAllConnections();
            spoilt.close();
        }
    }
});

// The page's build on a copy of the release in `release`, into a folder of
// its own; resolves to what it printed, or rejects.
function build(release, env = {}) {
    const output = join(work, `built-${Math.random().toString(36).slice(2)}`);
    return run('node', [join(top, 'site', 'build.mjs'), program, release, output], { timeout: 300000,
        env: { GLYPHFALL_SIGNING_KEY: keyFile, ...env } }).then((printed) => ({ printed, output }));
}

function copyRelease(label, skip = () => false) {
    const copy = join(work, `release-${label}`);
    mkdirSync(copy);
    for (const name of readdirSync(dist)) if (!skip(name)) copyFileSync(join(dist, name), join(copy, name));
    return copy;
}

test('the build refuses signatures that do not verify against the key it publishes', async () => {
    const swapped = copyRelease('swapped');
    copyFileSync(join(dist, signatures[1]), join(swapped, signatures[0]));
    await assert.rejects(build(swapped), /SHA256SUMS\.asc is no good signature by the key published/);
    const half = copyRelease('half', (name) => name === signatures[1]);
    await assert.rejects(build(half), /holds SHA256SUMS\.asc but not/);
    // The project's own key did not make the test's signatures.
    await assert.rejects(build(dist, { GLYPHFALL_SIGNING_KEY: '' }), /is no good signature by the key published/);
});

test('an unsigned release: the build says so, publishes no signature, and the page says it is unsigned', { timeout: 300000 },
    async () => {
        const unsigned = copyRelease('unsigned', (name) => name.endsWith('.asc'));
        const { printed, output } = await build(unsigned);
        assert.match(printed, /the release is unsigned/);
        assert.deepEqual(readdirSync(join(output, 'releases')).filter((n) => n.endsWith('.asc')), [keyName]);
        const page = readFileSync(join(output, 'download.html'), 'utf8');
        assert.match(page, /This release is unsigned/);
        assert.ok(!page.includes('SHA256SUMS.asc'), 'the page names a signature');
    });

// The container image's section of the download page; with the signatures
// that `make publish-image` left beside the release, the same files served
// under signatures/ and the two entries that make podman require them.
test('the container image: how to load and run it; the signatures served, and the entries that require them', async () => {
    const page = await browser.newPage();
    await page.goto(`${origin}/download.html`, { waitUntil: 'load' });
    const section = await page.$eval('#image', (s) => ({
        links: [...s.querySelectorAll('a[href]')].map((a) => a.getAttribute('href')),
        code: [...s.querySelectorAll('pre')].map((pre) => pre.textContent),
    })).catch(() => null);
    await page.close();
    assert.ok(section, 'the download page has no section #image');
    const archive = `glyphfall-${version}-oci.tar`;
    assert.ok(section.links.includes(`releases/${archive}`), `#image does not link ${archive}`);
    assert.match(section.code[0], new RegExp(`^podman load -i ${archive.replace(/\./g, '\\.')} .*localhost/glyphfall:${version}$`, 'm'));
    assert.match(section.code[0], new RegExp(`^podman run --rm -it glyphfall:${version.replace(/\./g, '\\.')}( |$)`, 'm'));

    const lookaside = process.env.GLYPHFALL_SIGNATURES ?? join(dist, '..', 'signatures');
    if (!existsSync(lookaside)) {
        assert.ok(!existsSync(join(folder, 'signatures')), 'signatures/ published without any made');
        assert.equal(section.code.length, 1, 'signature checks given without signatures');
        return;
    }
    const files = readdirSync(lookaside, { recursive: true }).filter((name) => statSync(join(lookaside, name)).isFile());
    assert.ok(files.length > 0, `${lookaside} holds no signature`);
    for (const name of files) {
        const response = await fetch(`${origin}/signatures/${name.split('/').map(encodeURIComponent).join('/')}`);
        assert.equal(response.status, 200, name);
        assert.ok(Buffer.from(await response.arrayBuffer()).equals(readFileSync(join(lookaside, name))), name);
    }
    const [key, registries, policy] = section.code.slice(1);
    const keyPath = /-o (\S+) (\S+)$/m.exec(key ?? '');
    assert.ok(keyPath, `no download of the key: ${key}`);
    assert.equal(keyPath[2], `${home}/releases/glyphfall-release-key.asc`);
    const registry = /^docker:\n {2}(\S+):\n {4}lookaside: (\S+)$/.exec(registries ?? '');
    assert.ok(registry, `not a registries.d entry: ${registries}`);
    assert.equal(registry[2], `${home}/signatures`);
    const required = JSON.parse(policy).transports.docker[registry[1]];
    assert.deepEqual(required, [{ type: 'signedBy', keyType: 'GPGKeys', keyPath: keyPath[1] }]);
});
