// DLLFile over a real plug-in library loaded with dlopen: forwarding, the three codes of its
// own, the wrong-direction rule, and exceptions of the host's table surfacing after the call.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>

#include "PluginHandle.h"
#include "host/DLLFile.h"

namespace {

const std::string kPlugin1 = std::string(KELTO_TEST_PLUGIN_DIR) + "/libtestsprfile1.so";
constexpr int kZeta = 4;     // writable test format
constexpr int kNotMine = 3;  // read-only test format

DLLEntryPoints EntryPoints(PluginHandle& p) {
    DLLEntryPoints e;
    e.open = p.Open;
    e.close = p.Close;
    e.getLastError = p.LastError;
    e.establishSize = p.EstablishSize;
    e.read = p.Read;
    e.write = p.Write;
    e.getWarning = p.Warning;
    e.setSpec = p.SetSpec;
    e.getFileRead = p.FileRead;
    e.getFileOptions = p.FileOptions;
    return e;
}

std::string Message(SpreadsheetFile& f, unsigned length = 1024) {
    std::string buffer(length + 1, '#');
    f.GetErrorMessage(buffer.data(), length);
    return buffer.c_str();
}

class Table : public ReadSpreadSheetData {
public:
    using ReadSpreadSheetData::Set;
    void Set(int col, int row, float v) override { cells[{col, row}] = std::to_string(v); }
    void Set(int col, int row, const char* t) override {
        if (throwOn == t) throw std::logic_error("cancelled by the host");
        cells[{col, row}] = t;
    }
    void SetDataSize(int c, int r) override { cols = c, rows = r; }
    int GetNumberOfColumns() const override { return cols; }
    int GetNumberOfRows() const override { return rows; }
    std::map<std::pair<int, int>, std::string> cells;
    std::string throwOn = "\x01";
    int cols = 0, rows = 0;
};

}  // namespace

TEST(DLLFile, ForwardsAReadThroughTheLibrary) {
    PluginHandle p(kPlugin1);
    DLLFile file(EntryPoints(p), kZeta, true);
    ASSERT_EQ(file.Open(true, "data", nullptr), 0);
    EXPECT_EQ(file.GetNumRows(), 3);
    EXPECT_EQ(file.GetNumCols(), 4);
    Table table;
    table.SetDataSize(4, 3);
    ASSERT_EQ(file.Read(&table), 0);
    EXPECT_EQ(table.cells.at({2, 1}), "1234567");
    EXPECT_EQ(table.cells.at({4, 2}), "text");
    EXPECT_STREQ(file.GetReadFile(), "data");
    file.Close();
    EXPECT_EQ(file.GetReadFile(), nullptr);
}

TEST(DLLFile, LibraryFailureCarriesTheLibrarysMessage) {
    PluginHandle p(kPlugin1);
    DLLFile file(EntryPoints(p), kZeta, true);
    EXPECT_EQ(file.Open(true, "fail-open:5", nullptr), DLLFile::kLibraryFailed);
    EXPECT_EQ(Message(file), "Incorrect format of file open options");
    EXPECT_EQ(Message(file, 9), "Incorrect");  // at most `length` characters
    file.Close();                                // releases the library's object (ASan checks)
    EXPECT_EQ(file.GetStatus(), 0);

    DLLFile sized(EntryPoints(p), kZeta, true);
    ASSERT_EQ(sized.Open(true, "fail-size", nullptr), 0);
    EXPECT_EQ(sized.GetNumRows(), -1);
    EXPECT_EQ(Message(sized), "An error occurred when trying to establish the size of the data in the file.");
}

TEST(DLLFile, MissingEntryPointsAndNoHandle) {
    PluginHandle p(kPlugin1);
    DLLEntryPoints none;
    DLLFile empty(none, kZeta, true);
    EXPECT_EQ(empty.Open(true, "data", nullptr), DLLFile::kMissingFunction);
    EXPECT_EQ(Message(empty), "The import dll is missing a function.");
    EXPECT_EQ(empty.GetFileReadOptions("x", false), nullptr);
    EXPECT_EQ(empty.GetStatus(), DLLFile::kMissingFunction);

    DLLFile notOpen(EntryPoints(p), kZeta, true);
    Table table;
    EXPECT_EQ(notOpen.Read(&table), DLLFile::kNotOpen);
    EXPECT_EQ(Message(notOpen), "The file was not opened properly.");
    EXPECT_EQ(notOpen.GetNumCols(), -1);

    // A failure report whose text cannot be fetched becomes "missing a function".
    DLLEntryPoints noError = EntryPoints(p);
    noError.getLastError = nullptr;
    DLLFile silent(noError, kZeta, true);
    EXPECT_EQ(silent.Open(true, "fail-open:1", nullptr), DLLFile::kLibraryFailed);
    EXPECT_EQ(Message(silent), "The import dll is missing a function.");
}

TEST(DLLFile, WritingAReadOnlyFormatNeverReachesTheLibrary) {
    PluginHandle p(kPlugin1);
    DLLEntryPoints e = EntryPoints(p);
    e.open = nullptr;  // would give 2048 if it were consulted
    DLLFile file(e, kNotMine, false);
    EXPECT_EQ(file.Open(false, "out", nullptr), SpreadsheetFile::kWrongDirection);
    EXPECT_EQ(Message(file), "Tried to write to the file when it was opened for reading or vice versa.");
}

TEST(DLLFile, HostTableExceptionIsRethrownAfterTheCall) {
    PluginHandle p(kPlugin1);
    DLLFile file(EntryPoints(p), kZeta, true);
    ASSERT_EQ(file.Open(true, "data", nullptr), 0);
    Table table;
    table.throwOn = "text";
    EXPECT_THROW(file.Read(&table), std::logic_error);
    EXPECT_EQ(table.cells.count({1, 3}), 0u);  // the reader stopped following the row order
}

TEST(DLLFile, LibraryFailureWithoutAnObjectHasNoTextToFetch) {
    // Format 99 does not exist: the library fails the open without handing out an object,
    // so there is nothing to ask for a message (and nothing to close).
    PluginHandle p(kPlugin1);
    DLLFile file(EntryPoints(p), 99, true);
    EXPECT_EQ(file.Open(true, "data", nullptr), DLLFile::kLibraryFailed);
    EXPECT_EQ(Message(file), "No further information available.");
    Table table;
    EXPECT_EQ(file.Read(&table), DLLFile::kLibraryFailed);
}

TEST(DLLFile, LookUpFindsTheLibrarysOwnEntryPoints) {
    PluginHandle p(kPlugin1);
    DLLEntryPoints e = DLLEntryPoints::LookUp(p.module);
    EXPECT_EQ(e.open, p.Open);
    EXPECT_EQ(e.getFileOptions, p.FileOptions);
    EXPECT_EQ(DLLEntryPoints::LookUp(nullptr).open, nullptr);
}
