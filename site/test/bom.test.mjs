// The release's bill of materials (make release writes it, scripts/bom):
// valid CycloneDX 1.5 for the library that writes and reads the format, and
// true to the release: every reference resolves, every checksum is the file's,
// its commit and time are the tarball's, and each program names the packages
// that the compiler of its architecture takes the C library, libstdc++ and
// libgcc from, at the versions dpkg reports.
//
// Usage: as release.test.mjs. GLYPHFALL_RELEASE is the release (build/dist).
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { createHash } from 'node:crypto';
import { readFileSync, statSync } from 'node:fs';
import { join } from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { gunzipSync } from 'node:zlib';
import { Validation } from '@cyclonedx/cyclonedx-library';

const top = fileURLToPath(new URL('../..', import.meta.url));
const dist = process.env.GLYPHFALL_RELEASE ?? join(top, 'build', 'dist');
const program = process.env.GLYPHFALL ?? join(top, 'build', 'release', 'glyphfall');
const version = execFileSync(program, ['-V'], { encoding: 'utf8' }).split('\n')[0].split(' ')[1];
const name = `glyphfall-${version}`;
const text = readFileSync(join(dist, `${name}.cdx.json`), 'utf8');
const bom = JSON.parse(text);
const sha256 = (bytes) => createHash('sha256').update(bytes).digest('hex');

// Every component, nested ones too.
const all = (list = bom.components) => list.flatMap((c) => [c, ...all(c.components ?? [])]);
const programs = all().filter((c) => c.type === 'application');
const property = (c, key) => c.properties?.find((p) => p.name === key)?.value;

test('the bill of materials is valid CycloneDX 1.5, and the validator refuses a broken one', async () => {
    // The format's version, as the library names its schemas.
    const validator = new Validation.JsonStrictValidator('1.5');
    assert.equal(await validator.validate(text), null);
    const broken = JSON.parse(text);
    broken.components[0].hashes[0].content = 'not a checksum';
    assert.notEqual(await validator.validate(JSON.stringify(broken)), null, 'a broken checksum passed');
});

test('every reference points at a component, and no two components share one', () => {
    const refs = [bom.metadata.component, ...all()].map((c) => c['bom-ref']);
    assert.equal(new Set(refs).size, refs.length, `references used twice: ${refs}`);
    for (const { ref, dependsOn } of bom.dependencies) {
        for (const r of [ref, ...dependsOn]) assert.ok(refs.includes(r), `the dependencies name ${r}, no component`);
    }
    // Each program depends on what is linked into it, the image on every program.
    for (const p of programs) {
        const entry = bom.dependencies.find((d) => d.ref === p['bom-ref']);
        assert.deepEqual(entry?.dependsOn, p.components.map((c) => c['bom-ref']), p['bom-ref']);
    }
    const image = bom.dependencies.find((d) => d.ref === 'image');
    assert.deepEqual(image.dependsOn, programs.map((p) => p['bom-ref']));
});

test('every checksum is the file\'s, and the commit and time are the tarball\'s', () => {
    const listed = readFileSync(join(dist, 'SHA256SUMS'), 'utf8').trim().split('\n').map((l) => l.split(/ [ *]/)[1]);
    const files = all().filter((c) => c.type === 'file' || c.type === 'container');
    assert.deepEqual(files.map((f) => f.name).sort(), listed.filter((n) => n !== `${name}.cdx.json`).sort(),
        'the files of the bill of materials are not those of SHA256SUMS');
    for (const f of files) assert.equal(f.hashes[0].content, sha256(readFileSync(join(dist, f.name))), f.name);
    for (const p of programs) {
        const arch = property(p, 'glyphfall:architecture');
        const bytes = execFileSync('tar', ['-xzOf', join(dist, `${name}-linux-${arch}.tar.gz`),
            `${name}-linux-${arch}/bin/glyphfall`], { maxBuffer: 1 << 26 });
        assert.equal(p.hashes[0].content, sha256(bytes), `the program for ${arch}`);
    }
    const tarball = join(dist, `${name}.tar.gz`);
    const commit = execFileSync('git', ['get-tar-commit-id'], { input: gunzipSync(readFileSync(tarball)).subarray(0, 1024),
        encoding: 'utf8' }).trim();
    assert.equal(property(bom.components[0], 'glyphfall:commit'), commit);
    const listing = execFileSync('tar', ['--full-time', '-tvzf', tarball], { encoding: 'utf8', env: { TZ: 'UTC0' } });
    const [day, time] = listing.split('\n')[0].split(/\s+/).slice(3, 5);
    assert.equal(bom.metadata.timestamp, `${day}T${time}Z`);
    assert.ok(statSync(tarball).size > 0);
});

// Debian's name of each release architecture and its toolchain's triple, as
// the Makefile lists them.
function targets() {
    const makefile = readFileSync(join(top, 'Makefile'), 'utf8').replace(/\\\n/g, ' ');
    const line = /^RELEASE_TARGETS\s*=(.*)$/m.exec(makefile)[1];
    return Object.fromEntries(line.trim().split(/\s+/).map((t) => t.split('=')));
}

// What dpkg says of the package that holds the file the compiler links for
// `-l`: its name and version, and the source and version of what it carries
// (for a cross toolchain's package, the Built-Using entry of its version).
function provider(compiler, file) {
    const path = execFileSync('realpath', [execFileSync(compiler, [`-print-file-name=${file}`], { encoding: 'utf8' }).trim()],
        { encoding: 'utf8' }).trim();
    const owner = execFileSync('dpkg', ['-S', path], { encoding: 'utf8' }).split(':')[0];
    const [version, source, sourceVersion, builtUsing] = execFileSync('dpkg-query',
        ['-W', '-f', '${Version}\t${source:Package}\t${source:Version}\t${Built-Using}', owner], { encoding: 'utf8' })
        .split('\t');
    let from = [source, sourceVersion];
    if (builtUsing) {
        const cross = version.replace(/cross\d+$/, '');
        from = builtUsing.split(', ').map((e) => /^(\S+) \(= (.+)\)$/.exec(e).slice(1)).find(([, v]) => v === cross);
        assert.ok(from, `${owner} ${version}: no source of that version in Built-Using: ${builtUsing}`);
    }
    return { owner, version, source: from[0], sourceVersion: from[1] };
}

test('each program names the C library, libstdc++ and libgcc it was linked with, at the versions dpkg reports', () => {
    const triples = targets();
    assert.deepEqual(programs.map((p) => property(p, 'glyphfall:architecture')).sort(), Object.keys(triples).sort());
    for (const [arch, triple] of Object.entries(triples)) {
        const p = programs.find((c) => property(c, 'glyphfall:architecture') === arch);
        for (const file of ['libc.a', 'libstdc++.a', 'libgcc.a']) {
            const want = provider(`${triple}-g++`, file);
            const got = p.components.find((c) => c.name === want.owner);
            assert.ok(got, `${arch}: no ${want.owner} (${file}) among ${p.components.map((c) => c.name)}`);
            assert.equal(got.version, want.version, `${arch}: ${want.owner}`);
            assert.equal(got.purl, `pkg:deb/debian/${want.source}@${encodeURIComponent(want.sourceVersion)}?arch=${arch}`);
            assert.ok(got.properties.some((q) => q.name === 'glyphfall:linked' && q.value.endsWith(`/${file}`)),
                `${arch}: ${file} is not among the files linked from ${want.owner}`);
        }
    }
});
