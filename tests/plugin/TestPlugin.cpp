// A plug-in library for the tests, built from the plug-in core and a few test formats. Two
// variants are built from this file (TEST_PLUGIN_VARIANT 1 and 2) with different formats, so
// that the tests can load both into one process and see that each keeps its own registry.
#include <cstdlib>
#include <cstring>
#include <string>

#include "plugin/SprFileFactory.h"
#include "plugin/SpreadsheetFile.h"

namespace {

std::string g_report;  // what the last Write saw, for the tests to inspect

// Reads a fixed table that exercises every Set overload the adapters carry. Its behaviour
// is chosen by the path: "fail-open:N" fails Open with code N, "fail-size" fails the size
// pass, "long-error" fails Open with a 300-character message, "warn" warns.
class TestFile : public SpreadsheetFile {
public:
    int Open(bool, const char* path, QmImportOpenOptions*) override {
        path_ = path;
        if (path_.rfind("fail-open:", 0) == 0) return Fail(std::atoi(path + 10));
        return path_ == "long-error" ? Fail(kLongError) : 0;
    }
    int Read(ReadSpreadSheetData* data) override {
        data->SetDataSize(numCols, numRows);
        // Row 1: doubles at the boundaries of the whole-number rule; row 2: int64, int, text.
        data->Set(1, 1, 999990.0);
        data->Set(2, 1, 1234567.0);
        data->Set(3, 1, 1234567.5);
        data->Set(4, 1, -5000000.0);
        data->Set(1, 2, std::int64_t{-99});
        data->Set(2, 2, std::int64_t{-100});
        data->Set(3, 2, 7);
        data->Set(4, 2, "text");
        // Row 3 is delivered only where the host's row order reaches it.
        for (int row = data->GetNextRow(2); row <= numRows; row = data->GetNextRow(row)) data->Set(1, row, float(row));
        return 0;
    }
    int Write(const WriteSpreadSheetData* data) override {
        int c = 0, r = 0;
        bool first = data->GetFirstDataCell(&c, &r);
        g_report = "first=" + std::to_string(first) + "," + std::to_string(c) + "," + std::to_string(r) + ";";
        for (int col = 1; col <= data->GetNumberOfColumns(); ++col) {
            if (data->IsMisVal(col, 1)) g_report += "m";
            if (data->IsFloat(col, 1)) g_report += "f" + std::to_string(data->GetFloatData(col, 1));
            if (data->IsString(col, 1)) g_report += "s" + data->GetStringValue(col, 1);
            if (data->IsInt64(col, 1)) g_report += "!int64";
            g_report += "|";
        }
        return 0;
    }
    void GetErrorMessage(char* buffer, unsigned int size) override {
        if (status == kLongError) return CopyMessage(std::string(300, 'x').c_str(), buffer, size);
        SpreadsheetFile::GetErrorMessage(buffer, size);
    }
    const char* GetWarningMessage() override { return path_ == "warn" ? "a warning" : nullptr; }
    const char* GetReadFile() const override { return path_.c_str(); }
    QmImportOpenOptions* GetFileReadOptions(const char* path, bool flag) override {
        std::string text = std::string(path) + (flag ? ":1" : ":0");
        auto* options = new QmImportOpenOptions{static_cast<int>(text.size()), new char[text.size()]};
        std::memcpy(options->data, text.data(), text.size());
        return options;
    }

protected:
    int EstablishSize() override {
        if (path_ == "fail-size") return Fail(kSizeError);
        numCols = 4, numRows = 3, sizeKnown = true;
        return 0;
    }

private:
    static constexpr int kLongError = 300;
    std::string path_;
};

// A format whose answer to "is this file mine?" is fixed.
class TestFactory : public SprFileFactory {
public:
    TestFactory(const char* name, const char* filter, MyKindOfFile answer, signed char canWrite = 0, signed char priority = 1)
        : SprFileFactory(name, filter, nullptr, 1, ".tst\0", canWrite, 1, 0, 1, 0, priority), answer_(answer) {}

protected:
    MyKindOfFile IsMyKindOfFile(const char*) override { return answer_; }
    SpreadsheetFile* GetSpreadsheetFile() override { return new TestFile; }

private:
    MyKindOfFile answer_;
};

#if TEST_PLUGIN_VARIANT == 1
// Registration in declaration order. Each entry that must not survive answers NotMyKind, so
// that the file-type answers show which factory holds a place. A name registered again with
// the same or a higher priority replaces the entry; with a lower one it is ignored, and so is
// a new name under a filter already taken.
TestFactory g_zetaOld("Zeta File", "Alpha (*.tst)", SprFileFactory::NotMyKind, 0, 1);
TestFactory g_nsasOld("NSAS File", "Omega (*.tst)", SprFileFactory::NotMyKind, 0, 0);
// Registry order follows the filter texts byte-wise: "NSAS ..." < "NetCDF ..." < "Zeta ...".
TestFactory g_zeta("Zeta File", "Zeta Files (*.tst)", SprFileFactory::IsMyKind, 1);
TestFactory g_netcdf("NetCDF Files", "NetCDF Files (*.nc; *.cdf) (MVACDF, ANDI)", SprFileFactory::LikelyMyKind);
TestFactory g_nsas("NSAS File", "NSAS Files (*.da)", SprFileFactory::PossiblyMyKind);
TestFactory g_not("Not Mine", "Not Mine (*.tst)", SprFileFactory::NotMyKind);
TestFactory g_zetaLow("Zeta File", "Beta (*.tst)", SprFileFactory::NotMyKind, 0, 0);
TestFactory g_sameFilter("Other", "NSAS Files (*.da)", SprFileFactory::IsMyKind, 0, 9);
#else
TestFactory g_beta("Beta File", "Beta Files (*.tst)", SprFileFactory::IsMyKind);
#endif

}  // namespace

// Lets the tests see what the last Write received.
extern "C" KELTO_API const char* TestPluginReport() { return g_report.c_str(); }
