// Enumeration of plug-in libraries: which libraries are loaded, the order and replacement of
// formats by name, which libraries are released when, and copies of this library itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "HostTestSupport.h"
#include "data/SpreadsheetData.h"
#include "host/DLLFile.h"
#include "outside/utl/Exception.h"
#include "plugin/SprFileFactory.h"

using namespace hosttest;
using List = InstanceInfoListContainer::List;

namespace {

// This test program's own formats (the library's objects are linked into it) come first.
std::vector<std::string> NamesAfterOwn(const List& list) {
    std::vector<std::string> names;
    int skip = SprFileFactory::SizeInfos();
    for (const auto& e : list)
        if (skip-- <= 0) names.push_back(e.info->name);
    return names;
}

const ImportDLLLoader::InstanceInfo& Named(const List& list, const char* name) {
    auto it = std::find_if(list.begin(), list.end(), [&](const auto& e) { return std::strcmp(e.info->name, name) == 0; });
    if (it == list.end()) throw std::runtime_error(std::string("no entry ") + name);
    return *it;
}

// The init and release lines the hand-written libraries write.
struct EventLog {
    explicit EventLog(const TempDir& dir) : path(dir / "events") { setenv("HOST_TEST_EVENTS", path.c_str(), 1); }
    ~EventLog() { unsetenv("HOST_TEST_EVENTS"); }
    std::string Text() const { return ReadFile(path); }
    std::string path;
};

}  // namespace

TEST(PluginLoader, LaterLibrariesReplaceFormatsByNameCaseIgnored) {
    TempDir host;
    EventLog events(host);
    // The directory search returns names in byte order: the copies are named for it.
    CopyPlugin("libhostalphasprfile.so", host / "lib1alphasprfile.so");
    CopyPlugin("libhostminiechosprfile.so", host / "lib2echosprfile.so");
    CopyPlugin("libhostbravosprfile.so", host / "lib3bravosprfile.so");
    CopyPlugin("libhostmininoentrysprfile.so", host / "lib4noentrysprfile.so");
    WriteFile(host / "lib5brokensprfile.so", "not a library");
    CopyPlugin("libhostalphasprfile.so", host / "xsprfile_libtk8.6.so");  // excluded by its name's end
    CopyPlugin("libhostalphasprfile.so", host / "libnotaplugin.so");      // not *sprfile*

    InstanceInfoListContainer container(nullptr, host.path);
    const List& list = *container.GetList();
    // Bravo's "HOST ECHO" and "HOST SHARED" replace the earlier "Host Echo" and "Host Shared"
    // and stand at the end.
    EXPECT_EQ(NamesAfterOwn(list), (std::vector<std::string>{"Host Alpha", "Host Beta", "Host Gamma", "Host Many",
                                                              "Host Writer", "HOST ECHO", "HOST SHARED"}));
    void* alpha = LoadedHandle(host / "lib1alphasprfile.so");
    void* bravo = LoadedHandle(host / "lib3bravosprfile.so");
    ASSERT_NE(alpha, nullptr);
    ASSERT_NE(bravo, nullptr);
    EXPECT_EQ(Named(list, "Host Writer").module, alpha);
    EXPECT_EQ(Named(list, "Host Writer").formatNumber, 6);  // its number inside alpha
    EXPECT_TRUE(Named(list, "Host Writer").ownsModule);
    EXPECT_EQ(Named(list, "HOST SHARED").module, bravo);
    EXPECT_EQ(Named(list, "HOST SHARED").formatNumber, 2);

    // The echo library lost its only format and was released at once; the library without
    // the required entry points was released as soon as it was seen.
    EXPECT_EQ(events.Text(), "init echo\nrelease echo\ninit noentry\nrelease noentry\n");
    for (const char* gone : {"lib2echosprfile.so", "lib4noentrysprfile.so", "xsprfile_libtk8.6.so", "libnotaplugin.so"})
        EXPECT_EQ(LoadedHandle(host / gone), nullptr) << gone;

    // A replacing entry is read through its own library.
    DLLFile file(DLLEntryPoints::LookUp(bravo), Named(list, "HOST SHARED").formatNumber, false);
    WriteFile(host / "data.hs", "1,2\n3,4,5\n");
    ASSERT_EQ(file.Open(true, (host / "data.hs").c_str(), nullptr), 0);
    EXPECT_EQ(file.GetNumRows(), 2);
    EXPECT_EQ(file.GetNumCols(), 3);
    EXPECT_STREQ(file.GetReadFile(), ("HOST SHARED:" + host / "data.hs").c_str());
}

TEST(PluginLoader, ExtraDirectoryTakesEveryLibraryButExcludedOnes) {
    TempDir host, extra;
    CopyPlugin("libhostalphasprfile.so", extra / "plain.so");           // no *sprfile* needed here
    CopyPlugin("libhostbravosprfile.so", extra / "libtk8.6.so");        // excluded
    CopyPlugin("libhostminiechosprfile.so", extra / "echo.so.backup");  // not a library name
    InstanceInfoListContainer container(extra.path.c_str(), host.path);
    EXPECT_EQ(NamesAfterOwn(*container.GetList()), (std::vector<std::string>{"Host Alpha", "Host Beta", "Host Gamma",
                                                                             "Host Many", "Host Shared", "Host Writer"}));
    EXPECT_EQ(LoadedHandle(extra / "libtk8.6.so"), nullptr);
    EXPECT_EQ(LoadedHandle(extra / "echo.so.backup"), nullptr);
    // A blank extra directory means none, not the current directory.
    EXPECT_EQ(static_cast<int>(InstanceInfoListContainer("  \t", host.path).GetList()->size()), SprFileFactory::SizeInfos());
}

TEST(PluginLoader, EachContainerReleasesOnlyItsOwnReferences) {
    TempDir host, extra;
    EventLog events(host);
    CopyPlugin("libhostminiechosprfile.so", extra / "echo.so");
    auto first = std::make_unique<InstanceInfoListContainer>(extra.path.c_str(), host.path);
    auto second = std::make_unique<InstanceInfoListContainer>(extra.path.c_str(), host.path);
    ASSERT_EQ(NamesAfterOwn(*second->GetList()), std::vector<std::string>{"Host Echo"});
    first.reset();
    EXPECT_EQ(events.Text(), "init echo\ninit echo\nrelease echo\n");
    EXPECT_NE(LoadedHandle(extra / "echo.so"), nullptr) << "the second container still uses the library";
    second.reset();
    EXPECT_EQ(LoadedHandle(extra / "echo.so"), nullptr);
}

TEST(DLLFile, CarriesTheLibrarysCodesAndMessagesAndTheHostTablesExceptions) {
    TempDir dir;
    CopyPlugin("libhostalphasprfile.so", dir / "alpha.so");
    void* library = dlopen((dir / "alpha.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    const DLLEntryPoints entry = DLLEntryPoints::LookUp(library);
    const std::string data = dir / "d.ha", failing = dir / "fail.ha";
    WriteFile(data, "1,boom,2\n3\n");
    WriteFile(failing, "#fail\n");
    auto message = [](SpreadsheetFile& f, unsigned length = 100) {
        std::string buffer(length + 1, '#');
        f.GetErrorMessage(buffer.data(), length);
        return std::string(buffer.c_str());
    };
    DLLEntryPoints noError = entry, noOpen = entry;
    noError.getLastError = nullptr;
    noOpen.open = nullptr;  // would give 2048 if it were consulted
    const std::string missing = "The import dll is missing a function.";
    struct Case {
        DLLEntryPoints entry;
        int format;  // 1 is Host Alpha, 2 Host Beta (read-only), 99 none
        const char* path;  // null: not opened
        bool read;
        int code;
        std::string message;
        unsigned length = 100;  // of the message buffer
    } const cases[] = {
        {entry, 1, failing.c_str(), true, DLLFile::kLibraryFailed, "test failure"},
        {entry, 1, failing.c_str(), true, DLLFile::kLibraryFailed, "test", 4},
        {noError, 1, failing.c_str(), true, DLLFile::kLibraryFailed, missing},
        {DLLEntryPoints::LookUp(nullptr), 1, data.c_str(), true, DLLFile::kMissingFunction, missing},
        {entry, 1, nullptr, true, DLLFile::kNotOpen, "The file was not opened properly."},
        // The library fails without handing out an object: no text to ask it for.
        {entry, 99, data.c_str(), true, DLLFile::kLibraryFailed, "No further information available."},
        {noOpen, 2, data.c_str(), false, SpreadsheetFile::kWrongDirection,
         "Tried to write to the file when it was opened for reading or vice versa."},
    };
    for (const Case& c : cases) {
        DLLFile file(c.entry, c.format, c.format == 1);
        Table table;
        int code = c.path ? file.Open(c.read, c.path, nullptr) : 0;
        if (code == 0) code = file.Read(&table);
        EXPECT_EQ(code, c.code) << c.message;
        EXPECT_EQ(message(file, c.length), c.message);
    }

    // An exception of the host's table is rethrown once the library has returned; nothing
    // more reaches the table after it.
    DLLFile file(entry, 1, true);
    ASSERT_EQ(file.Open(true, data.c_str(), nullptr), 0);
    Table table;
    table.SetDataSize(3, 2);
    table.failOn = "boom";
    EXPECT_THROW(file.Read(&table), std::runtime_error);
    EXPECT_EQ(table.GetStringValue(1, 1), "1");
    EXPECT_EQ(table.GetStringValue(3, 1), "");
    file.Close();  // before the library goes
    dlclose(library);
}

// A cancellation inside the library's open, read or options call reaches the host as
// CancelException, never as the library's failure; a failure after it is a failure again.
TEST(DLLFile, ACancelInsideTheLibraryIsRaisedOnTheHostSide) {
    TempDir dir;
    CopyPlugin("libhostalphasprfile.so", dir / "alpha.so");
    void* library = dlopen((dir / "alpha.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    const DLLEntryPoints entry = DLLEntryPoints::LookUp(library);
    ASSERT_NE(entry.takeCancelled, nullptr) << "the cancel channel is found by its symbol";
    const std::string failing = dir / "fail.ha";
    WriteFile(failing, "#fail\n");
    for (const char* step : {"open", "read", "options"}) {
        const std::string path = dir / (std::string(step) + ".ha");
        WriteFile(path, "#cancel " + std::string(step) + "\n1,2\n");
        DLLFile file(entry, 1, true);
        bool cancelled = false;
        try {
            if (std::string(step) == "options") {
                file.GetFileReadOptions(path.c_str(), true);
            } else if (file.Open(true, path.c_str(), nullptr) == 0) {
                Table table;
                table.SetDataSize(2, 1);
                file.Read(&table);
            }
        } catch (const CancelException&) {
            cancelled = true;
        }
        EXPECT_TRUE(cancelled) << step;
        DLLFile after(entry, 1, true);
        Table table;
        EXPECT_EQ(after.Open(true, failing.c_str(), nullptr), 0);
        EXPECT_EQ(after.Read(&table), DLLFile::kLibraryFailed) << "after " << step;
        EXPECT_EQ(after.GetFileReadOptions(failing.c_str(), true), nullptr);  // no options, no cancel
    }
    dlclose(library);
}
