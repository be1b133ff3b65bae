#pragma once
// MATLAB MAT-files. Reads level 4 (the version 4 binary matrix format, either byte order) and
// level 5 (the tagged format of MATLAB 5 to 7, plain or with zlib-compressed elements); writes
// a table as a level 4 file.
//
// Level 4: one matrix is delivered, or, when a derived class keeps a layout that SetOptions
// found, a data matrix with its identifier matrices around it: "OBSNUM"/"OBSNAM"/"VARNAM", or
// "DATA" with "COLUMNID"k/"OBSID"k (identifier columns) and "ROWID"k/"VARID"k (identifier rows).
// Level 5: every numeric, character and sparse matrix, stacked one below the other, with
// "VARNAM"/"VARNUM" rows above and "OBSNAM"/"OBSNUM" columns to their left.
// References: "MAT-File Format" (The MathWorks, version 7 and later), section 1 for level 4
// and sections 1-1 to 1-30 for level 5.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/spectral/BinaryInput.h"
#include "plugin/Export.h"
#include "plugin/SprFileFactory.h"
#include "plugin/SpreadsheetFile.h"

// A level 5 matrix as the table sees it.
struct KELTO_API msMatrix {
    char name[32] = {};
    int rows = 0;     // MATLAB's first dimension
    int columns = 0;  // the product of the others
    bool text = false;
    std::int64_t dataPosition = 0;  // offset of the real part in its element's bytes
    int startColumn = 1;
    int startRow = 1;

    // Where the values are: the element's bytes (owned by the MatFile), the real part's type
    // and size, and for sparse matrices the row indexes and column starts.
    int buffer = -1;
    std::uint32_t dataType = 0;
    std::uint64_t dataBytes = 0;
    bool sparse = false;
    std::int64_t irPosition = 0, jcPosition = 0;
    std::uint64_t nonZeros = 0;
    std::uint32_t charType = 0;
    std::uint32_t arrayClass = 0;

    // Cells across in the table: a character array gives one text per row.
    int TableColumns() const { return text ? (rows > 0 ? 1 : 0) : columns; }
};

class KELTO_API MatFile : public SpreadsheetFile {
public:
    enum Error {
        kOpenFailed = 1024,
        kNotMatFile = 1025,
        kCorrupt = 1026,
        kBadHeader = 1027,
        kBadMatrix = 1028,
        kWriteFailed = 1029,
        kCannotExport = 1030,
        kStructure = 1031,  // a structural fault of a level 5 file; the message names it
        kComplex = 1032,
        kUnknownType = 1033,
        kUnsupportedVersion = 1034,
    };
    static constexpr int kMaxLevel4Matrices = 20;

    MatFile();
    ~MatFile() override;
    MatFile(const MatFile&) = delete;
    MatFile& operator=(const MatFile&) = delete;

    void Close() override;
    int GetNumCols() override;
    int GetNumRows() override;
    void GetErrorMessage(char* buffer, unsigned int size) override;
    const char* GetWarningMessage() override;
    int Open(bool read, const char* path, QmImportOpenOptions* options) override;
    int Read(ReadSpreadSheetData* data) override;
    int Write(const WriteSpreadSheetData* data) override;

    // One line per level 4 matrix: name (at most 20 characters), size, kind.
    void GetMatrixList(std::vector<std::string>& descriptions) const;
    // Makes a level 4 matrix current; an index outside the list makes none current.
    void SetCurMatrix(int index);
    int GetCurMatrix() const { return currentMatrix; }
    int GetNumberOfMatrices() const { return matrixCount; }
    bool IsComplex() const;
    bool IsLevel5() const { return level5; }
    bool IsBigEndian() const { return bigEndian; }

    // Level 5 placement, over the list of matrices read.
    static void SetSheetSize(ReadSpreadSheetData* data, std::vector<msMatrix>& matrices);
    static void SetSheetIndex(std::vector<msMatrix>& matrices);
    // Each row of the character array is one name; VARNAM's go across, OBSNAM's down.
    static void SetNames(ReadSpreadSheetData* data, msMatrix& matrix, const std::vector<std::string>& names);
    // 1-based position of the first matrix whose name begins with `name`'s first `length`
    // characters; 0 when there is none.
    static int ExistsMatrix(const std::vector<msMatrix>& matrices, const char* name, int length);
    static void CheckDimensions(const std::vector<msMatrix>& matrices);

protected:
    // Level 5: parses the file and works out the table's size; level 4 needs no pass.
    int EstablishSize() override;
    // Called once the level 4 matrices are scanned: picks the current matrix and the layout.
    // The default turns both layouts off and makes the first matrix current. True when a
    // code is set.
    virtual bool SetOptions();

    // What the scan found; a derived SetOptions may keep either layout.
    bool obsnumLayout = false;
    bool identifierLayout = false;
    bool foundObsnumLayout = false;
    bool foundIdentifierLayout = false;

private:
    struct Level4Matrix {
        int precision = 0;  // P: 0 double, 1 single, 2 i32, 3 i16, 4 u16, 5 u8
        int type = 0;       // T: 0 full, 1 text, 2 sparse
        int rows = 0;
        int columns = 0;
        int nameLength = 0;
        bool complex = false;
        std::int64_t dataPosition = 0;
        std::string name;
        // Sparse: the area from the last storage row.
        int sparseRows = 0;
        int sparseColumns = 0;
    };
    struct Placement {
        int columnOffset = 0;
        int rowOffset = 0;
        bool transposed = false;
    };

    int OpenLevel4();
    int OpenMatlab5();
    int ReadMatlab5(ReadSpreadSheetData* data);
    int ParseMatlab5();
    static void SheetSize(const std::vector<msMatrix>& matrices, int& columns, int& rows);
    int ReadLevel5Element(std::uint32_t type, std::uint64_t bytes, std::vector<msMatrix>& matrices);
    int ParseMatrix(int buffer, std::vector<msMatrix>& matrices);
    int DeliverLevel5(ReadSpreadSheetData* data, const msMatrix& matrix);
    static int BytesPerElement(int precision);
    int ReadFull(ReadSpreadSheetData* data, const Level4Matrix& m, const Placement& at);
    int ReadText(ReadSpreadSheetData* data, const Level4Matrix& m, const Placement& at);
    int ReadSparse(ReadSpreadSheetData* data, const Level4Matrix& m, const Placement& at);
    int ReadMatrix(ReadSpreadSheetData* data, int index, const Placement& at);
    int ReadLevel4Bytes(const Level4Matrix& m, std::uint64_t count, std::vector<std::uint8_t>& out);
    double Level4Element(const std::uint8_t* p, int precision) const;
    void PlaceMatrices();
    int TableColumns();
    int TableRows();

    int WriteData(const WriteSpreadSheetData* data, int c0, int r0);
    int WriteColumn(const WriteSpreadSheetData* data, int c0, int r0);
    int WriteRow(const WriteSpreadSheetData* data, int c0, int r0);
    bool WriteIdentifier(const WriteSpreadSheetData* data, const std::string& name, bool column, int index,
                         int first, int last);
    static bool IDIsOnlyFloat(const WriteSpreadSheetData* data, bool column, int index, int first, int last);
    static std::string IdentifierText(const WriteSpreadSheetData* data, int col, int row);
    bool WriteHeader(int type, int rows, int columns, const std::string& name);

    kelto::spectral::BinaryInput input;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> output{nullptr, &std::fclose};
    std::string path;
    std::string title;  // the written file's name without its folder
    int mode = 0;       // 1 reading, 2 writing
    bool level5 = false;
    bool swap5 = false;  // level 5 numbers need byte swapping
    bool bigEndian = false;
    bool firstIsMatrix = false;
    bool firstIsCompressed = false;
    std::uint64_t subsystemOffset = 0;
    std::vector<Level4Matrix> level4;
    int matrixCount = 0;
    int currentMatrix = -1;
    int identifierColumns = 0;
    int identifierRows = 0;
    std::vector<int> placement;  // slot -> matrix index, one per matrix plus one
    std::vector<std::vector<std::uint8_t>> elements;  // level 5 element bytes, decompressed
    std::vector<msMatrix> matrices5;                  // level 5 matrices, placed
    std::string structureText;
    std::string warning;
};

class MatFileFactory : public SprFileFactory {
public:
    MatFileFactory();

protected:
    MyKindOfFile IsMyKindOfFile(const char* path) override;
    SpreadsheetFile* GetSpreadsheetFile() override;
};
