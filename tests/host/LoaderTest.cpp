// Enumeration of plug-in libraries: which libraries are loaded, the order and replacement of
// formats by name, and which libraries are released when.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "HostTestSupport.h"
#include "data/SpreadsheetData.h"
#include "host/DLLFile.h"
#include "host/ImportDLLLoader.h"
#include "plugin/SprFileFactory.h"

using namespace hosttest;
using List = InstanceInfoListContainer::List;

namespace {

// This test program's own formats: the library's objects are linked into it.
int OwnCount() { return SprFileFactory::SizeInfos(); }

std::vector<std::string> NamesAfterOwn(const List& list) {
    std::vector<std::string> names;
    int skip = OwnCount();
    for (const auto& e : list)
        if (skip-- <= 0) names.push_back(e.info->name);
    return names;
}

const ImportDLLLoader::InstanceInfo& Named(const List& list, const char* name) {
    auto it = std::find_if(list.begin(), list.end(), [&](const auto& e) { return std::strcmp(e.info->name, name) == 0; });
    if (it == list.end()) throw std::runtime_error(std::string("no entry ") + name);
    return *it;
}

class EventLog {
public:
    explicit EventLog(const TempDir& dir) : path_(dir / "events") { setenv("HOST_TEST_EVENTS", path_.c_str(), 1); }
    ~EventLog() { unsetenv("HOST_TEST_EVENTS"); }
    std::string Text() const { return ReadFile(path_); }

private:
    std::string path_;
};

}  // namespace

TEST(PluginLoader, LaterLibrariesReplaceFormatsByNameCaseIgnored) {
    TempDir host;
    TempDir nothing;
    EventLog events(host);
    // The directory search returns names in byte order: the copies are named for it.
    CopyPlugin("libhostalphasprfile.so", host / "lib1alphasprfile.so");
    CopyPlugin("libhostminiechosprfile.so", host / "lib2echosprfile.so");
    CopyPlugin("libhostbravosprfile.so", host / "lib3bravosprfile.so");
    CopyPlugin("libhostmininoentrysprfile.so", host / "lib4noentrysprfile.so");
    WriteFile(host / "lib5brokensprfile.so", "not a library");
    CopyPlugin("libhostalphasprfile.so", host / "xsprfile_libtk8.6.so");  // excluded by its name's end
    CopyPlugin("libhostalphasprfile.so", host / "libnotaplugin.so");      // not *sprfile*

    {
        InstanceInfoListContainer container(nullptr, host.path());
        const List& list = *container.GetList();
        ASSERT_EQ(static_cast<int>(list.size()), OwnCount() + 8);
        // Bravo's "HOST ECHO" and "HOST SHARED" replace the earlier "Host Echo" and "Host
        // Shared" and stand at the end; of its "Bravo Twice" and "BRAVO TWICE" the later stays.
        EXPECT_EQ(NamesAfterOwn(list),
                  (std::vector<std::string>{"Host Alpha", "Host Beta", "Host Gamma", "Host Many", "Host Writer",
                                            "BRAVO TWICE", "HOST ECHO", "HOST SHARED"}));

        void* alpha = LoadedHandle(host / "lib1alphasprfile.so");
        void* bravo = LoadedHandle(host / "lib3bravosprfile.so");
        ASSERT_NE(alpha, nullptr);
        ASSERT_NE(bravo, nullptr);
        EXPECT_EQ(Named(list, "Host Writer").module, alpha);
        EXPECT_EQ(Named(list, "Host Writer").formatNumber, 6);  // its number inside alpha
        EXPECT_TRUE(Named(list, "Host Writer").ownsModule);
        EXPECT_EQ(Named(list, "HOST SHARED").module, bravo);
        EXPECT_EQ(Named(list, "HOST SHARED").formatNumber, 4);
        EXPECT_EQ(Named(list, "BRAVO TWICE").formatNumber, 2);

        // The echo library lost its only format and was released at once; the library
        // without the required entry points was released as soon as it was seen.
        EXPECT_EQ(events.Text(), "init echo\nrelease echo\ninit noentry\nrelease noentry\n");
        EXPECT_EQ(LoadedHandle(host / "lib2echosprfile.so"), nullptr);
        EXPECT_EQ(LoadedHandle(host / "lib4noentrysprfile.so"), nullptr);
        EXPECT_EQ(LoadedHandle(host / "xsprfile_libtk8.6.so"), nullptr);
        EXPECT_EQ(LoadedHandle(host / "libnotaplugin.so"), nullptr);

        // Entries of a library stay usable through its looked-up entry points.
        DLLFile file(DLLEntryPoints::LookUp(bravo), Named(list, "HOST SHARED").formatNumber, false);
        WriteFile(host / "data.hs", "1,2\n3,4,5\n");
        ASSERT_EQ(file.Open(true, (host / "data.hs").c_str(), nullptr), 0);
        EXPECT_EQ(file.GetNumRows(), 2);
        EXPECT_EQ(file.GetNumCols(), 3);
        EXPECT_STREQ(file.GetReadFile(), ("HOST SHARED:" + host / "data.hs").c_str());
    }
}

TEST(PluginLoader, ExtraDirectoryTakesEveryLibraryButExcludedOnes) {
    TempDir host;
    TempDir extra;
    CopyPlugin("libhostalphasprfile.so", extra / "plain.so");          // no *sprfile* needed here
    CopyPlugin("libhostbravosprfile.so", extra / "libtk8.6.so");       // excluded
    CopyPlugin("libhostminiechosprfile.so", extra / "echo.so.backup");  // not a library name
    InstanceInfoListContainer container(extra.path().c_str(), host.path());
    EXPECT_EQ(NamesAfterOwn(*container.GetList()),
              (std::vector<std::string>{"Host Alpha", "Host Beta", "Host Gamma", "Host Many", "Host Shared",
                                        "Host Writer"}));
    EXPECT_EQ(LoadedHandle(extra / "libtk8.6.so"), nullptr);
    EXPECT_EQ(LoadedHandle(extra / "echo.so.backup"), nullptr);

    // A blank extra directory means none, not the current directory.
    InstanceInfoListContainer blank("  \t", host.path());
    EXPECT_EQ(static_cast<int>(blank.GetList()->size()), OwnCount());
}

TEST(PluginLoader, EachContainerReleasesOnlyItsOwnReferences) {
    TempDir host;
    TempDir extra;
    EventLog events(host);
    CopyPlugin("libhostminiechosprfile.so", extra / "echo.so");
    const std::string echo = extra / "echo.so";

    auto first = std::make_unique<InstanceInfoListContainer>(extra.path().c_str(), host.path());
    auto second = std::make_unique<InstanceInfoListContainer>(extra.path().c_str(), host.path());
    ASSERT_EQ(NamesAfterOwn(*second->GetList()), std::vector<std::string>{"Host Echo"});

    first.reset();
    EXPECT_EQ(events.Text(), "init echo\ninit echo\nrelease echo\n");
    ASSERT_NE(LoadedHandle(echo), nullptr) << "the second container still uses the library";
    EXPECT_EQ(second->GetList()->back().info->extensionCount, 1);

    second.reset();
    EXPECT_EQ(events.Text(), "init echo\ninit echo\nrelease echo\nrelease echo\n");
    EXPECT_EQ(LoadedHandle(echo), nullptr);
}

TEST(PluginLoader, TheLibraryBesideTheHostReplacesOurFormatsWithoutDoubling) {
    // This program's directory holds the real plug-in library, found again by the search as
    // a plug-in would be. It serves the same formats, which replace this program's own.
    const std::string real = std::string(KELTO_BIN_DIR) + "/libKELTOnewsprfile.so";
    ASSERT_TRUE(fs::exists(real));
    InstanceInfoListContainer container(nullptr);
    const List& list = *container.GetList();
    ASSERT_EQ(static_cast<int>(list.size()), OwnCount());
    void* library = LoadedHandle(real);
    ASSERT_NE(library, nullptr);
    for (const auto& e : list) {
        EXPECT_EQ(e.module, library) << e.info->name;
        EXPECT_TRUE(e.ownsModule);
    }
}

TEST(PluginLoader, ACopyOfOurLibraryUnderAnotherNameServesFromItsOwnRegistry) {
    // With the original loaded too, each copy must register into and read from its own
    // registry; a symbol of one bound to the other would double a list or mix the objects.
    const std::string real = std::string(KELTO_BIN_DIR) + "/libKELTOnewsprfile.so";
    void* original = dlopen(real.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(original, nullptr) << dlerror();

    TempDir host;
    const std::string copyPath = host / "libKELTOcopysprfile.so";
    fs::copy_file(real, copyPath);
    InstanceInfoListContainer container(nullptr, host.path());
    const List& list = *container.GetList();
    ASSERT_GT(OwnCount(), 0);
    ASSERT_EQ(static_cast<int>(list.size()), OwnCount());
    void* copy = LoadedHandle(copyPath);
    ASSERT_NE(copy, nullptr);
    ASSERT_NE(copy, original);
    for (const auto& e : list) EXPECT_EQ(e.module, copy) << e.info->name;

    for (void* library : {copy, original}) {
        auto size = reinterpret_cast<QmImportSizeFileFormatsSupportedFn>(dlsym(library, "QmImportSizeFileFormatsSupported"));
        ASSERT_NE(size, nullptr);
        EXPECT_EQ(size(), OwnCount());

        const auto& text = Named(list, "Text File");
        DLLFile file(DLLEntryPoints::LookUp(library), text.formatNumber, text.info->canWrite != 0);
        WriteFile(host / "t.txt", "name\tvalue\nb\t2.5\n");
        ASSERT_EQ(file.Open(true, (host / "t.txt").c_str(), nullptr), 0);
        ASSERT_EQ(file.GetNumRows(), 2);
        ASSERT_EQ(file.GetNumCols(), 2);
        FloatStringSpreadsheetData table;
        table.SetDataSize(2, 2);
        ASSERT_EQ(file.Read(&table), 0);
        EXPECT_EQ(table.GetStringValue(1, 1), "name");
        EXPECT_TRUE(table.IsFloat(2, 2));
        EXPECT_FLOAT_EQ(table.GetFloatData(2, 2), 2.5f);
    }
    dlclose(original);
}
