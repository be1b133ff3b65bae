// CSV under arbitrary input: the file read through the entry points (see TextFormatFuzz.h),
// and the same bytes parsed in memory with a dialect chosen by the first byte's bits
// (escape character, strictness, quoting, doubled quotes, leading spaces).
#include <stdexcept>

#include "TextFormatFuzz.h"
#include "formats/text/CsvFile.h"

namespace {

// A sink that only checks what it is given stays within the size it was told.
class CheckingSink : public ReadSpreadSheetData {
public:
    using ReadSpreadSheetData::Set;
    void Set(int col, int row, const char* text) override { Check(col, row, text); }
    void Set(int col, int row, float) override { Check(col, row, ""); }
    void SetDataSize(int c, int r) override { cols = c, rows = r; }
    int GetNumberOfColumns() const override { return cols; }
    int GetNumberOfRows() const override { return rows; }

private:
    void Check(int col, int row, const char* text) {
        if (col < 1 || col > cols || row < 1 || row > rows || !text) __builtin_trap();
    }
    int cols = 0, rows = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > (1u << 20)) return 0;
    const std::uint8_t bits = data[0];
    CsvDialect dialect = (bits & 1) ? CsvDialect::Excel() : CsvDialect::Vorlund();
    if (bits & 2) dialect.escapeChar = '\\';
    if (bits & 4) dialect.strict = true;
    if (bits & 8) dialect.quoting = 0;
    if (bits & 16) dialect.doubleQuote = false;
    if (bits & 32) dialect.delimiter = ';';
    if (bits & 64) dialect.delimiter = 0xA7;  // not ASCII: the byte-run path steps aside
    CsvParser parser(dialect, (bits & 128) ? 3 : 1 << 20);
    try {
        const char* text = reinterpret_cast<const char*>(data + 1);
        parser.FeedText(text, text + (size - 1));
        parser.Finish();
    } catch (const std::runtime_error&) {
        // strict dialects refuse a stray character after a closing quote
    }
    CheckingSink sink;
    parser.GetData(sink, 1 << 20, 1 << 20);
    for (std::size_t i = 0; i < parser.GetNumRecords() && i < 4; ++i) parser.GetRecord(i);
    return kelto::fuzz::FuzzTextFormat("CSV File", ".csv", false, data, size);
}
