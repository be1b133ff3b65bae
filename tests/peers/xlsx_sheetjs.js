// Cell values of .xlsx workbooks as SheetJS reads them, for xlsx_expected.py.
// Usage: NODE_PATH=/path/to/node_modules node xlsx_sheetjs.js FILE...   (npm install xlsx)
// Prints one JSON object: {file: {sheet: {cell: [kind, value]}}}, kinds as in
// xlsx_expected.py; dates as their calendar fields [y, m, d, H, M, S] in hundredths-rounded form.
const XLSX = require('xlsx');
const path = require('path');
const out = {};
for (const file of process.argv.slice(2)) {
  const sheets = {};
  let wb;
  try {
    wb = XLSX.readFile(file, {cellNF: true, cellDates: false, cellText: true});
  } catch (e) {
    out[path.basename(file)] = {error: String(e)};
    continue;
  }
  const date1904 = !!(wb.Workbook && wb.Workbook.WBProps && wb.Workbook.WBProps.date1904);
  for (const name of wb.SheetNames) {
    const ws = wb.Sheets[name];
    const cells = {};
    for (const ref of Object.keys(ws)) {
      if (ref[0] === '!') continue;
      const c = ws[ref];
      if (c.t === 'z' || c.v === undefined) continue;
      if (c.t === 'n') {
        if (c.z && XLSX.SSF.is_date(c.z)) {
          const d = XLSX.SSF.parse_date_code(c.v, {date1904});
          cells[ref] = d ? ['date', [d.y, d.m, d.d, d.H, d.M, d.S, c.v]] : ['n', c.v];
        } else {
          cells[ref] = ['n', c.v];
        }
      } else if (c.t === 'd') {
        cells[ref] = ['s', String(c.v)];
      } else if (c.t === 'b') {
        cells[ref] = ['b', c.v ? 'TRUE' : 'FALSE'];
      } else if (c.t === 'e') {
        cells[ref] = ['e', c.w !== undefined ? c.w : String(c.v)];
      } else {
        cells[ref] = ['s', String(c.v)];
      }
    }
    sheets[name] = cells;
  }
  out[path.basename(file)] = sheets;
}
process.stdout.write(JSON.stringify(out));
