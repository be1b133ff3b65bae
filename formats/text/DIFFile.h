#pragma once
// The Data Interchange Format: a header naming the table and its counts of vectors and
// tuples, then one record of two lines per value, tuple by tuple. Each tuple is a row.
#include <memory>
#include <string>
#include <vector>

#include "formats/text/TextFile.h"
#include "plugin/Export.h"
#include "plugin/SprFileFactory.h"
#include "plugin/SpreadsheetFile.h"

class QmTextIOStream;

// Only the encoding matters to DIF; the delimiter keys are never written or read.
class KELTO_API DifFileOptions : public TextFileOptions {
public:
    bool UseDelimiterOption() const override;
    bool UseIgnoreConsecutiveDelimitersOption() const override;
};

class KELTO_API DIFFile : public SpreadsheetFile {
public:
    enum DifError {
        kOpenFailed = 768,
        kHeaderError = 769,
        kRecordError = 770,
    };

    // `encoding`: the encoding written (empty: the legacy code page).
    explicit DIFFile(const char* encoding = "");
    ~DIFFile() override;
    DIFFile(const DIFFile&) = delete;
    DIFFile& operator=(const DIFFile&) = delete;

    void Close() override;
    void GetErrorMessage(char* buffer, unsigned int size) override;
    QmImportOpenOptions* GetFileReadOptions(const char* path, bool flag) override;
    int Open(bool read, const char* path, QmImportOpenOptions* options) override;
    int Read(ReadSpreadSheetData* data) override;
    int Write(const WriteSpreadSheetData* data) override;

    // Delivers at most maxRows tuples of at most maxColumns values each.
    int Read(ReadSpreadSheetData* target, int maxColumns, int maxRows, const DifFileOptions& options);

    // The TABLE entry's string: the title of the table read.
    const std::string& GetTitle() const { return title; }

protected:
    int EstablishSize() override;
    virtual void WriteString(const char* text);
    virtual DifFileOptions GetDifFileOptions();

private:
    enum class Record { TupleStart, DataEnd, String, Number, Missing, Other, Error, EndOfText };
    enum class Header { Data, EndOfText, Error };

    bool NextLine(QmTextIOStream& in);
    Header ReadHeader(QmTextIOStream& in, int* vectors, int* tuples);
    Record ReadRecord(QmTextIOStream& in);
    int Scan(QmTextIOStream& in, int declaredColumns);
    bool Plausible(long long rows, long long columns) const;

    std::unique_ptr<QmTextIOStream> readStream;
    std::unique_ptr<QmTextIOStream> writeStream;
    std::string title;
    std::string line;
    std::vector<std::string> linesAhead;  // read ahead and given back, the next one last
    std::string topic;
    std::string numberText;
    std::string stringText;
    std::string path;
    std::string writeEncoding;
    int mode = 0;  // 0 closed, 1 reading, 2 writing
    char* optionsBuffer = nullptr;
    DifFileOptions options;
    long long fileBytes = 0;  // size of the file read, the bound of every count it declares
    bool writeFailed = false;
};

class KELTO_API DiffFileFactory : public SprFileFactory {
public:
    // Registers the DIF format (again, when the library has done so already).
    DiffFileFactory();

protected:
    // Likely for anything that reads as text or is named .dif; never certain.
    MyKindOfFile IsMyKindOfFile(const char* path) override;
    SpreadsheetFile* GetSpreadsheetFile() override;
};
