// Expected values for the JCAMP-DX corpus from an independent reader, the npm package
// jcampconverter (tested with 12.5.3). Run once, commit the output:
//
//   mkdir /tmp/peer && cd /tmp/peer && npm install jcampconverter
//   NODE_PATH=/tmp/peer/node_modules node tests/peers/jcamp_expected.js \
//       tests/corpus/jcamp > tests/corpus/jcamp/expected/jcampconverter.tsv
//
// For every file and every spectrum it returns (in its flattened block order), the output has
// one "n" row (point count), one "sum" row (sum of y and sum of |y|), and "point" rows for the
// first 8, the last 8 and 48 evenly spaced points: index, x, y. Columns:
//   file  spectrum  kind  index  x  y
// Files it returns no spectra for (XYPOINTS, NTUPLES, assignments) are left out; their values
// are checked by hand in the reader's tests.
//
// The peer turns the x of NMR spectra given in Hz into ppm (dividing by the observe frequency,
// then shifting by a Bruker offset); our reader keeps the axis the file gives. So that both
// read the same axis, the labels it does that from (".OBSERVE FREQUENCY", "$SFO1", "$OFFSET")
// are removed from the text before it is handed over, and it is asked to drop "$$" comments
// (left in, one after "##YFACTOR=" turns the factor into NaN).
const fs = require('fs');
const path = require('path');
const { convert } = require('jcampconverter');

const dir = process.argv[2];
const out = [];
const g = (v) => (Number.isFinite(v) ? v.toPrecision(10) : String(v));
for (const name of fs.readdirSync(dir).sort()) {
  if (!/\.(jdx|dx|jcm)$/i.test(name)) continue;
  let result;
  try {
    const text = fs
      .readFileSync(path.join(dir, name), 'latin1')
      .replace(/^##(\.OBSERVE ?FREQUENCY|\$SFO1|\$OFFSET)\s*=.*$/gim, '##$$KEPT-AXIS=');
    result = convert(text, { removeComments: true });
  } catch (e) {
    process.stderr.write(`${name}: ${e.message}\n`);
    continue;
  }
  let index = 0;
  for (const entry of result.flatten) {
    for (const spectrum of entry.spectra || []) {
      const x = spectrum.data && spectrum.data.x;
      const y = spectrum.data && spectrum.data.y;
      if (!x || !y || y.length === 0) continue;
      const n = y.length;
      out.push([name, index, 'n', n, '', ''].join('\t'));
      let sum = 0;
      let abs = 0;
      for (const v of y) {
        sum += v;
        abs += Math.abs(v);
      }
      out.push([name, index, 'sum', '', g(sum), g(abs)].join('\t'));
      const picked = new Set();
      for (let i = 0; i < Math.min(8, n); i++) picked.add(i), picked.add(n - 1 - i);
      for (let k = 0; k < 48; k++) picked.add(Math.floor((k * (n - 1)) / 47));
      for (const i of [...picked].sort((a, b) => a - b)) out.push([name, index, 'point', i, g(x[i]), g(y[i])].join('\t'));
      index++;
    }
  }
}
process.stdout.write(['file\tspectrum\tkind\tindex\tx\ty', ...out].join('\n') + '\n');
