// A host program as hosts are built: linked with libKELTOnewsprfile.so only, using the
// exported host layer. The library finds itself again beside this program, and a copy of it
// under another name in the extra directory; neither may double the list, and reads and
// writes go through whichever library serves a format last.
#include <gtest/gtest.h>

#include "HostTestSupport.h"
#include "host/ImportHelperBase.h"
#include "host/ImportOptionsHelper.h"
#include "plugin/QmImport.h"

using namespace hosttest;

namespace {

const std::string kLibrary = KELTO_BIN_DIR "/libKELTOnewsprfile.so";

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

}  // namespace

TEST(LibraryHost, FormatsOfTheLibraryAndItsCopyAreNotDoubledAndReadAndWriteText) {
    TempDir extra, dir;
    fs::copy_file(kLibrary, extra / "libKELTOcopy.so");
    CopyPlugin("libhostalphasprfile.so", extra / "alpha.so");
    auto* loader = new Loader;
    ImportHelperBase host(loader, extra.path.c_str());
    const int own = QmImportSizeFileFormatsSupported();
    ASSERT_GT(own, 0);
    EXPECT_EQ(loader->SizeInfos(), own + 6) << "the library's formats once, and alpha's six";

    // Every format of the library is now served by the copy, the last library found.
    WriteFile(dir / "x.unknown", "#alpha? beta?\n");
    loader->GetSpreadsheetFileIndex((dir / "x.unknown").c_str());
    void* copy = LoadedHandle(extra / "libKELTOcopy.so");
    ASSERT_NE(copy, nullptr);
    ASSERT_FALSE(loader->modules.empty());
    for (void* module : loader->modules) EXPECT_NE(module, LoadedHandle(kLibrary));
    EXPECT_NE(std::find(loader->modules.begin(), loader->modules.end(), copy), loader->modules.end());

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
    ASSERT_TRUE(host.WriteSpreadsheetFile(out.c_str(), host.GetFormatIndex(out, true, false), &table, nullptr))
        << host.GetErrorMessage();
    FloatStringSpreadsheetData again;
    ASSERT_TRUE(host.ReadSpreadsheetFile({out}, 1, &again, nullptr, false, nullptr)) << host.GetErrorMessage();
    EXPECT_EQ(again.GetStringValue(1, 2), "first");
    EXPECT_FLOAT_EQ(again.GetFloatData(2, 3), -3.0f);
}
