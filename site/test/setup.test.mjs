// site/setup against a registry whose certificate no trusted authority
// signed: it must stop and say how to trust one, never fetch unchecked.
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import { copyFileSync, existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { createServer } from 'node:https';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';

const root = join(dirname(fileURLToPath(import.meta.url)), '..', '..');

function run(command, args, env) {
    return new Promise((done) => {
        const child = spawn(command, args, { env, stdio: ['ignore', 'pipe', 'pipe'] });
        let output = '';
        child.stdout.on('data', (d) => { output += d; });
        child.stderr.on('data', (d) => { output += d; });
        child.on('close', (status) => done({ status, output }));
    });
}

test('an unverifiable registry certificate stops the set-up with a way out', async (t) => {
    const dir = mkdtempSync(join(tmpdir(), 'glyphfall-setup-'));
    t.after(() => rmSync(dir, { recursive: true, force: true }));
    execFileSync('openssl', ['req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '1', '-subj', '/CN=127.0.0.1',
        '-addext', 'subjectAltName=IP:127.0.0.1', '-keyout', join(dir, 'key.pem'), '-out', join(dir, 'cert.pem')],
    { stdio: 'ignore' });
    // The set-up as it stands in a checkout, without its installed packages.
    for (const file of ['site/setup', 'site/package.json', 'site/package-lock.json', 'scripts/need-packages']) {
        mkdirSync(dirname(join(dir, file)), { recursive: true });
        copyFileSync(join(root, file), join(dir, file));
    }
    let requests = 0;
    const server = createServer({ key: readFileSync(join(dir, 'key.pem')), cert: readFileSync(join(dir, 'cert.pem')) },
        (request, response) => { requests += 1; response.end('{}'); });
    await new Promise((done) => server.listen(0, '127.0.0.1', done));
    t.after(() => server.close());
    const registry = `https://127.0.0.1:${server.address().port}/`;

    const { status, output } = await run('sh', [join(dir, 'site/setup')], {
        ...process.env, npm_config_registry: registry, npm_config_cache: join(dir, 'cache'),
    });
    assert.equal(status, 1, output);
    assert.match(output, /cannot be\s+verified \((SELF_SIGNED_CERT_IN_CHAIN|DEPTH_ZERO_SELF_SIGNED_CERT)\)/, output);
    assert.ok(output.includes(registry), output);
    assert.match(output, /update-ca-certificates/, output);
    assert.match(output, /npm config set cafile/, output);
    assert.ok(!existsSync(join(dir, 'site/node_modules')), 'nothing installed');
    assert.equal(requests, 0, 'no request got past the handshake');
});
