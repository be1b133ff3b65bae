#pragma once
// HPLC ChemStation data files: several ".ch" chromatograms (one row per file, one column per
// time point) or one ".uv" diode-array file (one row per spectrum, one column per
// wavelength). The header is big-endian with length-prefixed texts (narrow below type 100,
// UTF-16 from 100 on); the 2D signal is big-endian delta-compressed, the 3D spectra are
// little-endian, compressed ("C") or plain ("A"). Read only.
#include <cstdint>
#include <string>
#include <vector>

#include "plugin/Export.h"
#include "plugin/SprFileFactory.h"
#include "plugin/SpreadsheetFile.h"

class KELTO_API ChemStationFile : public SpreadsheetFile {
public:
    enum Error {
        kCannotOpen = 1536,
        kDifferentLength = 1537,
        kDifferentType = 1538,
        kSeveral3D = 1539,
        kDifferentResolution = 1540,
        kNotChemStation = 1541,
        kUnreadable = 1542,
        // Type numbers whose layout this reader does not know (the GC/OpenLab forms 81, 179
        // and 181 store their signal differently); decoding them the classic way gives garbage.
        kUnsupportedType = 1543,
        // A sampling interval or wavelength step of zero: no column count follows from it.
        kZeroSpacing = 1544,
        // A 3D layout without a y scale factor: every value would come out 0.
        kNoScale = 1545,
        // The header asks for more columns or spectra than the file's bytes can hold.
        kImplausibleSize = 1546,
    };

    struct HPLCData {
        bool is3D = false;
        std::string path;
        std::string fileName;
        std::string sampleName;
        std::string date;
        std::string signal;
        std::string unit;
        int fileType = 0;
        std::int32_t dataStart = 0;
        std::int32_t word248 = 0, word260 = 0;
        std::int32_t spectra = 0;
        std::int32_t rangeStart = 0, rangeEnd = 0;
        std::int32_t layout = 0;
        double yScale = 0.0;
        double interval = 0.0;
    };

    ChemStationFile();
    ~ChemStationFile() override;

    int Open(bool read, const char* path, QmImportOpenOptions* options) override;
    int Read(ReadSpreadSheetData* data) override;
    void Close() override;
    void GetErrorMessage(char* buffer, unsigned int size) override;
    int GetNumCols() override;
    int GetNumRows() override;

    // Checks the file loaded for `record` (its path set) and fills the record; sizes the table.
    int CheckFile(HPLCData* record);
    // True when the file exists and its extension is "ch" or "uv" in any case.
    static bool IsChemStationFile(const char* path);

protected:
    int EstablishSize() override;

private:
    bool Load(const std::string& path);
    int Read2D(ReadSpreadSheetData* data);
    int Read3D(ReadSpreadSheetData* data);
    int Fail(int code, const std::string& file);

    std::vector<HPLCData> records;
    int firstType = 0;
    std::string failedFile;
    int failedType = 0;
    std::vector<std::uint8_t> bytes;  // the file being checked or read
    bool loaded = false;
};

class ChemStationFileFactory : public SprFileFactory {
public:
    ChemStationFileFactory();

protected:
    MyKindOfFile IsMyKindOfFile(const char* path) override;
    SpreadsheetFile* GetSpreadsheetFile() override;
};
