#pragma once
// Lotus 1-2-3 release 1A and 2.x worksheets (.wks, .wk1) and Symphony files (.wrk, .wr1): a
// flat sequence of little-endian records, each a 16-bit type, a 16-bit data length and the
// data. The dimensions record sizes the table; integer, number, label and formula records
// (with the string result a formula may leave in the record after it) give the cells. Newer
// releases are recognised by their beginning-of-file record and refused. Read only.
#include <cstdint>
#include <string>
#include <vector>

#include "formats/spectral/BinaryInput.h"
#include "plugin/Export.h"
#include "plugin/SprFileFactory.h"
#include "plugin/SpreadsheetFile.h"

class KELTO_API LotusFile : public SpreadsheetFile {
public:
    enum Error {
        kOpenFailed = 2304,
        kNotLotus = 2305,
        kVersion3 = 2306,
        kVersion4 = 2307,
        kLotusJ = 2308,
        kFormatFile = 2309,
        kWorkbook123 = 2310,
        kUnknownVersion = 2311,
        kNoDimensions = 2312,
        kUnexpectedEnd = 2313,
        kReadFailed = 2314,
        kCorruptRecord = 2315,
    };

    LotusFile() = default;
    ~LotusFile() override;
    LotusFile(const LotusFile&) = delete;
    LotusFile& operator=(const LotusFile&) = delete;

    int Open(bool read, const char* path, QmImportOpenOptions* options) override;
    int Read(ReadSpreadSheetData* data) override;
    void Close() override;
    void GetErrorMessage(char* buffer, unsigned int size) override;
    const char* GetWarningMessage() override;

protected:
    int EstablishSize() override;

private:
    struct Record {
        int type = 0;
        int length = 0;
    };
    enum class Next { Ok, End, Short };

    int ClassifyBeginning();
    Next ReadRecordHeader(Record& record);
    // Reads min(length, capacity) bytes of the record's data into `buffer` and skips the
    // rest; false when the file ends inside the record.
    bool ReadRecordData(const Record& record, std::size_t capacity);
    bool PositionOf(int& column, int& row) const;
    bool IsValidPos(int column, int row) const;

    kelto::spectral::BinaryInput stream;
    // The first column and row of the dimensions record: cells are placed relative to them.
    int firstColumn = 0;
    int firstRow = 0;
    std::vector<char> buffer;
    std::size_t bufferUsed = 0;
    std::string warning;
};

class LotusFileFactory : public SprFileFactory {
public:
    LotusFileFactory();

protected:
    MyKindOfFile IsMyKindOfFile(const char* path) override;
    SpreadsheetFile* GetSpreadsheetFile() override;
};
