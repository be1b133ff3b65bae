#pragma once
// Excel binary workbooks (.xlsb): a zip package whose parts hold BIFF12 records [MS-XLSB].
// Reads the cells of one or several chosen worksheets, with shared strings, numbers, dates
// recognised from the cell styles (in the 1900 or 1904 date system), booleans and errors as
// their texts; records it cannot interpret are counted for a warning. Read only.
//
// Several sheets are laid one under another (read order 1) or side by side (any other read
// order), as the other Excel readers lay them. A sheet's dimension record sizes the table only
// when the sheet part is large enough to hold that many cells; otherwise the table grows with
// the cells as they come, so a small file cannot make the host allocate a huge table.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formats/workbook/ExcelFileOptions.h"
#include "formats/workbook/XlsxPackage.h"
#include "formats/workbook/XlsxParts.h"
#include "plugin/Export.h"
#include "plugin/SprFileFactory.h"
#include "plugin/SpreadsheetFile.h"

namespace kelto::workbook::xlsb {

// One BIFF12 record after another from a part, read in blocks. A record's type takes one or
// two bytes and its size one to four, seven bits in each byte; a record larger than the block
// is gathered whole.
class RecordReader {
public:
    explicit RecordReader(xlsx::ByteSource& source) : source_(source) {}
    enum class Next { Record, End, Corrupt };
    Next Read(int& type, std::string_view& data);

private:
    bool Fill(std::size_t wanted);
    xlsx::ByteSource& source_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0, end_ = 0;
    bool atEnd_ = false;
};

// A wide string at `at` of a record: a 32-bit count of UTF-16 code units, then the units.
// Sets `at` past it and appends its UTF-8 form to `out`; false when the record is too short.
bool ReadWideString(std::string_view data, std::size_t& at, std::string& out);

}  // namespace kelto::workbook::xlsb

class KELTO_API ExcelXLSBFile : public SpreadsheetFile {
public:
    ExcelXLSBFile() = default;
    ~ExcelXLSBFile() override = default;
    ExcelXLSBFile(const ExcelXLSBFile&) = delete;
    ExcelXLSBFile& operator=(const ExcelXLSBFile&) = delete;

    // Always 1: the real size reaches the caller through SetDataSize during Read.
    int GetNumCols() override { return 1; }
    int GetNumRows() override { return 1; }
    void GetErrorMessage(char* buffer, unsigned int size) override;
    const char* GetWarningMessage() override;
    QmImportOpenOptions* GetFileReadOptions(const char* path, bool allowMultipleSheets) override;
    int Open(bool read, const char* path, QmImportOpenOptions* options) override;
    int Read(ReadSpreadSheetData* data) override;
    const char* GetReadFile() const override;

    bool IsAllowMultipleSheets() const { return allowMultipleSheets_; }
    const std::vector<std::string>& GetWorksheets() const { return worksheets_; }
    ExcelFileOptions& GetExcelFileOptions() { return options_; }

protected:
    int EstablishSize() override;
    // The default choice: the first sheet, read order 3 when several sheets may be read
    // together, else 1. A derived class may ask the user and leave code 4 to cancel.
    virtual int GetSheetOptions();

private:
    struct Sheet {
        std::string name;
        std::string part;
    };
    struct Layout;
    int OpenFile(const char* path, QmImportOpenOptions* options);
    int ReadWorkbook();
    int GetSheet(QmImportOpenOptions* options);
    int LoadSharedStrings();
    int LoadStyles();
    int ReadSheet(const Sheet& sheet, ReadSpreadSheetData* data, Layout& layout, bool& empty);

    bool allowMultipleSheets_ = false;
    bool open_ = false;
    bool date1904_ = false;
    ExcelFileOptions options_;
    std::vector<Sheet> sheets_;
    std::vector<std::string> worksheets_;
    std::string readFileName_;
    std::string readFileShown_;
    std::string sheetBeingRead_;
    std::string warning_;
    kelto::workbook::xlsx::Package package_;
    std::vector<std::string> sharedStrings_;
    std::vector<bool> dateStyles_;
};

class ExcelXLSBFileFactory : public SprFileFactory {
public:
    ExcelXLSBFileFactory();

protected:
    MyKindOfFile IsMyKindOfFile(const char* path) override;
    SpreadsheetFile* GetSpreadsheetFile() override;
};
