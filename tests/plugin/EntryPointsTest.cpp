// The entry points across the real C boundary: test plug-ins and the real library are
// loaded with dlopen and driven through the looked-up functions and the callback records.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <variant>

#include "plugin/HostCallbacks.h"
#include "plugin/ImportSpecBase.h"
#include "plugin/PluginHandle.h"

namespace {

const std::string kPluginDir = KELTO_TEST_PLUGIN_DIR;
const std::string kPlugin1 = kPluginDir + "/libtestsprfile1.so";
const std::string kPlugin2 = kPluginDir + "/libtestsprfile2.so";

using Cell = std::variant<float, std::string>;

// A target table that records every cell it receives, keyed (col, row).
class RecordingTable : public ReadSpreadSheetData {
public:
    using ReadSpreadSheetData::Set;
    void Set(int col, int row, float v) override { cells[{col, row}] = v; }
    void Set(int col, int row, const char* t) override { cells[{col, row}] = std::string(t); }
    void SetDataSize(int c, int r) override { cols = c, rows = r; }
    int GetNumberOfColumns() const override { return cols; }
    int GetNumberOfRows() const override { return rows; }
    int GetNextRow(int row) const override { return row + 1 + skip; }

    std::map<std::pair<int, int>, Cell> cells;
    int cols = 0, rows = 0, skip = 0;
};

// A source table of fixed cells: (1,1) names, then a number, a missing value, a 64-bit integer.
class FixedSource : public WriteSpreadSheetData {
public:
    float GetFloatData(int col, int) const override { return col == 2 ? 2.5f : -99.0f; }
    std::string GetStringValue(int col, int) const override { return col == 1 ? "name" : "12345678901"; }
    bool GetFirstDataCell(int* col, int* row) const override {
        *col = 7, *row = 9;
        return true;
    }
    bool IsFloat(int col, int) const override { return col == 2; }
    bool IsMisVal(int col, int) const override { return col == 3; }
    bool IsString(int col, int) const override { return col == 1; }
    bool IsInt64(int col, int) const override { return col == 4; }
    std::int64_t GetInt64(int, int) const override { return 12345678901; }
    int GetNumberOfColumns() const override { return 4; }
    int GetNumberOfRows() const override { return 1; }
};

class Spec : public ImportSpecBase {
public:
    void AnnounceSize(int, int) override {}
    void SetColumnRole(int, int) override {}
    void SetHeaderRole(int, int) override {}
};

std::string Name(const QmImportFileFormatInfo* info) { return info ? info->name : "(null)"; }

}  // namespace

TEST(EntryPoints, RegistryIsOrderedByFilterBytewise) {
    PluginHandle p(kPlugin1);
    ASSERT_EQ(p.Size(), 4);
    // Upper-case 'S' (0x53) sorts before lower-case 'e' (0x65): NSAS before NetCDF.
    EXPECT_EQ(Name(p.Info(1)), "NSAS File");
    EXPECT_EQ(Name(p.Info(2)), "NetCDF Files");
    EXPECT_EQ(Name(p.Info(3)), "Not Mine");
    EXPECT_EQ(Name(p.Info(4)), "Zeta File");
    EXPECT_EQ(p.Info(0), p.Info(1));
    EXPECT_EQ(p.Info(-5), p.Info(1));
    EXPECT_EQ(p.Info(5), nullptr);  // beyond the registry: refused, not followed
    const QmImportFileFormatInfo* zeta = p.Info(4);
    EXPECT_STREQ(zeta->extensions, ".tst");
    EXPECT_EQ(zeta->extensionCount, 1);
    EXPECT_EQ(zeta->canWrite, 1);
}

TEST(EntryPoints, FileTypeAnswersMapToTwoOneZero) {
    PluginHandle p(kPlugin1);
    EXPECT_EQ(p.IsCorrect(1, "x.da"), 1);  // PossiblyMyKind
    EXPECT_EQ(p.IsCorrect(2, "x.nc"), 1);  // LikelyMyKind
    EXPECT_EQ(p.IsCorrect(3, "x"), 0);     // NotMyKind
    EXPECT_EQ(p.IsCorrect(4, "x"), 2);     // IsMyKind
    EXPECT_EQ(p.IsCorrect(99, "x"), 0);
}

TEST(EntryPoints, ReadCarriesCellsThroughTheAdapterRules) {
    PluginHandle p(kPlugin1);
    SpreadsheetFile* h = nullptr;
    ASSERT_TRUE(p.Open(4, "data", true, &h, nullptr));
    ASSERT_NE(h, nullptr);
    int rows = 0, cols = 0;
    ASSERT_TRUE(p.EstablishSize(4, h, &rows, &cols));
    EXPECT_EQ(rows, 3);
    EXPECT_EQ(cols, 4);

    RecordingTable table;
    HostReadCallbacks callbacks(table);
    ASSERT_TRUE(p.Read(4, h, callbacks.Record()));
    callbacks.RethrowIfFailed();
    EXPECT_EQ(table.cols, 4);
    EXPECT_EQ(table.rows, 3);
    EXPECT_EQ(callbacks.Record()->numRows, 3);  // refreshed after SetDataSize
    auto at = [&](int c, int r) { return table.cells.at({c, r}); };
    EXPECT_EQ(at(1, 1), Cell(999990.0f));          // the bound itself stays a float
    EXPECT_EQ(at(2, 1), Cell(std::string("1234567")));
    EXPECT_EQ(at(3, 1), Cell(1234567.5f));         // not whole: nearest float
    EXPECT_EQ(at(4, 1), Cell(-5000000.0f));        // negative: a float
    EXPECT_EQ(at(1, 2), Cell(std::string("")));    // int64 -99 is the missing value
    EXPECT_EQ(at(2, 2), Cell(std::string("-100")));
    EXPECT_EQ(at(3, 2), Cell(7.0f));
    EXPECT_EQ(at(4, 2), Cell(std::string("text")));
    EXPECT_EQ(at(1, 3), Cell(3.0f));
    EXPECT_STREQ(p.FileRead(h), "data");
    EXPECT_EQ(p.Warning(4, h), nullptr);
    EXPECT_STREQ(p.LastError(4, h), "");
    p.Close(4, h);
}

TEST(EntryPoints, ReaderFollowsTheHostsRowOrder) {
    PluginHandle p(kPlugin1);
    SpreadsheetFile* h = nullptr;
    ASSERT_TRUE(p.Open(4, "data", true, &h, nullptr));
    RecordingTable table;
    table.skip = 1;  // the host skips every other row: row 3 is never asked for
    HostReadCallbacks callbacks(table);
    ASSERT_TRUE(p.Read(4, h, callbacks.Record()));
    EXPECT_EQ(table.cells.count({1, 3}), 0u);
    p.Close(4, h);
}

TEST(EntryPoints, ExceptionFromTheHostTableStopsAtTheBoundary) {
    class Throwing : public RecordingTable {
    public:
        void Set(int col, int row, const char* t) override {
            if (std::string(t) == "text") throw std::runtime_error("cancelled");
            RecordingTable::Set(col, row, t);
        }
        using RecordingTable::Set;
    } table;
    PluginHandle p(kPlugin1);
    SpreadsheetFile* h = nullptr;
    ASSERT_TRUE(p.Open(4, "data", true, &h, nullptr));
    HostReadCallbacks callbacks(table);
    EXPECT_TRUE(p.Read(4, h, callbacks.Record()));
    EXPECT_THROW(callbacks.RethrowIfFailed(), std::runtime_error);
    EXPECT_EQ(table.cells.count({1, 3}), 0u);  // nothing delivered after the failure
    p.Close(4, h);
}

TEST(EntryPoints, WriteSeesTheHostTableThroughTheRecord) {
    PluginHandle p(kPlugin1);
    auto report = p.Sym<const char* (*)()>("TestPluginReport");
    SpreadsheetFile* h = nullptr;
    ASSERT_TRUE(p.Open(4, "out", false, &h, nullptr));
    FixedSource source;
    HostWriteCallbacks callbacks(source);
    ASSERT_TRUE(p.Write(4, h, callbacks.Record()));
    // GetFirstDataCell's answer and values pass unchanged; the int64 cell is a text to the
    // writer and IsInt64 is never true across the boundary.
    EXPECT_STREQ(report(), "first=1,7,9;size=4x1;sname|f2.500000|m|s12345678901|");
    p.Close(4, h);
}

TEST(EntryPoints, WriteToAFileOpenedForReadingFails) {
    PluginHandle p(kPlugin2);
    SpreadsheetFile* h = nullptr;
    ASSERT_TRUE(p.Open(1, "in", true, &h, nullptr));
    FixedSource source;
    HostWriteCallbacks callbacks(source);
    EXPECT_FALSE(p.Write(1, h, callbacks.Record()));
    EXPECT_STREQ(p.LastError(1, h), "Tried to write to the file when it was opened for reading or vice versa.");
    p.Close(1, h);
}

TEST(EntryPoints, FailedOpenStillStoresTheHandle) {
    PluginHandle p(kPlugin1);
    SpreadsheetFile* h = nullptr;
    EXPECT_FALSE(p.Open(4, "fail-open:5", true, &h, nullptr));
    ASSERT_NE(h, nullptr);
    EXPECT_STREQ(p.LastError(4, h), "Incorrect format of file open options");
    p.Close(4, h);

    h = nullptr;
    EXPECT_FALSE(p.Open(4, "fail-open:6", true, &h, nullptr));
    EXPECT_STREQ(p.LastError(4, h), "No further information available.");
    p.Close(4, h);

    h = nullptr;
    EXPECT_FALSE(p.Open(4, "fail-open:-1", true, &h, nullptr));
    EXPECT_STREQ(p.LastError(4, h), "No further information available.");
    p.Close(4, h);

    h = nullptr;
    EXPECT_FALSE(p.Open(4, "fail-open:4", true, &h, nullptr));
    EXPECT_STREQ(p.LastError(4, h), "");
    p.Close(4, h);
}

TEST(EntryPoints, ErrorBufferHoldsAtMost254Characters) {
    PluginHandle p(kPlugin1);
    SpreadsheetFile* h = nullptr;
    EXPECT_FALSE(p.Open(4, "long-error", true, &h, nullptr));
    EXPECT_EQ(std::string(p.LastError(4, h)), std::string(254, 'x'));
    p.Close(4, h);
}

TEST(EntryPoints, FailedSizePassWritesBothCounts) {
    PluginHandle p(kPlugin1);
    SpreadsheetFile* h = nullptr;
    ASSERT_TRUE(p.Open(4, "fail-size", true, &h, nullptr));
    int rows = 7, cols = 7;
    EXPECT_FALSE(p.EstablishSize(4, h, &rows, &cols));
    EXPECT_EQ(rows, -1);
    EXPECT_EQ(cols, -1);
    EXPECT_STREQ(p.LastError(4, h),
                 "An error occurred when trying to establish the size of the data in the file.");
    p.Close(4, h);
}

TEST(EntryPoints, OptionsSpecWarningAndBadArguments) {
    PluginHandle p(kPlugin1);
    QmImportOpenOptions* options = p.FileOptions(4, "file.tst", true);
    ASSERT_NE(options, nullptr);
    EXPECT_EQ(std::string(options->data, options->size), "file.tst:1");
    delete[] options->data;
    delete options;

    SpreadsheetFile* h = nullptr;
    ASSERT_TRUE(p.Open(4, "warn", true, &h, nullptr));
    EXPECT_STREQ(p.Warning(4, h), "a warning");
    Spec spec;
    spec.rolesSet = true;
    p.SetSpec(h, &spec);
    EXPECT_FALSE(spec.rolesSet);  // the base clears the host's flag
    p.Close(4, h);

    // An index beyond the registry or a null handle is refused without a crash.
    h = reinterpret_cast<SpreadsheetFile*>(1);
    EXPECT_FALSE(p.Open(9, "x", true, &h, nullptr));
    EXPECT_EQ(h, nullptr);
    EXPECT_STREQ(p.LastError(1, nullptr), "");
    int rows = 1, cols = 1;
    EXPECT_FALSE(p.EstablishSize(1, nullptr, &rows, &cols));
    EXPECT_EQ(rows, -1);
    p.Close(1, nullptr);
}

// A host that has one plug-in loaded globally and then loads another must see each plug-in's
// own formats: without symbol binding inside each library, the second one's factories would
// register in the first one's registry.
TEST(EntryPoints, EachLoadedPluginKeepsItsOwnRegistry) {
    PluginHandle first(kPlugin1, RTLD_NOW | RTLD_GLOBAL);
    PluginHandle second(kPlugin2);
    EXPECT_EQ(first.Size(), 4);
    ASSERT_EQ(second.Size(), 1);
    EXPECT_EQ(Name(second.Info(1)), "Beta File");
    EXPECT_EQ(Name(first.Info(1)), "NSAS File");
    SpreadsheetFile* h = nullptr;
    ASSERT_TRUE(second.Open(1, "data", true, &h, nullptr));
    int rows = 0, cols = 0;
    EXPECT_TRUE(second.EstablishSize(1, h, &rows, &cols));
    second.Close(1, h);
}

TEST(EntryPoints, RealLibraryLoadsAndListsItsFormats) {
    PluginHandle real(KELTO_BIN_DIR "/libKELTOnewsprfile.so");
    int n = real.Size();
    EXPECT_GE(n, 0);
    for (int i = 1; i <= n; ++i) {
        const QmImportFileFormatInfo* info = real.Info(i);
        ASSERT_NE(info, nullptr);
        EXPECT_NE(info->name, nullptr);
        if (i > 1) {
            EXPECT_LT(std::string(real.Info(i - 1)->filter), std::string(info->filter));
        }
    }
}
