#pragma once
// NSAS spectra files: a ".da" file of spectra, each an 80-byte header, 48 filler bytes and
// the values as 4-byte floats padded to a multiple of 128 bytes; and, when it exists beside
// it, a ".cn" file of the same name with the constituent (reference) values, one 128-byte
// record per spectrum, with or without a leading 384-byte record of constituent names.
// Read only.
//
// Table: row 1 the instrument model, row 2 the column names, then one row per spectrum with
// sample number, spectrum number, sample name, time, one column per wavelength of a grid
// common to all spectra, and one per constituent.
#include <cstdint>
#include <string>
#include <vector>

#include "formats/spectral/BinaryInput.h"
#include "plugin/Export.h"
#include "plugin/SprFileFactory.h"
#include "plugin/SpreadsheetFile.h"

class KELTO_API NsasFile : public SpreadsheetFile {
public:
    enum Error {
        kOpenFailed = 1280,
        kWrongMode = 1281,  // kept for its message; an open for writing reports the common code 3
        kShortHeader = 1282,
        kBadHeader = 1283,
        kMismatchedHeader = 1284,
        kShortFiller = 1285,
        kShortData = 1286,
        kShortDataFiller = 1287,
        kShortNameRecord = 1288,
        kShortValueRecord = 1289,
        kShortValueFiller = 1290,
        kUnknownCnSize = 1291,
    };

    NsasFile();
    ~NsasFile() override;
    NsasFile(const NsasFile&) = delete;
    NsasFile& operator=(const NsasFile&) = delete;

    int Open(bool read, const char* path, QmImportOpenOptions* options) override;
    int Read(ReadSpreadSheetData* data) override;
    void Close() override;
    void GetErrorMessage(char* buffer, unsigned int size) override;

protected:
    int EstablishSize() override;

private:
    struct SpectrumHeader;
    int ReadNameRecord(std::vector<std::string>& names);
    int ReadSpectrumRow(const SpectrumHeader& header, int row, ReadSpreadSheetData* data);
    int SkipSpectrum(const SpectrumHeader& header);

    kelto::spectral::BinaryInput daStream;
    kelto::spectral::BinaryInput cnStream;  // not open when there is no ".cn" file
    bool haveFirstHeader = false;
    float minStart = 0.0f;
    float minLast = 0.0f;
    float step = 0.0f;
    std::int16_t constituentCount = 0;
    // Worked out by the size pass: wavelength columns, and constituent columns when the
    // ".cn" file is open (a value record has room for 32 values, so never more).
    int wavelengthColumns = 0;
    int constituentColumns = 0;
    std::vector<std::uint8_t> spectrum;  // one spectrum's raw values
};

class NsasFileFactory : public SprFileFactory {
public:
    NsasFileFactory();

protected:
    MyKindOfFile IsMyKindOfFile(const char* path) override;
    SpreadsheetFile* GetSpreadsheetFile() override;
};
