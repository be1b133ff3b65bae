// Expected values of the Galactic SPC corpus from an independent reader, the npm package
// spc-parser (1.0.0). Writes tests/corpus/spc/expected/<file>.tsv for every corpus file the
// peer reads: one "x" line, then one "y" line per spectrum, tab-separated, values rounded to
// single precision (nine significant digits read back to the same float). The peer sorts
// every spectrum by ascending x (it reverses descending axes, y included), so compare by x.
//
// Rerun (CI never does):
//   mkdir /tmp/peer && cd /tmp/peer && npm install spc-parser
//   NODE_PATH=/tmp/peer/node_modules node tests/peers/spc_expected.js   # from the repository
// (or NODE_PATH=/work/peers/node_modules where it is installed already).
const fs = require('fs');
const path = require('path');
const { parse } = require('spc-parser');

const corpus = path.join(__dirname, '..', 'corpus', 'spc');
const out = path.join(corpus, 'expected');
fs.mkdirSync(out, { recursive: true });

const single = (v) => Number(Math.fround(v).toPrecision(9)).toString();

for (const name of fs.readdirSync(corpus).sort()) {
  if (!/\.spc$/i.test(name)) continue;
  let result;
  try {
    result = parse(fs.readFileSync(path.join(corpus, name)));
  } catch (e) {
    console.log(`${name}: not read by the peer (${e.message})`);
    continue;
  }
  const spectra = result.spectra || [];
  if (spectra.length === 0) continue;
  const x = Array.from(spectra[0].variables.x.data);
  // One x line serves all spectra; a file whose spectra have x arrays of their own gets
  // none and is reported (we refuse those files).
  const shared = spectra.every((s) => {
    const sx = s.variables.x.data;
    return sx.length === x.length && sx.every((v, i) => v === x[i]);
  });
  if (!shared) {
    console.log(`${name}: ${spectra.length} spectra with x arrays of their own, not written`);
    continue;
  }
  const lines = ['x\t' + x.map(single).join('\t')];
  for (const s of spectra) lines.push('y\t' + Array.from(s.variables.y.data).map(single).join('\t'));
  fs.writeFileSync(path.join(out, name + '.tsv'), lines.join('\n') + '\n');
  console.log(`${name}: ${spectra.length} spectra of ${x.length} points`);
}
