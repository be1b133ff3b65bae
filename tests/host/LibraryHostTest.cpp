// A host program as hosts are built: linked with libKELTOnewsprfile.so only, using the
// exported host layer. The library finds itself again beside this program, and a copy of it
// under another name in the extra directory; neither may double the list, and reads and
// writes go through whichever library serves a format last.
#include <gtest/gtest.h>

#include <cstring>

#include "HostTestSupport.h"
#include "data/SpreadsheetData.h"
#include "host/ImportHelperBase.h"
#include "host/ImportOptionsHelper.h"
#include "plugin/QmImport.h"

using namespace hosttest;

namespace {

const std::string kLibrary = std::string(KELTO_BIN_DIR) + "/libKELTOnewsprfile.so";

const std::string& ExtraDirectory() {
    static TempDir dir;
    static bool ready = [] {
        fs::copy_file(kLibrary, dir / "libKELTOcopy.so");
        CopyPlugin("libhostalphasprfile.so", dir / "alpha.so");
        return true;
    }();
    (void)ready;
    return dir.path();
}

// Records which libraries serve the candidates it is asked to choose from.
class Loader : public ImportDLLLoader {
public:
    int SelectFormat(std::list<InstanceInfo>& candidates, const char* path) override {
        modules.clear();
        for (const InstanceInfo& e : candidates) modules.push_back(e.module);
        return ImportDLLLoader::SelectFormat(candidates, path);
    }
    std::vector<void*> modules;
};

class Host : public ImportHelperBase {
public:
    explicit Host(Loader* loader) : ImportHelperBase(loader, ExtraDirectory().c_str()) {}
    int PutMsg1(const char* text, const char*, MessageType, int) override {
        warnings.push_back(text);
        return 1;
    }
    std::vector<std::string> warnings;
};

}  // namespace

TEST(LibraryHost, FormatsOfTheLibraryAndItsCopyAreNotDoubled) {
    auto* loader = new Loader;
    Host host(loader);
    const int own = QmImportSizeFileFormatsSupported();
    ASSERT_GT(own, 0);
    EXPECT_EQ(loader->SizeInfos(), own + 6) << "the library's formats once, and alpha's six";

    // Every format of the library is now served by the copy, the last library found.
    TempDir dir;
    WriteFile(dir / "x.unknown", "#alpha? beta?\n");
    loader->GetSpreadsheetFileIndex((dir / "x.unknown").c_str());
    void* copy = LoadedHandle(ExtraDirectory() + "/libKELTOcopy.so");
    void* self = LoadedHandle(kLibrary);
    ASSERT_NE(copy, nullptr);
    ASSERT_FALSE(loader->modules.empty());
    for (void* module : loader->modules) EXPECT_NE(module, self);
    EXPECT_NE(std::find(loader->modules.begin(), loader->modules.end(), copy), loader->modules.end());
}

TEST(LibraryHost, ReadsAndWritesTextThroughTheHelper) {
    Host host(new Loader);
    TempDir dir;
    const std::string in = dir / "table.txt";
    WriteFile(in, "name\tvalue\nfirst\t1.25\nsecond\t-3\n");

    FloatStringSpreadsheetData table;
    QmImportOpenOptions options{0, nullptr};
    ASSERT_TRUE(host.ReadSpreadsheetFile({in}, 1, &table, &options, false, nullptr)) << host.GetErrorMessage();
    ASSERT_EQ(table.GetNumberOfRows(), 3);
    ASSERT_EQ(table.GetNumberOfColumns(), 2);
    EXPECT_EQ(table.GetStringValue(1, 3), "second");
    EXPECT_FLOAT_EQ(table.GetFloatData(2, 2), 1.25f);
    EXPECT_STREQ(host.GetFilenameRead(), "table");
    // The text reader filled the empty options with its defaults; they are ours now.
    ImportOptionsHelper::OpenOptions defaults(&options);
    EXPECT_GT(defaults.size, 0);
    EXPECT_EQ(ImportOptionsHelper::GetReadOrder(defaults), 3);

    const std::string out = dir / "copy.txt";
    const int ordinal = host.GetFormatIndex(out, true, false);
    ASSERT_GT(ordinal, 0);
    ASSERT_TRUE(host.WriteSpreadsheetFile(out.c_str(), ordinal, &table, nullptr)) << host.GetErrorMessage();
    FloatStringSpreadsheetData again;
    ASSERT_TRUE(host.ReadSpreadsheetFile({out}, 1, &again, nullptr, false, nullptr)) << host.GetErrorMessage();
    EXPECT_EQ(again.GetStringValue(1, 2), "first");
    EXPECT_FLOAT_EQ(again.GetFloatData(2, 3), -3.0f);
}
