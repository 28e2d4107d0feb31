// The container image: its signatures under signatures/, when
// `make publish-image` signed it, and the download page's section on it.
import { cpSync, existsSync } from 'node:fs';
import { join } from 'node:path';
import { html, size } from '../page.mjs';

// The lookaside of signatures that `make publish-image` left, `lookaside` or
// build/signatures beside the release, copied into `folder` when there is
// one. `registry` is where the image was published, host[:port]/path.
export function publishImage(dist, folder, { lookaside, registry }) {
    const from = lookaside || join(dist, '..', 'signatures');
    const signed = existsSync(from);
    if (signed) {
        cpSync(from, folder, { recursive: true });
    } else {
        console.log(`no ${from}: the page publishes no signatures of the container image (make publish-image SIGNING_KEY=...)`);
    }
    return { signed, registry: registry || 'REGISTRY' };
}

const archiveName = (version) => `glyphfall-${version}-oci.tar`;
export const imageShows = (name, version) => name === archiveName(version);

// What the archive is, how to load and run it; and, when the images published
// to a registry are signed, the two files that make podman refuse an image
// from there that the release key did not sign.
export function imageSection({ signed, registry }, files, version, home) {
    const image = files.find((f) => f.name === archiveName(version));
    if (!image) return '';
    const key = '/etc/pki/containers/glyphfall-release-key.asc';
    const policy = {
        default: [{ type: 'insecureAcceptAnything' }],
        transports: { docker: { [registry]: [{ type: 'signedBy', keyType: 'GPGKeys', keyPath: key }] } },
    };
    const verify = !signed ? '' : `
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
