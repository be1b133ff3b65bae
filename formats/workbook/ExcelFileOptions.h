#pragma once
// The sheet choice of the Excel readers (BIFF, XLSB and XLSX workbooks): which worksheets to
// read and how several of them are combined, with its text form inside an options document
// and the rules that turn it into sheet names and a read-file name.
//
// Text form, in the "Settings" section of an options document:
//   "Sheets"      ";"-separated list: the chosen positions (decimal) when UseIndexes is true,
//                 else the chosen names, each percent-encoded
//   "ReadOrder"   1: sheets one under another; any other value: side by side
//   "AllSheets"   every worksheet is chosen
//   "UseIndexes"  "Sheets" holds positions (false when absent)
#include <string>
#include <vector>

#include "plugin/Export.h"
#include "plugin/QmImport.h"

class KELTO_API ExcelFileOptions {
public:
    int readOrder = 3;
    bool allSheets = false;
    std::vector<int> sheetIndexes;         // 0-based positions in the worksheet list
    std::vector<std::string> sheetNames;   // used when sheetIndexes is empty

    // The options document (uncompacted XML) holding the four keys.
    std::string ToText() const;
    // Parses an options document; false (options unchanged) when the text is not a document
    // with a "Settings" section. With UseIndexes, entries that are not integers, are negative
    // or repeat an earlier position are skipped.
    bool FromText(const std::string& text);

    // The record's bytes become the binary-string form of ToText() (a new[] array, the old one
    // is freed).
    void WriteRecord(QmImportOpenOptions& record) const;
    // Reads the binary string from the record and parses it; false when that fails.
    bool ReadRecord(const QmImportOpenOptions& record);

    // The chosen sheet names for a workbook whose worksheets are `worksheets`, in order:
    // an empty list gives one empty name; allSheets gives the whole list; else the names at
    // sheetIndexes (positions outside the list skipped); else sheetNames as they stand.
    std::vector<std::string> ResolveSheetNames(const std::vector<std::string>& worksheets) const;

    // Chooses sheets by name: every name must be one of `worksheets` (an empty list stands
    // for one unnamed sheet ""); then the positions become sheetIndexes, sheetNames and
    // allSheets are cleared. False, nothing changed, when a name is unknown.
    bool ChooseByName(const std::vector<std::string>& names, const std::vector<std::string>& worksheets);

    // The default choice: the first worksheet, read order 3 when several sheets may be read
    // together, else 1.
    void ChooseDefault(bool allowMultipleSheets);

    // Forgets the choice (sheetIndexes, sheetNames, allSheets); readOrder stays.
    void ClearChoice();
};

namespace kelto::workbook {

// The resolved sheet names joined with "_" (the name a read is known by).
KELTO_API std::string JoinSheetNames(const std::vector<std::string>& names);

// What GetReadFile reports for that name: empty when the name is empty or a default sheet
// name ("Sheet", "Blad", "Tabelle", "Feuil" or "Hoja" followed by an integer, as Sheet3 or
// Tabelle12), else the name itself.
KELTO_API std::string ReadFileName(const std::string& name);

}  // namespace kelto::workbook
