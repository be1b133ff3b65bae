#include "platform/DynamicLibrary.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "plugin/Export.h"

namespace fs = std::filesystem;
using namespace kelto::platform;

// Defined by the test program itself and exported from it (ENABLE_EXPORTS).
KELTO_C_API int KeltoTestExecutableEntry() { return 5; }
// Defined in libkelto_test_linked.so, which this program links.
extern "C" int QmImportSizeFileFormatsSupported();

namespace {

const std::string kLibDir = KELTO_TEST_LIB_DIR;

fs::path Scratch() { return fs::temp_directory_path() / ("kelto_dl_" + std::to_string(getpid())); }
struct ScratchCleanup : ::testing::Environment {
    void TearDown() override { fs::remove_all(Scratch()); }
};
const auto* const kCleanup = ::testing::AddGlobalTestEnvironment(new ScratchCleanup);

fs::path FreshDir(const std::string& name) {
    fs::path dir = Scratch() / name;
    fs::create_directories(dir);
    return dir;
}

using IntFn = int (*)();

}  // namespace

TEST(DynamicLibrary, PluginFindsItsDependencyBesideItself) {
    // Without its dependency beside it the plug-in does not load, so the RUNPATH is what finds it.
    fs::path alone = FreshDir("alone");
    fs::copy_file(kLibDir + "/libkelto_test_plugin.so", alone / "libkelto_test_plugin.so");
    std::string error;
    EXPECT_EQ(OpenLibrary((alone / "libkelto_test_plugin.so").string(), &error), nullptr);
    EXPECT_NE(error.find("libkelto_test_dep.so"), std::string::npos) << error;

    fs::path both = FreshDir("both");
    fs::copy_file(kLibDir + "/libkelto_test_plugin.so", both / "libkelto_test_plugin.so");
    fs::copy_file(kLibDir + "/libkelto_test_dep.so", both / "libkelto_test_dep.so");
    std::string path = (both / "libkelto_test_plugin.so").string();
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
    EXPECT_EQ(FindSymbol(h, "NoSuchFunction"), nullptr);
    // Loaded privately: nothing of it joins the global scope that later libraries bind against.
    EXPECT_EQ(dlsym(RTLD_DEFAULT, "KeltoTestDepValue"), nullptr);
    // The last reference given back unloads the library.
    CloseLibrary(h);
    EXPECT_EQ(dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
}

TEST(DynamicLibrary, FailuresAreReportedNotThrown) {
    std::string error;
    EXPECT_EQ(OpenLibrary("/nonexistent/libnothing.so", &error), nullptr);
    EXPECT_NE(error.find("libnothing.so"), std::string::npos) << error;
    fs::path dir = FreshDir("text");
    std::ofstream(dir / "libfake_sprfile.so") << "not a library";
    error.clear();
    EXPECT_EQ(OpenLibrary((dir / "libfake_sprfile.so").string(), &error), nullptr);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(FindSymbol(nullptr, "QmImportOpen"), nullptr);
    EXPECT_EQ(ModulePath(nullptr), "");
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
    std::string exe = HostExecutablePath();
    EXPECT_TRUE(fs::path(exe).is_absolute() && fs::exists(exe)) << exe;
    EXPECT_EQ(fs::path(exe).filename(), "platform_dynamic_library_test");
    EXPECT_EQ(ModulePath(main), exe);
    CloseLibrary(main);
}

TEST(DynamicLibrary, CurrentLibraryIsTheOneHoldingTheCode) {
    // Linked statically into this program, "this library" is the program itself.
    ModuleHandle self = CurrentLibraryHandle();
    ModuleHandle main = MainProgramHandle();
    EXPECT_EQ(self, main);
    CloseLibrary(self);
    CloseLibrary(main);
    // Inside a shared library it is that library, the same handle a loader gets for its path.
    std::string path = kLibDir + "/libkelto_test_self.so";
    ModuleHandle lib = OpenLibrary(path);
    ASSERT_NE(lib, nullptr);
    auto report = reinterpret_cast<void* (*)()>(FindSymbol(lib, "KeltoTestSelfHandle"));
    ASSERT_NE(report, nullptr);
    ModuleHandle inside = report();
    EXPECT_EQ(inside, lib);
    CloseLibrary(inside);
    CloseLibrary(lib);
}

TEST(DirectorySearch, WildcardMatchesRegularFilesInByteOrder) {
    fs::path dir = FreshDir("search");
    for (const char* name : {"libKELTOnewsprfile.so", "libFooSPRFILE.so", "sprfile.txt", "libtk8.6.so", "libbar.so",
                             "libsprfile.so.1"})
        std::ofstream(dir / name) << "x";
    fs::create_directory(dir / "dir_sprfile.so");                               // a directory
    fs::create_symlink("libbar.so", dir / "liblink_sprfile.so");               // a link to a file
    fs::create_symlink("nowhere", dir / "libdead_sprfile.so");                 // a dangling link
    std::string pattern = std::string("*sprfile*") + kSharedLibrarySuffix;
    EXPECT_EQ(FindFiles(dir.string(), pattern),
              (std::vector<std::string>{"libFooSPRFILE.so", "libKELTOnewsprfile.so", "liblink_sprfile.so"}));
    EXPECT_EQ(FindFiles(dir.string(), pattern, true),
              (std::vector<std::string>{"libKELTOnewsprfile.so", "liblink_sprfile.so"}));
    EXPECT_EQ(FindFiles(dir.string(), "lib?ar.so"), std::vector<std::string>{"libbar.so"});
    EXPECT_TRUE(FindFiles((dir / "missing").string(), "*").empty());
}

TEST(DirectorySearch, ExcludedLibrariesByTheEndOfTheirPath) {
    EXPECT_EQ(ExcludedLibraryNames(), (std::vector<std::string>{"tk86t.dll", "libtk8.6.so"}));
    EXPECT_TRUE(IsExcludedLibrary("/opt/host/libtk8.6.so"));
    EXPECT_TRUE(IsExcludedLibrary("C:\\host\\tk86t.dll"));
    EXPECT_TRUE(IsExcludedLibrary("libtk8.6.so"));
    EXPECT_FALSE(IsExcludedLibrary("/opt/host/TK86T.DLL"));  // the comparison keeps case
    EXPECT_FALSE(IsExcludedLibrary("/opt/host/libtk8.6.so.0"));
    EXPECT_FALSE(IsExcludedLibrary("k8.6.so"));
    EXPECT_FALSE(IsExcludedLibrary(""));
}
