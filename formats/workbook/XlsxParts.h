#pragma once
// The workbook-level parts of an .xlsx package, parsed as streams with expat: the
// relationships that locate every part, the workbook (sheet names, the 1904 date system),
// the shared strings and the cell styles' number formats. Elements are matched by namespace
// URI and local name, so any prefix (or none) reads the same.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formats/workbook/XlsxPackage.h"

namespace kelto::workbook::xlsx {

enum class LoadResult {
    Ok,
    NoWorkbook,   // the package holds no workbook part
    Corrupt,      // malformed XML or a part that cannot be inflated
    Unsupported,  // a part that is encrypted or compressed in a way we do not read
    TooLarge,     // the shared strings exceed what one table can index
};

// The local name of an expat element or attribute name ("URI local", see kNameSeparator)
// when it is in `uri` or, for the SpreadsheetML main namespace, in no namespace at all;
// empty otherwise.
inline constexpr char kNameSeparator = ' ';
std::string_view MainLocalName(const char* name);
std::string_view LocalNameIn(const char* name, std::string_view uri);
bool IsMainNamespace(std::string_view uri);

struct SheetEntry {
    std::string name;
    std::string part;  // the sheet part's name in the package; empty when unknown
};

struct WorkbookInfo {
    std::string workbookPart;
    bool date1904 = false;
    std::vector<SheetEntry> sheets;  // worksheets only, in workbook order
    std::string sharedStringsPart;   // empty when the workbook has none
    std::string stylesPart;
};

LoadResult LoadWorkbook(const Package& package, WorkbookInfo& info);

// All shared strings in one block of characters, each followed by a NUL so that it can be
// handed on as a C string where it lies.
class SharedStrings {
public:
    std::size_t size() const { return ends_.size(); }
    // Empty for an index past the end.
    std::string_view Get(std::size_t index) const {
        if (index >= ends_.size()) return {};
        std::size_t begin = index == 0 ? 0 : ends_[index - 1];
        return std::string_view(chars_.data() + begin, ends_[index] - begin - 1);
    }
    void Clear() {
        chars_.clear();
        chars_.shrink_to_fit();
        ends_.clear();
        ends_.shrink_to_fit();
    }

private:
    friend class SharedStringsLoader;
    std::string chars_;
    std::vector<std::size_t> ends_;
};

LoadResult LoadSharedStrings(const Package& package, const std::string& part, SharedStrings& strings);

// Which cell styles (cellXfs entries, by index) show numbers as dates or times.
class CellStyles {
public:
    bool IsDate(std::size_t styleIndex) const { return styleIndex < dateStyle_.size() && dateStyle_[styleIndex]; }
    std::size_t size() const { return dateStyle_.size(); }

private:
    friend class StylesLoader;
    std::vector<bool> dateStyle_;
};

LoadResult LoadStyles(const Package& package, const std::string& part, CellStyles& styles);

// Whether a custom number format shows dates or times: its first "Red" is blanked out, and
// then any of the letters y, m, d, h or s (lower case) makes it one.
bool IsDateFormatCode(std::string format);
// Built-in number formats that are dates and times: 14 to 22 and 45 to 47.
bool IsBuiltInDateFormat(int id);

// Decodes the "_xHHHH_" escapes of OOXML strings in place: each stands for the UTF-16 code
// unit HHHH (a surrogate pair as two escapes). An escape for NUL or a lone surrogate stays as
// it is written.
void DecodeEscapes(std::string& text);

// Parses the whole of an unsigned decimal text; false for anything else or beyond `max`.
bool ParseIndex(std::string_view text, std::uint64_t max, std::uint64_t& value);

}  // namespace kelto::workbook::xlsx
