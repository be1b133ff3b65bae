#pragma once
// Excel workbooks in the Office Open XML form (.xlsx): reads the cells of one or several
// worksheets, typed per cell as number, boolean, text or date, and writes a table as a
// workbook of one sheet, "VANTU".
//
// Reading: the zip package through libzip, every XML part streamed (expat for the workbook,
// relationships, styles and shared strings; sheets by our scanner, or expat when the
// scanner hands a sheet over). Several sheets are laid one under another (read order 1) or
// side by side (any other read order); each keeps its own cell positions from A1.
//
// Table size: a sheet's <dimension> is believed only when the sheet part is large enough to
// hold that many cells, at 10 bytes of XML for each cell from A1 to its last cell; otherwise
// the table grows with the cells as they come, so a small file cannot make the host
// allocate a huge table. Cells beyond the <dimension> grow the table too.
//
// Writing: libxlsxwriter in constant-memory mode, numbers printed under the C locale of the
// writing thread only. Write completes the file and reports a failure to do so.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/workbook/ExcelFileOptions.h"
#include "formats/workbook/XlsxPackage.h"
#include "formats/workbook/XlsxParts.h"
#include "formats/workbook/XlsxSheet.h"
#include "plugin/Export.h"
#include "plugin/SprFileFactory.h"
#include "plugin/SpreadsheetFile.h"

struct lxw_workbook;
struct lxw_worksheet;

class KELTO_API ExcelXLSXFile : public SpreadsheetFile {
public:
    // Shared with the XLSB reader: 768 to 777. Ours alone: 778 to 781.
    enum Error {
        kSheetEmpty = 768,
        kNoSheets = 769,
        kOpenFailed = 770,
        kCorrupt = 771,
        kBadSize = 772,
        kUnsupported = 773,
        kOutOfMemory = 774,
        kProtected = 775,
        kNoSheetSelected = 776,
        kInstanceTaken = 777,  // kept for its message; any number of objects may live at once
        kBadCellReference = 778,
        kWriteOutsideGrid = 779,
        kWriteTextTooLong = 780,
        kWriteFailed = 781,
    };

    ExcelXLSXFile();
    ~ExcelXLSXFile() override;
    ExcelXLSXFile(const ExcelXLSXFile&) = delete;
    ExcelXLSXFile& operator=(const ExcelXLSXFile&) = delete;

    // Always 1: the real size reaches the caller through SetDataSize during Read.
    int GetNumCols() override { return 1; }
    int GetNumRows() override { return 1; }
    void GetErrorMessage(char* buffer, unsigned int size) override;
    const char* GetWarningMessage() override;
    QmImportOpenOptions* GetFileReadOptions(const char* path, bool allowMultipleSheets) override;
    int Open(bool read, const char* path, QmImportOpenOptions* options) override;
    int Read(ReadSpreadSheetData* data) override;
    const char* GetReadFile() const override;
    int Write(const WriteSpreadSheetData* data) override;

    bool IsAllowMultipleSheets() const { return allowMultipleSheets_; }
    // Every worksheet of the workbook, in workbook order.
    const std::vector<std::string>& GetWorksheets() const { return worksheets_; }
    ExcelFileOptions& GetExcelFileOptions() { return options_; }

    // Which sheet reader to use (tests compare them); Auto unless changed.
    void SetSheetReader(kelto::workbook::xlsx::SheetReader reader) { sheetReader_ = reader; }
    // Whether the last Read needed expat for any sheet.
    bool UsedExpatForSheets() const { return usedExpat_; }

protected:
    int EstablishSize() override;
    // The default choice: the first sheet, read order 3 when several sheets may be read
    // together, else 1. A derived class may ask the user and leave code 4 to cancel.
    virtual int GetSheetOptions();

private:
    int OpenFile(const char* path, QmImportOpenOptions* options);
    int GetSheet(QmImportOpenOptions* options);
    int LoadCellParts();
    int WriteCells(const WriteSpreadSheetData* data);
    void DiscardWriter();

    int mode_ = 0;  // 0 not open, 1 reading, 2 writing
    bool allowMultipleSheets_ = false;
    ExcelFileOptions options_;
    std::vector<std::string> worksheets_;
    std::string readFileName_;
    std::string readFileShown_;
    std::string sheetBeingRead_;
    std::string badReference_;     // code 778
    std::string writeProblem_;     // codes 779 to 781: the cell, or the writer's message
    std::string warning_;

    kelto::workbook::xlsx::Package package_;
    kelto::workbook::xlsx::WorkbookInfo workbook_;
    kelto::workbook::xlsx::SharedStrings sharedStrings_;
    kelto::workbook::xlsx::CellStyles styles_;
    bool cellPartsLoaded_ = false;
    kelto::workbook::xlsx::SheetReader sheetReader_ = kelto::workbook::xlsx::SheetReader::Auto;
    bool usedExpat_ = false;

    lxw_workbook* writer_ = nullptr;
    lxw_worksheet* sheet_ = nullptr;
};

class ExcelXLSXFileFactory : public SprFileFactory {
public:
    ExcelXLSXFileFactory();

protected:
    MyKindOfFile IsMyKindOfFile(const char* path) override;
    SpreadsheetFile* GetSpreadsheetFile() override;
};

namespace kelto::workbook::xlsx {

// A cell reference "B7" as column and row from 1; false when it is not one of a worksheet
// (columns A to XFD, rows 1 to 1048576), letters in either case.
bool ParseCellReference(std::string_view ref, int& column, int& row);
// "B7" for column 2, row 7; also for positions beyond the grid.
std::string CellName(int column, int row);
// An ISO 8601 date, date and time, or time ("2021-01-01", "2021-01-01T10:10:10.5Z",
// "10:10:10") as a serial date of the 1900 system; false when it is none.
bool ParseIsoDate(std::string_view text, double& serial);

inline constexpr int kMaxRows = 1048576;
inline constexpr int kMaxColumns = 16384;

}  // namespace kelto::workbook::xlsx
