#pragma once
// Building BIFF record streams and workbooks for the Excel reader's tests (and its fuzz seeds),
// and a cell sink that records what a reader delivered, as it delivered it.
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/CfbBuilder.h"
#include "plugin/SpreadSheetData.h"

namespace kelto::test::xls {

using Bytes = std::vector<std::uint8_t>;

// Little-endian field writers.
struct Fields {
    Bytes b;
    Fields& u8(unsigned v) { b.push_back(static_cast<std::uint8_t>(v)); return *this; }
    Fields& u16(unsigned v) { return u8(v & 0xFF).u8((v >> 8) & 0xFF); }
    Fields& u32(std::uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
    Fields& f64(double v) {
        std::uint64_t bits;
        std::memcpy(&bits, &v, 8);
        return u32(static_cast<std::uint32_t>(bits)).u32(static_cast<std::uint32_t>(bits >> 32));
    }
    Fields& raw(const std::string& s) { b.insert(b.end(), s.begin(), s.end()); return *this; }
    Fields& utf16(const std::u16string& s) {
        for (char16_t c : s) u16(c);
        return *this;
    }
};

// One record: type, length, data.
inline Bytes Rec(std::uint16_t type, const Fields& data) {
    Fields r;
    r.u16(type).u16(static_cast<unsigned>(data.b.size()));
    r.b.insert(r.b.end(), data.b.begin(), data.b.end());
    return r.b;
}

inline void Append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

// BIFF8 records.
inline Bytes Bof8(unsigned substream) { return Rec(0x0809, Fields().u16(0x0600).u16(substream).u16(0x0DBB).u16(0x07CC).u32(0).u32(6)); }
inline Bytes Eof() { return Rec(0x000A, Fields()); }
inline Bytes Number(unsigned row, unsigned col, unsigned xf, double v) { return Rec(0x0203, Fields().u16(row).u16(col).u16(xf).f64(v)); }
inline Bytes Rk(unsigned row, unsigned col, unsigned xf, std::uint32_t rk) { return Rec(0x027E, Fields().u16(row).u16(col).u16(xf).u32(rk)); }
inline Bytes LabelSst(unsigned row, unsigned col, std::uint32_t index) { return Rec(0x00FD, Fields().u16(row).u16(col).u16(15).u32(index)); }
inline Bytes Dimensions8(std::uint32_t rows, unsigned cols) { return Rec(0x0200, Fields().u32(0).u32(rows).u16(0).u16(cols).u16(0)); }
// A compressed BIFF8 string: u16 count, option 0, the bytes.
inline Fields& Str8(Fields& f, const std::string& s) { return f.u16(static_cast<unsigned>(s.size())).u8(0).raw(s); }

// What a reader delivered: numbers (every numeric Set) and texts, by (column, row).
class RecordingSink : public ReadSpreadSheetData {
public:
    using Value = std::variant<double, std::string>;
    std::map<std::pair<int, int>, Value> cells;
    int cols = 0, rows = 0;

    int GetNumberOfColumns() const override { return cols; }
    int GetNumberOfRows() const override { return rows; }
    void SetDataSize(int c, int r) override { cols = c, rows = r; }
    void Set(int col, int row, int v) override { cells[{col, row}] = static_cast<double>(v); }
    void Set(int col, int row, std::int64_t v) override { cells[{col, row}] = static_cast<double>(v); }
    void Set(int col, int row, double v) override { cells[{col, row}] = v; }
    void Set(int col, int row, float v) override { cells[{col, row}] = static_cast<double>(v); }
    void Set(int col, int row, const char* text) override { cells[{col, row}] = std::string(text ? text : ""); }

    std::string Text(int col, int row) const {
        auto it = cells.find({col, row});
        if (it == cells.end()) return "<missing>";
        if (auto* s = std::get_if<std::string>(&it->second)) return *s;
        return "<number>";
    }
    double Num(int col, int row) const {
        auto it = cells.find({col, row});
        if (it == cells.end()) return -1e300;
        if (auto* d = std::get_if<double>(&it->second)) return *d;
        return -2e300;
    }
};

}  // namespace kelto::test::xls

namespace kelto::test::xls {

struct Sheet8 {
    std::string name;
    unsigned options = 0;  // BOUNDSHEET options: 0x0200 a chart, 0x0100 a macro sheet
    Bytes body;            // the records between the sheet's BOF and EOF
};

// A BIFF8 workbook stream: BOF, `head` (CODEPAGE, FORMAT, XF...), one BOUNDSHEET per sheet,
// `tail` (SST...), EOF, then each sheet's substream.
inline Bytes Workbook8(const Bytes& head, const std::vector<Sheet8>& sheets, const Bytes& tail = {}) {
    auto boundSheets = [&](const std::vector<std::uint32_t>& at) {
        Bytes out;
        for (std::size_t i = 0; i < sheets.size(); ++i) {
            Fields f;
            f.u32(at.empty() ? 0 : at[i]).u16(sheets[i].options).u8(static_cast<unsigned>(sheets[i].name.size())).u8(0).raw(sheets[i].name);
            Append(out, Rec(0x0085, f));
        }
        return out;
    };
    Bytes globals = Bof8(0x0005);
    Append(globals, head);
    const std::size_t boundAt = globals.size();
    Append(globals, boundSheets({}));
    Append(globals, tail);
    Append(globals, Eof());
    std::vector<std::uint32_t> positions;
    std::size_t at = globals.size();
    Bytes rest;
    for (const Sheet8& s : sheets) {
        positions.push_back(static_cast<std::uint32_t>(at));
        Bytes sub = Bof8(s.options & 0x0200 ? 0x0020 : 0x0010);
        Append(sub, s.body);
        Append(sub, Eof());
        at += sub.size();
        Append(rest, sub);
    }
    const Bytes patched = boundSheets(positions);
    std::copy(patched.begin(), patched.end(), globals.begin() + static_cast<std::ptrdiff_t>(boundAt));
    Append(globals, rest);
    return globals;
}

// The stream inside a compound file under `streamName`.
inline Bytes Compound(const Bytes& stream, const std::string& streamName = "Workbook") {
    kelto::test::CfbBuilder builder;
    builder.root.children.push_back(kelto::test::Stream(streamName, stream));
    return builder.Build();
}

}  // namespace kelto::test::xls
