// One small workbook saved three ways by SheetJS (.xls BIFF8, .xlsx, .xlsb), for the test that
// reads all three through our three Excel readers and compares their cells. Rerun after changing
// the cells below:
//   npm install xlsx            (in any scratch folder; then NODE_PATH=<it>/node_modules)
//   NODE_PATH=... node tests/peers/make_three_workbooks.js
// writes tests/corpus/workbook_trio/trio.{xls,xlsx,xlsb}.
const path = require('path');
const XLSX = require('xlsx');

const n = (v, z) => (z ? { t: 'n', v, z } : { t: 'n', v });
const s = (v) => ({ t: 's', v });
const b = (v) => ({ t: 'b', v });
const e = (code) => ({ t: 'e', v: code });  // #NULL! 0x00, #DIV/0! 0x07, #VALUE! 0x0F, #REF! 0x17, #NAME? 0x1D, #NUM! 0x24, #N/A 0x2A
const _ = null;                              // an empty cell

const rows = [
  [s('kind'), s('first'), s('second'), s('third'), _, s('fifth')],
  [s('integers'), n(0), n(1), n(-1), n(65536), n(-2147483648)],
  [s('fractions'), n(0.5), n(-0.125), n(3.14159265358979), n(1 / 3), n(-123456.789)],
  [s('large and small'), n(1e10), n(-9.87654321e15), n(1e-10), n(6.02214076e23), n(-2.5e-300)],
  [s('texts'), s('héllo wörld'), s('日本語テキスト'), s('Ωμέγα €'), s('00123'), s('0042')],
  [s('booleans'), b(true), b(false), _, b(true), _],
  [s('errors'), e(0x07), e(0x2A), e(0x0F), e(0x17), e(0x1D)],
  [s('more errors'), e(0x24), e(0x00), _, _, _],
  [s('dates'), n(45000, 'yyyy-mm-dd'), n(45000.75, 'yyyy-mm-dd hh:mm:ss'), n(36526.5, 'd-mmm-yy'), n(0.25, 'hh:mm:ss'), n(1, 'yyyy-mm-dd')],
  [s('formatted numbers'), n(1234.5, '0.00'), n(0.25, '0%'), n(-7, '#,##0'), n(1e6, '0.00E+00'), _],
  [_, _, _, _, _, _],
  [s('after a blank row'), n(42), _, s('last'), _, n(7)],
];

const ws = {};
rows.forEach((row, r) => row.forEach((cell, c) => {
  if (cell) ws[XLSX.utils.encode_cell({ r, c })] = cell;
}));
ws['!ref'] = XLSX.utils.encode_range({ s: { r: 0, c: 0 }, e: { r: rows.length - 1, c: rows[0].length - 1 } });
const wb = XLSX.utils.book_new();
XLSX.utils.book_append_sheet(wb, ws, 'Trio');

const dir = path.join(__dirname, '..', 'corpus', 'workbook_trio');
XLSX.writeFile(wb, path.join(dir, 'trio.xls'), { bookType: 'biff8' });
XLSX.writeFile(wb, path.join(dir, 'trio.xlsx'), { bookType: 'xlsx' });
XLSX.writeFile(wb, path.join(dir, 'trio.xlsb'), { bookType: 'xlsb' });
