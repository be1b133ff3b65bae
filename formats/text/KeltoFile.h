#pragma once
// The product family's own worksheet files: a plain delimited text file (".dat"), read by the
// text reader, or a compound file (".mip") whose entry ending in ".dat" holds the worksheet as
// delimited text, one line per row, and whose entry ending in ".ini" holds settings ("Status"
// section, "Version" key: a version outside 1 to 10 means the worksheet is UTF-8). Read only.
#include <istream>
#include <memory>

#include "formats/text/TextFile.h"
#include "plugin/SprFileFactory.h"

class CompoundFile;

class KELTO_API KeltoFile : public TextFile {
public:
    enum KeltoError {
        kNoWorksheet = 515,
        kNotKeltoFile = 516,
    };

    KeltoFile();
    ~KeltoFile() override;

    void Close() override;
    void GetErrorMessage(char* buffer, unsigned int size) override;
    int Open(bool read, const char* path, QmImportOpenOptions* options) override;
    int Read(ReadSpreadSheetData* data) override;
    int Write(const WriteSpreadSheetData* data) override;

    bool IsCompound() const { return compound; }

protected:
    int EstablishSize() override;

private:
    int Read(ReadSpreadSheetData* data, int maxColumns, int maxRows, int firstColumn, int firstRow,
             const TextFileOptions& options);
    bool RewindWorksheet();

    std::unique_ptr<CompoundFile> storage;
    std::unique_ptr<std::istream> worksheet;
    bool compound = false;
};

class KeltoFileFactory : public SprFileFactory {
public:
    KeltoFileFactory();

protected:
    MyKindOfFile IsMyKindOfFile(const char* path) override;
    SpreadsheetFile* GetSpreadsheetFile() override;
};
