// Expected cells of the .xlsb sample files from SheetJS (an independent reader), written to
// tests/corpus/xlsb/expected.tsv. Run once after changing the samples:
//   npm install xlsx            (in any scratch folder; then NODE_PATH=<it>/node_modules)
//   NODE_PATH=... node tests/peers/xlsb_expected.js
// The first worksheet of each file, as our reader reads it by default. Lines: file, cell (A1
// form, or "-" for the whole file), kind, value. Kinds: "code" the error code a file ends with,
// "n" a number, "s" a text (booleans and errors as their texts, dates as the date text our
// readers give: "yyyy-MM-dd HH:mm:ss" from the serial SheetJS reads, in the workbook's date
// system, or "HH:mm:ss" for a time of day alone).
const fs = require('fs');
const path = require('path');
const XLSX = require('xlsx');

const dir = path.join(__dirname, '..', 'corpus', 'xlsb');
// Files our reader refuses, with the code.
const refused = {
  'calamine_pass_protected.xlsb': 775,   // encrypted: a compound file, not a zip package
  'calamine_issue_666_panic.xlsb': 768,  // its sheet data holds no record
  'poi_Simple.xlsb': 771,                // sheet entries whose texts run past their record
};

const pad = (n, w = 2) => String(n).padStart(w, '0');
function dateText(serial, date1904) {
  if (!date1904 && serial < 1) {
    const s = Math.round(serial * 86400);
    return `${pad(Math.floor(s / 3600))}:${pad(Math.floor(s / 60) % 60)}:${pad(s % 60)}`;
  }
  // Serial 60 is the 29 February 1900 Excel counts; earlier serials are one day later.
  let days = date1904 ? serial + 1462 : serial;
  if (!date1904 && serial < 61) days += 1;
  const ms = Math.round((days - 25569) * 86400 * 100) * 10;
  const d = new Date(ms);
  return `${d.getUTCFullYear()}-${pad(d.getUTCMonth() + 1)}-${pad(d.getUTCDate())} ` +
         `${pad(d.getUTCHours())}:${pad(d.getUTCMinutes())}:${pad(d.getUTCSeconds())}`;
}
const esc = (s) => s.replace(/\\/g, '\\\\').replace(/\t/g, '\\t').replace(/\r/g, '\\r').replace(/\n/g, '\\n');

const out = ['file\tcell\tkind\tvalue'];
for (const file of fs.readdirSync(dir).sort()) {
  if (!file.endsWith('.xlsb')) continue;
  if (file in refused) { out.push(`${file}\t-\tcode\t${refused[file]}`); continue; }
  const wb = XLSX.readFile(path.join(dir, file), { cellNF: true, raw: true });
  const date1904 = !!(wb.Workbook && wb.Workbook.WBProps && wb.Workbook.WBProps.date1904);
  const sheet = wb.Sheets[wb.SheetNames[0]];
  const cells = Object.keys(sheet).filter((k) => k[0] !== '!');
  // A first sheet without cells ends the read with "contains no data".
  if (cells.length === 0) { out.push(`${file}\t-\tcode\t768`); continue; }
  for (const cell of cells) {
    const c = sheet[cell];
    if (c.t === 'n') {
      if (c.z && XLSX.SSF.is_date(c.z)) out.push(`${file}\t${cell}\ts\t${dateText(c.v, date1904)}`);
      else out.push(`${file}\t${cell}\tn\t${c.v}`);
    } else if (c.t === 's' && c.v !== '') out.push(`${file}\t${cell}\ts\t${esc(c.v)}`);
    else if (c.t === 'b') out.push(`${file}\t${cell}\ts\t${c.v ? 'TRUE' : 'FALSE'}`);
    else if (c.t === 'e') out.push(`${file}\t${cell}\ts\t${c.w || XLSX.utils.format_cell(c)}`);
  }
}
fs.writeFileSync(path.join(dir, 'expected.tsv'), out.join('\n') + '\n');
