#pragma once
// JCAMP-DX spectra (".jdx", ".dx", ".jcm"): labelled-data-record text files, one file or several
// read together. Each spectrum page of each selected data block becomes one row, each x
// position one column. Understands LINK blocks holding several data blocks, XY data in plain
// (AFFN) and compressed ASDF forms (SQZ, DIF, DUP), and (XY..XY) tables. When the selected
// spectra do not share one x axis, every spectrum is interpolated onto the axis of one
// reference page. Read only. [JCAMP-DX 4.24: McDonald & Wilks, Appl. Spectrosc. 42 (1988)]
//
// Table: row 1 "t <x>" headings from column 3, row 2 the x units in column 2 and the x values,
// then one row per page: a number, a name, the y values (missing ones empty).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "outside/ncmat/NCDataVector.h"
#include "platform/OleDate.h"
#include "plugin/Export.h"
#include "plugin/SprFileFactory.h"
#include "plugin/SpreadsheetFile.h"

struct JCAMPPage {
    std::size_t position = 0;  // just after the label line that opened the page's data
    int line = 0;              // the number of that label line
    std::string title;
    std::int32_t points = -1;  // the block's points when the page was found
};

struct JCAMPData {
    std::string fileName;
    std::string path;
    std::size_t fileIndex = 0;
    std::string title;
    std::optional<std::string> dataType;
    std::optional<std::string> date;
    std::int32_t dataClass = 8;  // 0 LINK, 1 XYDATA, 3 RADATA, 4 XYPOINTS, 5 PEAKTABLE, 6 ASSIGNMENTS, 7 NTUPLES, 8 other
    std::int32_t blockCount = -1;
    std::optional<std::string> blockId;
    std::string xUnits, yUnits;
    double firstX, lastX;  // NaN until given
    double xFactor = 1.0, yFactor = 1.0;
    double deltaX = 0.0;
    std::int32_t points = -1;
    std::int32_t pageCount = 0;
    std::vector<JCAMPPage> pages;
    bool selected = true;
    std::size_t dataPosition = 0;
    JCAMPData();
};

class KELTO_API JCAMPFile : public SpreadsheetFile {
public:
    enum Error {
        kOpenFailed = 1536,
        kNotJcamp = 1537,
        kBinaryData = 1538,
        kNoTerminator = 1539,
        kMissingValue = 1540,
        kTitleMismatch = 1541,
        kStoredText = 1542,
        kIllegalValue = 1543,
        kBadNpoints = 1544,
        kNoneSelected = 1545,
        kReadError = 1546,
        kNoSize = 1547,
        kNoData = 1548,
        kUnknownClass = 1549,
        kAssignments = 1550,
        kRaData = 1551,
        kNtuples = 1552,
        kLineTooLong = 1553,     // a line longer than kMaxLineLength
        kTooManyPoints = 1554,   // NPOINTS above kMaxPoints
        kXyPairs = 1555,
        kBadSeries = 1556,
        kNoSpacing = 1557,
        kAbscissaDup = 1558,
        kDifOrdinate = 1559,
        kUnexpectedEnd = 1560,
        kIllegalCharacter = 1561,
        kInvalidCharacter = 1562,
        kDoubleDup = 1563,
        kUnsortedAxis = 1564,    // interpolation onto or from an x list that is not monotonic
        kMixedClasses = 1566,
        kInvalidReadOption = 1567,
        kEstablishSizeUnused = 1568,
    };
    enum Warning {
        kNoWarning = 1536,
        kMissingPoints = 1537,
        kExtraPoints = 1538,
        kYCheckFailed = 1539,
    };
    // Lines are read whole; a longer one ends the read.
    static constexpr std::size_t kMaxLineLength = std::size_t{1} << 20;
    // The most points a block may declare: beyond any one-dimensional spectrum in use, and it
    // bounds the values one page can make however strongly its data repeats (DUP).
    static constexpr std::int64_t kMaxPoints = std::int64_t{1} << 22;

    JCAMPFile();
    ~JCAMPFile() override;
    JCAMPFile(const JCAMPFile&) = delete;
    JCAMPFile& operator=(const JCAMPFile&) = delete;

    void Close() override;
    int Open(bool read, const char* path, QmImportOpenOptions* options) override;
    int Read(ReadSpreadSheetData* data) override;
    int GetNumCols() override;
    int GetNumRows() override;
    void GetErrorMessage(char* buffer, unsigned int size) override;
    const char* GetWarningMessage() override;

    // The reference spectrum for interpolation; the base takes block 0, page 0.
    virtual bool GetInterPolationIndeces(int& block, int& page);
    // The blocks to read; the base takes every block.
    virtual std::vector<int> GetSelectedJCAMPDataBlocks();

    int GetNumJCAMPBlocks() const { return static_cast<int>(blocks.size()); }
    bool JCAMPWarning() const { return warning != kNoWarning; }
    bool MultiSelection() const { return multiFile; }
    int SelectJCAMPBlock(int index);
    int SelectJCAMPBlock(const std::vector<int>& indices);
    int GetJCAMPBlockList(std::vector<std::string>& out);
    std::string GetTitle() const;
    // The date text of the current block, converted as a desktop in the United States would
    // read it; the empty text (and an invalid `out`) when there is none or it is no date.
    const char* GetDateCreated(kelto::platform::OleDateResult& out);

    const std::vector<JCAMPData>& Blocks() const { return blocks; }

protected:
    int EstablishSize() override;

private:
    class Lines;
    struct PageValues;
    int ScanHeader(std::size_t fileIndex);
    int HandleLabel(std::string_view name, std::string_view value, std::size_t fileIndex, std::size_t after);
    int ApplyOptions(QmImportOpenOptions* options);
    int LoadFile(std::size_t fileIndex);
    int ReadPage(ReadSpreadSheetData* data, const JCAMPData& block, const JCAMPPage& page, int row, bool first,
                 PageValues& values);
    int DecodeXYPage(const JCAMPData& block, const JCAMPPage& page, PageValues& values);
    int DecodeTablePage(const JCAMPData& block, const JCAMPPage& page, PageValues& values);
    int BuildCommonAxis(const std::vector<int>& selection);
    std::string Prefix(bool withLine) const;
    int FailAt(int code);

    std::vector<std::string> paths;
    std::vector<JCAMPData> blocks;
    int warning = kNoWarning;
    int warningRead = 0, warningExpected = 0, warningLine = 0;
    int currentBlock = -1;
    int lineNumber = 0;
    int errorLine = 0;
    int openTitles = 0;
    bool endSeen = false;
    bool multiFile = false;
    std::string scanFileName, scanPath;
    std::string storedText;
    bool rangesDiffer = false, pointsDiffer = false;
    int referenceBlock = -1, referencePage = -1;
    NCDataVector<float> commonX;
    std::size_t commonLength = 0;
    int pointsRead = 0, pointsExpected = 0;
    std::vector<int> selectionList;
    char* optionsBuffer = nullptr;
    std::string warningText;
    std::string dateText;
    // The text of the file being read; loaded once per file, never kept for all of them.
    std::string text;
    std::size_t loadedFile = static_cast<std::size_t>(-1);
};

class JCAMPFileFactory : public SprFileFactory {
public:
    JCAMPFileFactory();

protected:
    MyKindOfFile IsMyKindOfFile(const char* path) override;
    SpreadsheetFile* GetSpreadsheetFile() override;
};
