// kelto-formats [LIBRARY]: loads a plug-in library with dlopen and lists its formats through
// the exported entry points, the way a host sees them. Without an argument it loads
// libKELTOnewsprfile.so from its own directory.
#include <dlfcn.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "plugin/QmImport.h"

namespace {

std::string Extensions(const QmImportFileFormatInfo& info) {
    std::string out;
    const char* p = info.extensions;
    for (int i = 0; p && i < info.extensionCount; ++i) {
        if (!out.empty()) out += ' ';
        out += p;
        p += std::char_traits<char>::length(p) + 1;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    std::filesystem::path lib;
    if (argc > 1) {
        lib = argv[1];
    } else {
        lib = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "libKELTOnewsprfile.so";
    }
    void* module = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        std::fprintf(stderr, "kelto-formats: %s\n", dlerror());
        return 1;
    }
    auto init = reinterpret_cast<QmImportInitPackageFn>(dlsym(module, "QmImportInitPackage"));
    auto count = reinterpret_cast<QmImportSizeFileFormatsSupportedFn>(dlsym(module, "QmImportSizeFileFormatsSupported"));
    auto info = reinterpret_cast<QmImportGetFileFormatInfoFn>(dlsym(module, "QmImportGetFileFormatInfo"));
    auto release = reinterpret_cast<QmImportReleasePackageFn>(dlsym(module, "QmImportReleasePackage"));
    if (!count || !info) {
        std::fprintf(stderr, "kelto-formats: %s is not an import plug-in\n", lib.c_str());
        dlclose(module);
        return 1;
    }
    if (init) init();
    int n = count();
    std::printf("%s: %d format%s\n", lib.filename().c_str(), n, n == 1 ? "" : "s");
    for (int i = 1; i <= n; ++i) {
        const QmImportFileFormatInfo* f = info(i);
        if (!f) continue;
        std::printf("%2d  %-32s %-45s %s%s  %s\n", i, f->name, f->filter, f->canRead ? "r" : "-",
                    f->canWrite ? "w" : "-", Extensions(*f).c_str());
    }
    if (release) release();
    dlclose(module);
    return 0;
}
