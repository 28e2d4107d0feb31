// glyphfall.git/: the repository up to the released commit, bare, for git's
// "dumb" HTTP protocol that any static host serves.
import { execFileSync } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { gunzipSync } from 'node:zlib';
import { top } from '../page.mjs';

const git = (...args) => execFileSync('git', args, { encoding: 'utf8', stdio: ['pipe', 'pipe', 'inherit'] });

// The released commit, which git archive wrote into the source tarball, and
// the branch main up to it alone, with the files that the dumb protocol reads
// in place of a server. Gives the commit.
export function publishRepository(tarball, folder) {
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
    return { commit };
}
