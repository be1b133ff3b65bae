#pragma once
// Bruker OPUS spectrum files, one spectrum per file, several files in one read: one row per
// file, one column per point.
//
// A file is a 24-byte header (magic 0A 0A FE FE, directory offset, entry count) and a
// directory of 12-byte entries (type, length in 4-byte words, byte offset), all
// little-endian. The type is read as bit fields: a (bits 0-1), b (bits 2-3) and c (bits
// 4-9). The first block with a = 3, b = 3, c = 0 holds the spectrum as 32-bit floats; the
// "data status" blocks (a = 3, b = 3, c = 1) and the other parameter blocks (a = 0, c >= 1)
// are lists of named parameters (NPT, FXV, LXV, CSF, DXU, ...).
//
// `BrukerOPUS` reads files of one point count as stored (asking the user when their x ranges
// differ); `BrukerOPUSInterpolated` maps every file onto one common axis taken from the
// Bruker options record or from the first file.
#include <cstdint>
#include <string>
#include <vector>

#include "host/ImportOptionsHelper.h"
#include "plugin/Export.h"
#include "plugin/SprFileFactory.h"
#include "plugin/SpreadsheetFile.h"

namespace kelto::spectral {

// One file of the selection, as its blocks describe it.
struct OpusRecord {
    std::string path;
    std::string fileName;
    std::string sampleName;  // "SNM"
    std::string sampleForm;  // "SFM"
    std::int32_t points = 0;
    double firstX = 0.0, lastX = 0.0;
    double scale = 0.0;  // "CSF"
    double maxY = 0.0, minY = 0.0;
    std::int32_t derivative = 0;
    std::string xUnit;  // "DXU"
    std::string date, time;
    std::uint32_t dataType = 0, dataLength = 0, dataOffset = 0;
};

// Reads the header, directory and parameter blocks of one file into `record` (its path
// set). Returns 0, or 4 with `error` holding the message.
int ReadOpusRecord(OpusRecord& record, std::string& error);

// True when the file starts with the OPUS magic bytes.
bool HasOpusMagic(const std::string& path);

// The name shown for an x unit code ("WN" is "Wavenumber cm-1"); an unknown code is itself.
std::string OpusXUnitName(const std::string& code);

// Linear interpolation of one spectrum (`points` values from `firstX` to `lastX`) onto the
// common axis `axis`; -99 marks a missing result. Empty when there is nothing to map.
std::vector<float> InterpolateOntoAxis(double firstX, double lastX, const std::vector<float>& y,
                                       const std::vector<float>& axis);

}  // namespace kelto::spectral

// The shared part of the two readers: the records, the error text, the host's import
// settings object (ImportSpecBase) and the row layout.
class KELTO_API BrukerOPUSBase : public SpreadsheetFile {
public:
    void Close() override;
    void GetErrorMessage(char* buffer, unsigned int size) override;
    const char* GetWarningMessage() override;
    void SetImportSpec(ImportSpecBase* spec) override;
    int Read(ReadSpreadSheetData* data) override;

    // Most points the interpolated reader maps a file onto (the options record's count).
    static constexpr int kMaxInterpolatedPoints = 1 << 20;

protected:
    // Steps 1 to 4 of opening: the direction, the magic bytes, every file's blocks.
    int OpenFiles(bool read, const char* path);
    int SetError(int code, const std::string& text);
    // The x axis of row 2: `points` values from `first` to `last`.
    static std::vector<double> Axis(int points, double first, double last);
    // Writes one file's values from column 6.
    virtual void WriteValues(ReadSpreadSheetData* data, int row, const kelto::spectral::OpusRecord& record,
                             const std::vector<float>& y) = 0;
    virtual std::vector<double> RowTwoAxis() = 0;

    std::vector<kelto::spectral::OpusRecord> records;
    std::string errorText;
    ImportSpecBase* importSpec = nullptr;
};

class KELTO_API BrukerOPUS : public BrukerOPUSBase {
public:
    int Open(bool read, const char* path, QmImportOpenOptions* options) override;

protected:
    int EstablishSize() override;
    void WriteValues(ReadSpreadSheetData* data, int row, const kelto::spectral::OpusRecord& record,
                     const std::vector<float>& y) override;
    std::vector<double> RowTwoAxis() override;
};

class KELTO_API BrukerOPUSInterpolated : public BrukerOPUSBase {
public:
    int Open(bool read, const char* path, QmImportOpenOptions* options) override;

protected:
    int EstablishSize() override;
    void WriteValues(ReadSpreadSheetData* data, int row, const kelto::spectral::OpusRecord& record,
                     const std::vector<float>& y) override;
    std::vector<double> RowTwoAxis() override;

private:
    bool haveOptions = false;
    BatchImportSettings::BrukerOptions options;
    std::vector<float> commonAxis;
};

class BrukerOPUSFileFactory : public SprFileFactory {
public:
    BrukerOPUSFileFactory();

protected:
    MyKindOfFile IsMyKindOfFile(const char* path) override;
    SpreadsheetFile* GetSpreadsheetFile() override;
};

class BrukerOPUSInterpolatedFileFactory : public SprFileFactory {
public:
    BrukerOPUSInterpolatedFileFactory();

protected:
    MyKindOfFile IsMyKindOfFile(const char* path) override;
    SpreadsheetFile* GetSpreadsheetFile() override;
};
