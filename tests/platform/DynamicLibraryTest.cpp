#include "platform/DynamicLibrary.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "outside/TestFiles.h"
#include "plugin/Export.h"

namespace fs = std::filesystem;
using namespace kelto::platform;

// Defined by the test program itself and exported from it (ENABLE_EXPORTS).
KELTO_C_API int KeltoTestExecutableEntry() { return 5; }
// Defined in libkelto_test_linked.so, which this program links.
extern "C" int QmImportSizeFileFormatsSupported();

namespace {

const std::string kLibDir = KELTO_TEST_LIB_DIR;
using IntFn = int (*)();

const kelto::test::TempDir kScratch;
fs::path Scratch() { return kScratch.Path(); }

// A fresh directory holding copies of the named test libraries.
fs::path DirWith(const std::string& name, std::initializer_list<const char*> libs) {
    fs::path dir = Scratch() / name;
    fs::create_directories(dir);
    for (const char* lib : libs) fs::copy_file(kLibDir + "/" + lib, dir / lib);
    return dir;
}

}  // namespace

TEST(DynamicLibrary, PluginFindsItsDependencyBesideItselfAndExportsOnlyItsOwn) {
    // Without its dependency beside it the plug-in does not load, so the RUNPATH is what finds it.
    std::string error;
    fs::path alone = DirWith("alone", {"libkelto_test_plugin.so"});
    EXPECT_EQ(OpenLibrary((alone / "libkelto_test_plugin.so").string(), &error), nullptr);
    EXPECT_NE(error.find("libkelto_test_dep.so"), std::string::npos) << error;

    std::string path = (DirWith("both", {"libkelto_test_plugin.so", "libkelto_test_dep.so"}) / "libkelto_test_plugin.so").string();
    ModuleHandle h = OpenLibrary(path, &error);
    ASSERT_NE(h, nullptr) << error;
    EXPECT_EQ(ModulePath(h), path);
    auto entry = reinterpret_cast<IntFn>(FindSymbol(h, "QmImportSizeFileFormatsSupported"));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry(), 42);
    // dlsym would also find the dependency's function through the plug-in's handle; an export
    // lookup answers only for what the plug-in itself defines.
    EXPECT_NE(dlsym(h, "KeltoTestDepValue"), nullptr);
    EXPECT_EQ(FindSymbol(h, "KeltoTestDepValue"), nullptr);
    // Loaded privately: nothing of it joins the global scope that later libraries bind against.
    EXPECT_EQ(dlsym(RTLD_DEFAULT, "KeltoTestDepValue"), nullptr);
    // The last reference given back unloads the library.
    CloseLibrary(h);
    EXPECT_EQ(dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);

    fs::path text = Scratch() / "libfake_sprfile.so";
    std::ofstream(text) << "not a library";
    error.clear();
    EXPECT_EQ(OpenLibrary(text.string(), &error), nullptr);  // reported, not thrown
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(FindSymbol(nullptr, "QmImportOpen"), nullptr);
}

TEST(DynamicLibrary, MainProgramOffersOnlyItsOwnEntryPoints) {
    ASSERT_EQ(QmImportSizeFileFormatsSupported(), 7);  // linked in from a library
    ModuleHandle main = MainProgramHandle();
    ASSERT_NE(main, nullptr);
    EXPECT_NE(dlsym(main, "QmImportSizeFileFormatsSupported"), nullptr);  // global scope has it...
    EXPECT_EQ(FindSymbol(main, "QmImportSizeFileFormatsSupported"), nullptr);  // ...the program does not
    auto own = reinterpret_cast<IntFn>(FindSymbol(main, "KeltoTestExecutableEntry"));
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own(), 5);
    EXPECT_EQ(fs::path(HostExecutablePath()).filename(), "platform_dynamic_library_test");
    EXPECT_EQ(ModulePath(main), HostExecutablePath());
    // Linked statically into this program, "this library" is the program itself.
    ModuleHandle self = CurrentLibraryHandle();
    EXPECT_EQ(self, main);
    CloseLibrary(self);
    CloseLibrary(main);
}

TEST(DynamicLibrary, CurrentLibraryInsideASharedLibraryIsThatLibrary) {
    ModuleHandle lib = OpenLibrary(kLibDir + "/libkelto_test_self.so");
    ASSERT_NE(lib, nullptr);
    auto report = reinterpret_cast<void* (*)()>(FindSymbol(lib, "KeltoTestSelfHandle"));
    ASSERT_NE(report, nullptr);
    ModuleHandle inside = report();
    EXPECT_EQ(inside, lib);  // the same handle a loader gets for its path
    CloseLibrary(inside);
    CloseLibrary(lib);
}

TEST(DirectorySearch, WildcardMatchesRegularFilesInByteOrderAndExclusions) {
    fs::path dir = DirWith("search", {});
    for (const char* name : {"libKELTOnewsprfile.so", "libFooSPRFILE.so", "sprfile.txt", "libtk8.6.so", "libbar.so", "libsprfile.so.1"})
        std::ofstream(dir / name) << "x";
    fs::create_directory(dir / "dir_sprfile.so");                  // a directory
    fs::create_symlink("libbar.so", dir / "liblink_sprfile.so");  // a link to a file
    fs::create_symlink("nowhere", dir / "libdead_sprfile.so");    // a dangling link
    std::string pattern = std::string("*sprfile*") + kSharedLibrarySuffix;
    EXPECT_EQ(FindFiles(dir.string(), pattern), (std::vector<std::string>{"libFooSPRFILE.so", "libKELTOnewsprfile.so", "liblink_sprfile.so"}));
    EXPECT_EQ(FindFiles(dir.string(), pattern, true), (std::vector<std::string>{"libKELTOnewsprfile.so", "liblink_sprfile.so"}));
    EXPECT_EQ(FindFiles(dir.string(), "lib?ar.so"), std::vector<std::string>{"libbar.so"});
    EXPECT_TRUE(FindFiles((dir / "missing").string(), "*").empty());

    EXPECT_EQ(ExcludedLibraryNames(), (std::vector<std::string>{"tk86t.dll", "libtk8.6.so"}));
    EXPECT_TRUE(IsExcludedLibrary("/opt/host/libtk8.6.so") && IsExcludedLibrary("C:\\host\\tk86t.dll"));
    EXPECT_FALSE(IsExcludedLibrary("/opt/host/TK86T.DLL"));  // the comparison keeps case
    EXPECT_FALSE(IsExcludedLibrary("/opt/host/libtk8.6.so.0") || IsExcludedLibrary("k8.6.so") || IsExcludedLibrary(""));
}
