// Expected cells of the Lotus sample files, from SheetJS (an independent reader), written to
// tests/corpus/lotus/expected.tsv. Run once after changing the samples:
//   npm install xlsx            (in any scratch folder; then NODE_PATH=<it>/node_modules)
//   NODE_PATH=... node tests/peers/lotus_expected.js
// Lines: file, cell (A1 form, or "-" for the whole file), kind, value. Kind "code" gives the
// error code a file must end with (these are releases and programs the reader refuses by their
// first records, which SheetJS reads anyway); "n" a number, "s" a text.
const fs = require('fs');
const path = require('path');
const XLSX = require('xlsx');

const dir = path.join(__dirname, '..', 'corpus', 'lotus');
// Files our reader refuses, with the code: newer releases and other programs' files are told
// apart by the beginning-of-file record (type 0: length 26 for releases 3 and later).
const refused = {
  'sheetjs_artifacts_quattro_write_L45.wk4': 2307,  // release 4 (WK4)
  'sheetjs_crlf_CRLFR9.WK4': 2307,
  'sheetjs_crlf_crlfq9.wk4': 2307,
  'sheetjs_artifacts_quattro_write_L9.123': 2311,   // 1-2-3 Millennium: an unknown version
  'sheetjs_crlf_CRLFR9.FM3': 2309,                  // a format file, not a worksheet
  'sheetjs_artifacts_quattro_write_qpdos.wq1': 2311, // Quattro Pro DOS: its own version word
  'sheetjs_crlf_crlfw4_3.wks': 2305,                // MS Works 3: no Lotus beginning record
  'sheetjs_crlf_crlfw4_2.wks': 2315,                // MS Works 2: Lotus beginning, Works records
};
// Where SheetJS is wrong about the file, the value the file holds, and why.
const corrections = {
  // A formula's string result (record 0x33) has no alignment prefix: SheetJS drops its first
  // character as if it had one.
  'sheetjs_crlf_CRLFR9.WK1!B2': 'abcdef',
  'sheetjs_crlf_crlfq9.wk1!B2': 'abc\r\ndef',
};

const esc = (s) => s.replace(/\\/g, '\\\\').replace(/\t/g, '\\t').replace(/\r/g, '\\r').replace(/\n/g, '\\n');
const out = ['file\tcell\tkind\tvalue'];
for (const file of fs.readdirSync(dir).sort()) {
  if (file.endsWith('.tsv') || file.endsWith('.md')) continue;
  if (file in refused) { out.push(`${file}\t-\tcode\t${refused[file]}`); continue; }
  const ws = XLSX.readFile(path.join(dir, file), { raw: true }).Sheets;
  const sheet = ws[Object.keys(ws)[0]];
  for (const cell of Object.keys(sheet).filter((k) => k[0] !== '!')) {
    const c = sheet[cell];
    let v = corrections[`${file}!${cell}`] ?? c.v;
    if (c.t === 'n') out.push(`${file}\t${cell}\tn\t${v}`);
    else if (c.t === 's') out.push(`${file}\t${cell}\ts\t${esc(String(v))}`);
  }
}
fs.writeFileSync(path.join(dir, 'expected.tsv'), out.join('\n') + '\n');
