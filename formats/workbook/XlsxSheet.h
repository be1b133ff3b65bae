#pragma once
// Reading a worksheet part's cells as a stream of events. Two readers give the same events:
// - expat, the reference: any well-formed document, any namespace prefixes;
// - a scanner of our own for the regular shape of <sheetData> (<row>, <c r s t>, <v>, <f>,
//   <is><t>), several times faster. Whatever it does not fully understand (CDATA, comments
//   or other elements inside the cells, entities other than the five predefined and numeric
//   ones, namespace prefixes on elements, a default namespace other than SpreadsheetML's,
//   carriage returns in texts, anything malformed) makes it hand the whole part back to
//   expat, which reads it again from the start: the events already given are given again,
//   identically, after a Restart().
// Reading ends at </sheetData>; what follows it is not examined.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "formats/workbook/XlsxPackage.h"

namespace kelto::workbook::xlsx {

// One <c> element: its attributes and the decoded text of its value. A flag says whether
// each was present.
struct CellEvent {
    std::string_view ref, style, type;
    std::string_view value;       // all <v> text
    std::string_view inlineText;  // all <t> text of <is>, phonetic runs left out
    bool hasRef = false, hasStyle = false, hasType = false, hasValue = false, hasInline = false;
};

class SheetEvents {
public:
    virtual ~SheetEvents() = default;
    // Reading starts over from the top of the part (the scanner handed it to expat).
    virtual void Restart() = 0;
    // A <dimension ref> before the cells. False stops the reading.
    virtual bool Dimension(std::string_view ref) = 0;
    // <sheetData> was reached; `partSize` is the part's uncompressed size.
    virtual bool BeginCells(std::uint64_t partSize) = 0;
    virtual bool Row(std::string_view r, bool hasR) = 0;
    virtual bool Cell(const CellEvent& cell) = 0;
};

enum class SheetResult {
    Ok,
    Stopped,      // an event handler returned false
    XmlError,     // the part is not well-formed XML
    PartError,    // the part could not be inflated (see the part status)
    Fallback,     // (scanner only) the part needs the expat reader
};

enum class SheetReader { Auto, ExpatOnly, ScannerOnly };

struct SheetReadOutcome {
    SheetResult result = SheetResult::Ok;
    PartStatus partStatus = PartStatus::Ok;
    bool usedExpat = false;
};

// Reads the part `name` of `package`. Auto: the scanner, and expat when it hands over.
// ScannerOnly (for tests) returns Fallback instead of handing over.
SheetReadOutcome ReadSheet(const Package& package, const std::string& name, SheetEvents& events,
                           SheetReader reader = SheetReader::Auto);

// The same for any source of the part's bytes; `open` gives a fresh source from the start
// of the part each time it is called (null when that fails: a PartError of `missing`).
using SourceOpener = std::function<std::unique_ptr<ByteSource>(PartStatus& status)>;
SheetReadOutcome ReadSheet(const SourceOpener& open, SheetEvents& events, SheetReader reader = SheetReader::Auto);

}  // namespace kelto::workbook::xlsx
