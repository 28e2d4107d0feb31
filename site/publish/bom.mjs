// The bill of materials that scripts/bom made, published with the release's
// files: the download page's section on it.
import { html, size } from '../page.mjs';

export const bomShows = (name) => name.endsWith('.cdx.json');

export function bomSection(files) {
    const bom = files.find((f) => bomShows(f.name));
    if (!bom) return '';
    return `<section id="bom" aria-labelledby="bom-h">
<h2 id="bom-h">Bill of materials</h2>
<p><a href="releases/${html(bom.name)}">${html(bom.name)}</a>, ${size(bom.bytes)}, in CycloneDX JSON: what each
program is made of. The programs are static, so each carries its own copy of the C library and the C++ runtime,
where no scanner looks; this lists them, with the Debian package and version each came from, and the checksum of
every program, archive and image. Scanners read it to tell whether a flaw announced in one of those libraries is in
this release.</p>
</section>`;
}
