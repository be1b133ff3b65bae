#pragma once
// Brimrose spectrometer files: a 512-byte main header giving the wavelength grid and the
// number of observations, then one record per observation (a 128-byte sub header whose first
// four bytes are the acquisition time, followed by the spectrum as 4-byte floats). Read only.
//
// Table: row 1 names the columns ("SampleNo", "DateTime", then one "w<wavelength>" per
// point); row r >= 2 holds observation r - 1: its number, its local acquisition time and its
// values.
#include <cstdint>
#include <vector>

#include "formats/spectral/BinaryInput.h"
#include "plugin/Export.h"
#include "plugin/SprFileFactory.h"
#include "plugin/SpreadsheetFile.h"

class KELTO_API BrimroseFile : public SpreadsheetFile {
public:
    enum Error {
        kOpenFailed = 2816,
        kWrongMode = 2817,  // kept for its message; an open for writing reports the common code 3
        kShortMainHeader = 2818,
        kShortSubHeader = 2819,
        kShortData = 2820,
        kBadHeader = 2821,  // kept for its message; the header values are not judged
        kNotBrimrose = 2822,
    };

    BrimroseFile();
    ~BrimroseFile() override;
    BrimroseFile(const BrimroseFile&) = delete;
    BrimroseFile& operator=(const BrimroseFile&) = delete;

    // True when the file's first 512 bytes can be read and start with one of the two
    // signatures. Never throws.
    static bool IsBrimroseFile(const char* path);

    int Open(bool read, const char* path, QmImportOpenOptions* options) override;
    int Read(ReadSpreadSheetData* data) override;
    void Close() override;
    void GetErrorMessage(char* buffer, unsigned int size) override;

protected:
    int EstablishSize() override;

private:
    struct MainHeader;
    int ReadMainHeader(MainHeader& header);
    // The acquisition time as local "yyyy-mm-dd/hh:mm:ss" in this object's own buffer, or
    // the empty text when the time cannot be converted.
    const char* FormatTime(std::uint32_t seconds);

    kelto::spectral::BinaryInput file;
    std::vector<float> values;  // one spectrum, sized on first use
    float firstWavelength = 0.0f;
    float wavelengthStep = 0.0f;
    char dateText[48] = {};
};

class BrimroseFileFactory : public SprFileFactory {
public:
    BrimroseFileFactory();

protected:
    MyKindOfFile IsMyKindOfFile(const char* path) override;
    SpreadsheetFile* GetSpreadsheetFile() override;
};
