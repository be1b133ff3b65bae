#pragma once
// Galactic SPC spectrum files, one file or several read together into one table: row 1 the
// headings, an optional row of x values, then one row per spectrum (per sub-file) holding its
// number, its name, its z value (or acquisition time) and one column per x position that the
// spectral constraints keep. Read only.
//
// Both layouts are read: the new one (byte 1 'K', 512-byte header, optional x array, then
// sub-files of a 32-byte header and the y values) and the old one (byte 1 'M', 224-byte
// header, then sub-files the same way, 32-bit integers with their halves swapped). Files
// where every sub-file carries an x array of its own are refused.
#include <cstdint>
#include <string>
#include <vector>

#include "formats/spectral/BinaryInput.h"
#include "formats/spectral/USDBase.h"
#include "plugin/Export.h"
#include "plugin/SprFileFactory.h"
#include "plugin/SpreadsheetFile.h"

class KELTO_API GalacticSPCFile : public SpreadsheetFile, public USDBase {
public:
    enum Error {
        kOpenFailed = 2560,
        kNotOpened = 2561,
        kNotSpc = 2562,  // also: the file holds less than its header declares
        kUnsupportedVersion = 2563,
        kShortHeader = 2564,
        kUnevenX = 2565,
        kNoFiles = 2566,
        kSpacingDiffers = 2567,
        kOwnXArrays = 2568,
        kXDiffers = 2569,
    };

    // One file of the selection, as its header describes it.
    struct FileRecord {
        std::string path;
        double first = 0.0;
        double last = 0.0;
        double spacing = 0.0;  // NaN for a spectrum of fewer than 2 points
        std::uint64_t points = 0;
        std::int32_t subFiles = 0;
    };

    GalacticSPCFile();
    ~GalacticSPCFile() override;
    GalacticSPCFile(const GalacticSPCFile&) = delete;
    GalacticSPCFile& operator=(const GalacticSPCFile&) = delete;

    void Close() override;
    int GetNumCols() override;
    int GetNumRows() override;
    void GetErrorMessage(char* buffer, unsigned int size) override;
    QmImportOpenOptions* GetFileReadOptions(const char* path, bool flag) override;
    // `path` is one file or, for several, the directory and the file names, each ended by a
    // NUL. An options record with content is applied (and written back in normal form); an
    // empty one receives the defaults, in a buffer this object owns until it is destroyed.
    int Open(bool read, const char* path, QmImportOpenOptions* options) override;
    int Read(ReadSpreadSheetData* data) override;

    // Whether the files can share one x axis: 0, or the code that says why not.
    int CheckFiles();
    // Keeps the files at these zero-based positions, in their order; -1 when an error is
    // pending or nothing is left.
    int SelectFilesToImport(const std::vector<int>& indices);
    // The common first x, the greatest last x and the common spacing (after CheckFiles).
    double GetFirstPoint() const { return commonFirst_; }
    double GetLastPoint() const { return greatestLast_; }
    double GetPointSpacing() const { return commonSpacing_; }
    const std::vector<FileRecord>& Files() const { return files_; }

    // Hooks for a host that lets the user choose: the files (with GetFileList and
    // SelectFilesToImport) and the constraints. The base takes every file and the defaults
    // (all x positions, one interval over the whole axis, the x-value row), and returns the
    // pending error code.
    virtual int SelectFiles();
    virtual int GetUSDConstraints(USDConstraints* out);

protected:
    int EstablishSize() override;
    // One description per file; returns the pending error code.
    int GetFileList(std::vector<std::string>& out);

private:
    struct Header;
    int ReadHeader(kelto::spectral::BinaryInput& in, const std::string& path, Header& header, bool checkSubFiles);
    int ReadSubHeader(kelto::spectral::BinaryInput& in, Header& header);
    int ApplyOptions(QmImportOpenOptions* options);
    USDConstraints DefaultConstraints() const;
    void StoreOptions(QmImportOpenOptions* record, const USDConstraints& constraints, bool replaceGiven);
    // The x positions of the table's columns before the constraints pick from them.
    std::vector<float> XPositions() const;
    bool UsesXArray() const;
    std::uint64_t GreatestPointCount() const;

    std::vector<FileRecord> files_;
    double commonFirst_ = 0.0;
    double commonSpacing_ = 0.0;
    double greatestLast_ = 0.0;
    std::uint64_t greatestPoints_ = 0;
    // The values of the header read last (the z heading comes from it).
    bool lastOldLayout_ = false;
    std::uint8_t lastZUnit_ = 0;
    std::string lastXLabel_;
    // The x array of the first file that has one; every later one must equal it.
    std::vector<float> xArray_;
    bool haveXArray_ = false;
    std::string xArrayPath_;
    bool constraintsSet_ = false;
    char* optionsBuffer_ = nullptr;  // defaults handed out in an empty record
    std::vector<std::uint8_t> values_;  // one sub-file's raw y values
};

class GalacticSPCFileFactory : public SprFileFactory {
public:
    GalacticSPCFileFactory();

protected:
    MyKindOfFile IsMyKindOfFile(const char* path) override;
    SpreadsheetFile* GetSpreadsheetFile() override;
};
