// A static server for the built page, on the loopback address only: the tests
// load the page through it, and `node site/serve.mjs` previews it. Text is
// sent compressed when the browser takes gzip, as any real host would.
//
// Usage: node site/serve.mjs [FOLDER [PORT]]   (default build/site, 8000)
import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
import { extname, join, normalize, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { gzipSync } from 'node:zlib';

const types = {
    '.html': 'text/html; charset=utf-8',
    '.css': 'text/css; charset=utf-8',
    '.js': 'text/javascript; charset=utf-8',
    '.svg': 'image/svg+xml',
    '.txt': 'text/plain; charset=utf-8',
    '.gz': 'application/octet-stream',
};
const compressible = new Set(['.html', '.css', '.js', '.svg', '.txt']);

// Starts serving `folder`; resolves to the server once it listens (port 0:
// any free port, see server.address().port).
export function serve(folder, port = 0) {
    const root = resolve(folder);
    const server = createServer(async (request, response) => {
        const path = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
        const file = join(root, normalize(path.endsWith('/') ? path + 'index.html' : path));
        let body;
        try {
            if (!file.startsWith(root)) throw new Error('outside the folder');
            body = await readFile(file);
        } catch {
            response.writeHead(404, { 'Content-Type': types['.txt'] }).end('not found\n');
            return;
        }
        const type = extname(file);
        const headers = { 'Content-Type': types[type] ?? 'application/octet-stream', 'Cache-Control': 'max-age=600' };
        if (compressible.has(type) && /\bgzip\b/.test(request.headers['accept-encoding'] ?? '')) {
            body = gzipSync(body);
            headers['Content-Encoding'] = 'gzip';
            headers['Vary'] = 'Accept-Encoding';
        }
        response.writeHead(200, headers).end(request.method === 'HEAD' ? undefined : body);
    });
    return new Promise((done, fail) => {
        server.once('error', fail);
        server.listen(port, '127.0.0.1', () => done(server));
    });
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
    const here = fileURLToPath(new URL('.', import.meta.url));
    const folder = process.argv[2] ?? join(here, '..', 'build', 'site');
    const server = await serve(folder, Number(process.argv[3] ?? 8000));
    console.log(`serving ${resolve(folder)} at http://127.0.0.1:${server.address().port}/ (Ctrl-C ends)`);
}
