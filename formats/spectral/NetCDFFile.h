#pragma once
// netCDF classic files written after one of two templates: MVACDF (tables of observations and
// variables for multivariate analysis) and ANDI/AIA chromatography (one chromatogram per
// file). NetCDFFile looks at the first file's global attributes and hands the work to
// MvaCDFFileReader or AndiFileReader. Several files may be read at once into one table.
//
// The netCDF library is not thread-safe and keeps its error mode in process globals: every
// call goes through NetCDF, which holds one process-wide lock while a file is open and sets
// the library's error mode to "return codes" before the first call.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "formats/spectral/USDBase.h"
#include "plugin/Export.h"
#include "plugin/SprFileFactory.h"
#include "plugin/SpreadsheetFile.h"

// One open netCDF file. Closed by the destructor; the process-wide lock is held meanwhile.
class KELTO_API NetCDF {
public:
    // mode 1: read-only. Only classic files (magic "CDF\1" or "CDF\2") are handed to the
    // library; anything else stays closed.
    NetCDF(const char* path, int mode);
    ~NetCDF();
    NetCDF(const NetCDF&) = delete;
    NetCDF& operator=(const NetCDF&) = delete;

    bool IsOpen() const { return id_ >= 0; }
    // Bytes of the file: no count it declares may promise more values than this.
    long long Size() const { return size_; }
    int Id() const { return id_; }
    // Dimension id, or -1.
    int DimId(const char* name) const;
    // Dimension length, or -1 when absent.
    long DimLength(const char* name) const;
    int VarId(const char* name) const;
    // Text of an attribute of `varid` (NC_GLOBAL for global ones); false when absent.
    bool Attribute(int varid, const char* name, std::string& text) const;
    bool HasGlobal(const char* name) const;
    // A scalar (or first element) of a numeric variable as double; false when absent.
    bool Scalar(const char* name, double& value) const;

    // True when the first four bytes are a classic netCDF magic.
    static bool HasClassicMagic(const char* path);

private:
    std::unique_lock<std::recursive_mutex> lock_;
    int id_ = -1;
    long long size_ = 0;
};

class KELTO_API NetCDFFile : public SpreadsheetFile {
public:
    enum ENetCDFTemplate { kNotNetCDF = 0, kMva = 1, kAia = 2, kMs = 3, kUnrecognised = 4 };
    enum Error { kTemplateNotRecognised = 2048, kNotValidNetCDF = 2049 };

    NetCDFFile();
    ~NetCDFFile() override;

    static bool IsNetCDFFile(const char* path);
    static ENetCDFTemplate GetFileTemplate(const char* path);

    void Close() override;
    int GetNumCols() override;
    int GetNumRows() override;
    void GetErrorMessage(char* buffer, unsigned int size) override;
    int Open(bool read, const char* path, QmImportOpenOptions* options) override;
    int Read(ReadSpreadSheetData* data) override;
    int ReadGeneralNetCDFFile(ReadSpreadSheetData*) { return kTemplateNotRecognised; }

    virtual SpreadsheetFile* GetAndiFileReader();

protected:
    int EstablishSize() override;

private:
    std::vector<std::string> paths_;
    int template_ = kNotNetCDF;
    std::unique_ptr<SpreadsheetFile> reader_;
};

class KELTO_API MvaCDFFileReader : public SpreadsheetFile {
public:
    enum Error {
        kNotMvaCDF = 2064,
        kSizeUnknown = 2065,
        kMatrices = 2066,
        kNoObservations = 2067,
        kVariablesDiffer = 2068,
    };

    explicit MvaCDFFileReader(const char* path);
    void GetErrorMessage(char* buffer, unsigned int size) override;
    int Open(bool read, const char* path, QmImportOpenOptions* options) override;
    int Read(ReadSpreadSheetData* data) override;

    // Whether `value` is the missing-value code within the relative tolerance.
    bool IsMissing(double value) const;

protected:
    int EstablishSize() override;

private:
    struct Info {
        int type = 6;  // netCDF type number
        double missing = -100000.0;
        bool nanMissing = false;
        long variables = 0;
        long observations = 0;
        long rowsPerPoint = 1;
        int dataVar = -1;
        long nameLength = -1;
    };
    int FileInformation(const NetCDF& nc, Info& info) const;
    void HeaderRow(ReadSpreadSheetData* data);
    int DataRows(ReadSpreadSheetData* data, int wanted);

    std::vector<std::string> paths_;
    long variables_ = 0;
    double missing_ = -100000.0;
    bool nanMissing_ = false;
};

class KELTO_API AndiFileReader : public SpreadsheetFile, public USDBase {
public:
    enum Error {
        kOpenFailed = 2080,
        kNotOpened = 2081,
        kNotAndi = 2082,
        kNotAia = 2083,
        kAttributes = 2084,
        kNonUniform = 2085,
        kNoFiles = 2086,
        kIntervalDiffers = 2087,
        kUnitDiffers = 2088,
        kDelayDiffers = 2089,
    };

    AndiFileReader();
    ~AndiFileReader() override;

    int Open(bool read, const char* path, QmImportOpenOptions* options) override;
    int Read(ReadSpreadSheetData* data) override;
    int GetNumCols() override;
    int GetNumRows() override;
    void GetErrorMessage(char* buffer, unsigned int size) override;
    void Close() override;

    virtual int ExtractNecessaryFileInformation(const char* path);
    virtual int SetOptions(QmImportOpenOptions* options);
    virtual int GetUSDConstraints(USDConstraints* out);

    int CheckFiles();
    long GetDefaults(float* first, float* last, long count);
    int GetDefaults(float* starts, float* ends, int count) override;
    int SelectFilesToImport(int* indices, int count);
    float GetRangeMaximum() const { return static_cast<float>(endTime_); }
    float GetRangeMinimum() const { return static_cast<float>(delay_); }
    std::string GetRetentionUnit() { return unit_; }
    float GetSamplingInterval() const { return static_cast<float>(interval_); }
    bool IsMultiSelection() const;

protected:
    int EstablishSize() override;

private:
    struct Record {
        std::string path, sampleName, fileName, unit;
        long points = 0;
        double runTime = 0, interval = 0, delay = 0;
        bool selected = true;
    };
    void GetDefaultUSDConstraints(USDConstraints& c);
    const Record* FirstSelected() const;
    long MaxSelectedPoints() const;
    int SelectedCount() const;

    std::vector<Record> files_;
    long points_ = 0;
    double interval_ = 0, delay_ = 0, endTime_ = 0;
    std::string unit_;
    bool multiFile_ = false;
    std::unique_ptr<char[]> optionsBuffer_;
};

class NetCDFFileFactory : public SprFileFactory {
public:
    NetCDFFileFactory();

protected:
    MyKindOfFile IsMyKindOfFile(const char* path) override;
    SpreadsheetFile* GetSpreadsheetFile() override;
};
