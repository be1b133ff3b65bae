#pragma once
// Excel workbooks in the binary record formats BIFF2 to BIFF8 (".xls"). BIFF5/7 and BIFF8
// workbooks are the stream "Workbook" or "Book" of a compound file; BIFF2, BIFF3 and BIFF4
// files are plain record streams (a single worksheet, or a BIFF4 workbook of bundled sheets).
// Read only.
//
// One or several chosen worksheets go into one table: with read order 1 one under another
// (and a column of sheet labels), otherwise side by side (and a row of labels). Numbers whose
// cell format is a date format (BIFF5-8) go out as date texts; booleans and errors as their
// texts ("TRUE", "#DIV/0!").
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "formats/workbook/ExcelFileOptions.h"
#include "plugin/Export.h"
#include "plugin/SprFileFactory.h"
#include "plugin/SpreadsheetFile.h"

namespace kelto::platform {
class CompoundFileReader;
class CompoundStream;
}  // namespace kelto::platform

// One record as read: type, data length and data (all fields little-endian).
struct BIFFRecord {
    static constexpr int kMaxLength = 8224;        // BIFF8
    static constexpr int kMaxLengthBefore8 = 2080; // BIFF2 to BIFF5/7
    std::uint16_t type = 0;
    std::uint16_t length = 0;
    std::array<std::uint8_t, kMaxLength> data{};
    // The record's bytes: `data`, or the reader's block buffer when the record lay whole in it
    // (valid until the next record is read).
    const std::uint8_t* bytes = data.data();
    const std::uint8_t* Data() const { return bytes; }
};

// A byte stream over a plain file (shared reading).
class KELTO_API BaseStream {
public:
    BaseStream() = default;
    explicit BaseStream(const std::string& path);
    virtual ~BaseStream();
    BaseStream(const BaseStream&) = delete;
    BaseStream& operator=(const BaseStream&) = delete;

    // Bytes copied (fewer only at the end of the stream), or -1 on failure.
    virtual int Read(char* buffer, int count);
    virtual int Write(const char* buffer, int count);
    // origin 0 from the start, 1 from the current place, 2 from the end; others do nothing.
    virtual void Seek(std::int64_t position, int origin);
    virtual std::int64_t Tell();
    // 0 while usable.
    virtual int Status();

private:
    struct FileCloser {
        void operator()(std::FILE* f) const;
    };
    std::unique_ptr<std::FILE, FileCloser> file_;
    int status_ = 1;
};

// One stream of a compound file: the first root element named "Workbook" or "Book" (in any
// letter case, as compound-file names compare). Status: 1 the file could not be opened or
// listed, 2 no workbook stream, 3 a read failed, 4 a write failed, 6 a seek or tell failed.
class KELTO_API ExcelStgStream : public BaseStream {
public:
    explicit ExcelStgStream(const std::string& path);
    ~ExcelStgStream() override;

    int Read(char* buffer, int count) override;
    int Write(const char* buffer, int count) override;
    void Seek(std::int64_t position, int origin) override;
    std::int64_t Tell() override;
    int Status() override;

private:
    std::unique_ptr<kelto::platform::CompoundFileReader> storage_;
    std::unique_ptr<kelto::platform::CompoundStream> stream_;
    int status_ = 0;
};

struct WorksheetInfo {
    std::string name;            // UTF-8
    std::int64_t position = 0;   // where reading of the sheet starts
    int numCols = 0;
    int numRows = 0;
};

struct SharedStringTable {
    int declaredCount = 0;
    std::vector<std::string> strings;  // UTF-8; never more than the records held
};

class KELTO_API ExcelFile : public SpreadsheetFile {
public:
    enum Error {
        kOpenFailed = 256,
        kBadWorkbook = 257,
        kBadWorksheet = 258,
        kNotExcel = 259,
        kDialogOrEmpty = 260,
        kProtected = 261,
        kNoExcelStream = 262,
        kNoSheets = 263,
        kUnknownVersion = 264,
        kNoSheetSelected = 776,
    };

    ExcelFile();
    ~ExcelFile() override;
    ExcelFile(const ExcelFile&) = delete;
    ExcelFile& operator=(const ExcelFile&) = delete;

    void Close() override;
    int GetNumCols() override;
    int GetNumRows() override;
    void GetErrorMessage(char* buffer, unsigned int size) override;
    QmImportOpenOptions* GetFileReadOptions(const char* path, bool allowMultipleSheets) override;
    int Open(bool read, const char* path, QmImportOpenOptions* options) override;
    int Read(ReadSpreadSheetData* data) override;
    const char* GetReadFile() const override;

    // Names of the worksheets (sheets with at least one row and column), in workbook order.
    std::vector<std::string> GetWorksheets() const;
    bool SetCurWorksheet(const std::vector<std::string>& names);
    const ExcelFileOptions& GetExcelFileOptions() const { return options_; }

protected:
    int EstablishSize() override;
    // The default choice when the caller gave none; a derived class may ask the user and leave
    // code 4 to cancel the open.
    virtual int GetSheetOptions(const std::vector<std::string>& worksheetNames);

private:
    class Records;
    class TextDecoder;
    struct SheetWalk;

    int OpenFile(const char* path, QmImportOpenOptions* options);
    int ReadWorkbookGlobals();
    bool ReadSharedStrings();
    bool ReadBiffRecord(BIFFRecord& record);
    int IsWorksheet(std::int64_t position);
    template <typename Visit>
    bool WalkSheet(std::int64_t position, Visit&& visit);
    bool GetSheet(QmImportOpenOptions* options);
    bool SetOptions(QmImportOpenOptions* options);
    void GetOptions(QmImportOpenOptions* options) const;
    std::vector<int> GetSheetIndexes(const std::vector<std::string>& names) const;
    std::vector<int> ChosenEntries() const;
    void Set(ReadSpreadSheetData* data, int column, int row, int xf, double value) const;
    void ComputeSize();
    std::string Text8(const std::uint8_t* bytes, std::size_t count) const;

    BIFFRecord record_;
    ExcelFileOptions options_;
    int worksheetCount_ = 0;
    std::array<WorksheetInfo, 256> sheets_;
    bool allowMultipleSheets_ = false;
    std::uint8_t version_ = 0;
    bool biff2_ = false;
    bool biff8_ = false;
    bool date1904_ = false;
    std::unique_ptr<BaseStream> stream_;
    std::unique_ptr<Records> records_;
    std::unique_ptr<TextDecoder> decoder_;
    SharedStringTable sst_;
    std::vector<bool> xfDateFlags_;
    std::string readFile_;
    mutable std::string readFileReturned_;
};

class ExcelFileFactory : public SprFileFactory {
public:
    ExcelFileFactory();

protected:
    MyKindOfFile IsMyKindOfFile(const char* path) override;
    SpreadsheetFile* GetSpreadsheetFile() override;
};
