// The entry points across the real C boundary: test plug-ins and the real library are
// loaded with dlopen and driven through the looked-up functions and the callback records.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "plugin/HostCallbacks.h"
#include "plugin/ImportSpecBase.h"
#include "plugin/QmImport.h"

namespace {

// A plug-in library loaded with dlopen and its entry points looked up by name, as a host does it.
struct PluginHandle {
    explicit PluginHandle(const std::string& path, int mode = RTLD_NOW | RTLD_LOCAL) : module(dlopen(path.c_str(), mode)) {
        if (!module) throw std::runtime_error(std::string("dlopen: ") + dlerror());
    }
    ~PluginHandle() { dlclose(module); }
    PluginHandle(const PluginHandle&) = delete;
    PluginHandle& operator=(const PluginHandle&) = delete;

    template <typename F>
    F Sym(const char* name) {
        void* p = module ? dlsym(module, name) : nullptr;
        if (!p) throw std::runtime_error(std::string("missing entry point ") + name);
        return reinterpret_cast<F>(p);
    }

    void* module;
    // Looked up in declaration order, after the library is open.
#define KELTO_ENTRY(member, name) name##Fn member = Sym<name##Fn>(#name)
    KELTO_ENTRY(Size, QmImportSizeFileFormatsSupported);
    KELTO_ENTRY(Info, QmImportGetFileFormatInfo);
    KELTO_ENTRY(IsCorrect, QmImportIsCorrectFileType);
    KELTO_ENTRY(Open, QmImportOpen);
    KELTO_ENTRY(Close, QmImportClose);
    KELTO_ENTRY(LastError, QmImportGetLastError);
    KELTO_ENTRY(EstablishSize, QmImportEstablishSize);
    KELTO_ENTRY(Read, QmImportRead);
    KELTO_ENTRY(Write, QmImportWrite);
    KELTO_ENTRY(Warning, QmImportGetWarning);
    KELTO_ENTRY(FileOptions, QmImportGetFileOptions);
    KELTO_ENTRY(SetSpec, QmImportSetSpec);
    KELTO_ENTRY(FileRead, QmImportGetFileRead);
#undef KELTO_ENTRY
};

const std::string kPlugin1 = KELTO_TEST_PLUGIN_DIR "/libtestsprfile1.so";
const std::string kPlugin2 = KELTO_TEST_PLUGIN_DIR "/libtestsprfile2.so";
constexpr int kZeta = 4;  // the test plug-in's format that reads anything

// A target table that records every cell it receives ("f" float or "s" text, keyed (col, row));
// it can skip rows and throw on one text, as a host that cancels does.
class RecordingTable : public ReadSpreadSheetData {
public:
    using ReadSpreadSheetData::Set;
    void Set(int col, int row, float v) override { cells[{col, row}] = "f" + std::to_string(v); }
    void Set(int col, int row, const char* t) override {
        if (throwOn == t) throw std::runtime_error("cancelled");
        cells[{col, row}] = "s" + std::string(t);
    }
    void SetDataSize(int c, int r) override { cols = c, rows = r; }
    int GetNumberOfColumns() const override { return cols; }
    int GetNumberOfRows() const override { return rows; }
    int GetNextRow(int row) const override { return row + 1 + skip; }

    std::map<std::pair<int, int>, std::string> cells;
    int cols = 0, rows = 0, skip = 0;
    std::string throwOn = "\x01";
};

// Opens "data" for reading with format kZeta, sizes it and reads it into `table`, as a host
// does; returns whether the host's table failed during the read.
bool ReadInto(PluginHandle& p, RecordingTable& table) {
    SpreadsheetFile* h = nullptr;
    EXPECT_TRUE(p.Open(kZeta, "data", true, &h, nullptr));
    int rows = 0, cols = 0;
    EXPECT_TRUE(p.EstablishSize(kZeta, h, &rows, &cols));
    EXPECT_EQ(std::pair(rows, cols), std::pair(3, 4));
    HostReadCallbacks callbacks(table);
    EXPECT_TRUE(p.Read(kZeta, h, callbacks.Record()));
    EXPECT_EQ(callbacks.Record()->numRows, table.rows);  // refreshed after SetDataSize
    p.Close(kZeta, h);
    try {
        callbacks.RethrowIfFailed();
        return false;
    } catch (const std::runtime_error&) {
        return true;
    }
}

std::string Name(const QmImportFileFormatInfo* info) { return info ? info->name : "(null)"; }

}  // namespace

TEST(EntryPoints, RegistryRulesOrderAndFileTypeAnswers) {
    PluginHandle p(kPlugin1);
    ASSERT_EQ(p.Size(), 4);  // replaced and ignored registrations left no entries
    // Upper-case 'S' (0x53) sorts before lower-case 'e' (0x65): NSAS before NetCDF.
    EXPECT_EQ(Name(p.Info(1)), "NSAS File");
    EXPECT_EQ(Name(p.Info(2)), "NetCDF Files");
    EXPECT_EQ(Name(p.Info(4)), "Zeta File");
    EXPECT_EQ(p.Info(0), p.Info(1));
    EXPECT_EQ(p.Info(-5), p.Info(1));
    EXPECT_EQ(p.Info(5), nullptr);  // beyond the registry: refused, not followed
    EXPECT_STREQ(p.Info(kZeta)->filter, "Zeta Files (*.tst)");  // the replacement, under its own filter
    EXPECT_STREQ(p.Info(kZeta)->extensions, ".tst");
    EXPECT_EQ(p.Info(kZeta)->canWrite, 1);
    EXPECT_EQ(p.Info(1)->priority, 1);
    // Possibly, likely, not, certainly mine, an unknown format, and "1 or less": 1, 1, 0, 2, 0, 1.
    for (auto [index, answer] : {std::pair{1, 1}, {2, 1}, {3, 0}, {4, 2}, {99, 0}, {-1, 1}})
        EXPECT_EQ(p.IsCorrect(index, "x"), answer) << index;
}

TEST(EntryPoints, ReadCarriesCellsThroughTheAdapterRulesInTheHostsRowOrder) {
    PluginHandle p(kPlugin1);
    RecordingTable table;
    EXPECT_FALSE(ReadInto(p, table));
    EXPECT_EQ(table.cols, 4);
    EXPECT_EQ(table.rows, 3);
    const std::map<std::pair<int, int>, std::string> want = {
        {{1, 1}, "f999990.000000"},   // the bound itself stays a float
        {{2, 1}, "s1234567"},         // whole and above it: decimal text
        {{3, 1}, "f1234567.500000"},  // not whole: nearest float
        {{4, 1}, "f-5000000.000000"}, // negative: a float
        {{1, 2}, "s"},                // int64 -99 is the missing value
        {{2, 2}, "s-100"},
        {{3, 2}, "f7.000000"},
        {{4, 2}, "stext"},
        {{1, 3}, "f3.000000"},
    };
    EXPECT_EQ(table.cells, want);

    RecordingTable skipping;
    skipping.skip = 1;  // the host skips every other row: row 3 is never asked for
    EXPECT_FALSE(ReadInto(p, skipping));
    EXPECT_EQ(skipping.cells.count({1, 3}), 0u);

    // An exception from the host's table stops at the boundary and is rethrown after it.
    RecordingTable throwing;
    throwing.throwOn = "text";
    EXPECT_TRUE(ReadInto(p, throwing));
    EXPECT_EQ(throwing.cells.count({1, 3}), 0u);  // nothing delivered after the failure
}

TEST(EntryPoints, WriteSeesTheHostTableThroughTheRecord) {
    // One row: a text, a number, a missing value, a 64-bit integer; the first data cell is (7, 9).
    struct : WriteSpreadSheetData {
        float GetFloatData(int col, int) const override { return col == 2 ? 2.5f : -99.0f; }
        std::string GetStringValue(int col, int) const override { return col == 1 ? "name" : "12345678901"; }
        bool GetFirstDataCell(int* col, int* row) const override { return *col = 7, *row = 9, true; }
        bool IsFloat(int col, int) const override { return col == 2; }
        bool IsMisVal(int col, int) const override { return col == 3; }
        bool IsString(int col, int) const override { return col == 1; }
        bool IsInt64(int col, int) const override { return col == 4; }
        std::int64_t GetInt64(int, int) const override { return 12345678901; }
        int GetNumberOfColumns() const override { return 4; }
        int GetNumberOfRows() const override { return 1; }
    } source;
    PluginHandle p(kPlugin1);
    SpreadsheetFile* h = nullptr;
    ASSERT_TRUE(p.Open(kZeta, "out", false, &h, nullptr));
    HostWriteCallbacks callbacks(source);
    ASSERT_TRUE(p.Write(kZeta, h, callbacks.Record()));
    // GetFirstDataCell's answer and values pass unchanged; the int64 cell is a text to the
    // writer and IsInt64 is never true across the boundary.
    EXPECT_STREQ(p.Sym<const char* (*)()>("TestPluginReport")(), "first=1,7,9;sname|f2.500000|m|s12345678901|");
    p.Close(kZeta, h);
}

TEST(EntryPoints, FailuresKeepTheHandleCountsAndAMessageThatFitsTheBuffer) {
    PluginHandle p(kPlugin1);
    const std::pair<const char*, std::string> cases[] = {
        {"fail-open:5", "Incorrect format of file open options"},
        {"fail-open:6", "No further information available."},
        {"fail-open:-1", "No further information available."},
        {"fail-open:4", ""},
        {"long-error", std::string(254, 'x')},  // cut to the 256-byte buffer, NUL included
    };
    for (const auto& [path, message] : cases) {
        SpreadsheetFile* h = nullptr;
        EXPECT_FALSE(p.Open(kZeta, path, true, &h, nullptr)) << path;
        ASSERT_NE(h, nullptr) << path;  // a failed open still hands out its object
        EXPECT_EQ(p.LastError(kZeta, h), message) << path;
        p.Close(kZeta, h);
    }
    SpreadsheetFile* h = nullptr;
    ASSERT_TRUE(p.Open(kZeta, "fail-size", true, &h, nullptr));
    int rows = 7, cols = 7;
    EXPECT_FALSE(p.EstablishSize(kZeta, h, &rows, &cols));
    EXPECT_EQ(rows, -1);  // both counts are written even on failure
    EXPECT_EQ(cols, -1);
    EXPECT_STREQ(p.LastError(kZeta, h), "An error occurred when trying to establish the size of the data in the file.");
    p.Close(kZeta, h);

    // An index beyond the registry or a null handle is refused without a crash.
    h = reinterpret_cast<SpreadsheetFile*>(1);
    EXPECT_FALSE(p.Open(9, "x", true, &h, nullptr));
    EXPECT_EQ(h, nullptr);
    EXPECT_STREQ(p.LastError(1, nullptr), "");
    rows = cols = 1;
    EXPECT_FALSE(p.EstablishSize(1, nullptr, &rows, &cols));
    EXPECT_EQ(rows, -1);
    p.Close(1, nullptr);
}

// A host reading on several threads fetches each failure's text on its own thread: one
// thread's call must not overwrite the text another thread is still reading.
TEST(EntryPoints, EachThreadKeepsItsOwnLastErrorText) {
    PluginHandle p(kPlugin1);
    SpreadsheetFile *mine = nullptr, *other = nullptr;
    EXPECT_FALSE(p.Open(kZeta, "fail-open:5", true, &mine, nullptr));
    EXPECT_FALSE(p.Open(kZeta, "long-error", true, &other, nullptr));
    const char* text = p.LastError(kZeta, mine);
    std::thread([&] { EXPECT_EQ(std::string(p.LastError(kZeta, other)), std::string(254, 'x')); }).join();
    EXPECT_STREQ(text, "Incorrect format of file open options");
    p.Close(kZeta, mine);
    p.Close(kZeta, other);
}

TEST(EntryPoints, OptionsReadFileWarningAndSpecPassThrough) {
    PluginHandle p(kPlugin1);
    QmImportOpenOptions* options = p.FileOptions(kZeta, "file.tst", true);
    ASSERT_NE(options, nullptr);
    EXPECT_EQ(std::string(options->data, options->size), "file.tst:1");
    delete[] options->data;
    delete options;

    SpreadsheetFile* h = nullptr;
    ASSERT_TRUE(p.Open(kZeta, "warn", true, &h, nullptr));
    EXPECT_STREQ(p.Warning(kZeta, h), "a warning");
    EXPECT_STREQ(p.FileRead(h), "warn");
    struct : ImportSpecBase {
        void AnnounceSize(int, int) override {}
        void SetColumnRole(int, int) override {}
        void SetHeaderRole(int, int) override {}
    } spec;
    spec.rolesSet = true;
    p.SetSpec(h, &spec);
    EXPECT_FALSE(spec.rolesSet);  // the base clears the host's flag
    p.Close(kZeta, h);
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
    EXPECT_TRUE(second.Open(1, "data", true, &h, nullptr));
    second.Close(1, h);
}

// The real library registers the twenty formats of registered_formats.tsv, each at the
// position of its row there (the order of the filter texts), and each factory gives its
// kind-of-file answer of kind_of_file.tsv on a file of its format and on a binary file of
// another format.
TEST(EntryPoints, RealLibraryRegistersTheTwentyFormatsAtTheirPositions) {
    auto dataRows = [](const char* file) {
        std::vector<std::vector<std::string>> rows;
        std::ifstream table(std::string(KELTO_SOURCE_DIR "/tests/plugin/") + file);
        for (std::string line; std::getline(table, line);) {
            if (line.empty() || line[0] == '#') continue;
            std::vector<std::string> fields;
            std::istringstream in(line);
            for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
            if (line.back() == '\t') fields.emplace_back();
            rows.push_back(fields);
        }
        return rows;
    };
    const auto records = dataRows("registered_formats.tsv");
    const auto kinds = dataRows("kind_of_file.tsv");
    ASSERT_EQ(records.size(), 20u);
    ASSERT_EQ(kinds.size(), 20u);

    PluginHandle real(KELTO_BIN_DIR "/libKELTOnewsprfile.so");
    ASSERT_EQ(real.Size(), 20);
    const std::string foreign = KELTO_SOURCE_DIR "/samples/matlab_moisture.mat";
    for (int i = 1; i <= 20; ++i) {
        const QmImportFileFormatInfo* info = real.Info(i);
        ASSERT_NE(info, nullptr) << i;
        std::string extensions;
        const char* e = info->extensions;
        for (int k = 0; k < info->extensionCount; ++k, e += std::strlen(e) + 1) extensions += (k ? " " : "") + std::string(e);
        std::ostringstream flags;
        flags << int(info->canWrite) << ' ' << int(info->canRead) << ' ' << int(info->multiFile) << ' '
              << int(info->tableFlag) << ' ' << int(info->formatFlag) << ' ' << int(info->priority);
        EXPECT_EQ((std::vector<std::string>{info->name, info->filter, info->saveFilter ? info->saveFilter : "-",
                                            extensions, flags.str()}),
                  records[i - 1])
            << "position " << i;

        const std::vector<std::string>& kind = kinds[i - 1];
        ASSERT_EQ(kind.size(), 4u) << i;
        EXPECT_EQ(kind[0], info->name) << "position " << i;
        const std::string own = KELTO_SOURCE_DIR "/" + kind[1];
        ASSERT_TRUE(std::ifstream(own).good()) << own;
        EXPECT_EQ(int(real.IsCorrect(i, own.c_str())), std::stoi(kind[2])) << info->name << " on " << kind[1];
        const std::string other = kind[1] == "samples/matlab_moisture.mat" ? KELTO_SOURCE_DIR "/samples/nsas_three_spectra.da" : foreign;
        EXPECT_EQ(int(real.IsCorrect(i, other.c_str())), std::stoi(kind[3])) << info->name << " on " << other;
    }
    EXPECT_EQ(real.Info(21), nullptr);
}
