// Hand-written plug-in libraries without the plug-in core, so that nothing keeps them loaded
// once released (libraries built from the core hold symbols the dynamic loader never unloads).
// Each writes "init <name>" and "release <name>" lines to the file named by the environment
// variable HOST_TEST_EVENTS, so the tests can see when the host initialises and releases them.
//   HOST_MINI_ECHO      one format, "Host Echo" (.he), no kind-of-file test, no file entry points
//   HOST_MINI_NOENTRY   only the package entry points: not a usable plug-in
#include <cstdio>
#include <cstdlib>

#include "plugin/QmImport.h"

namespace {

void Event(const char* what) {
    const char* path = std::getenv("HOST_TEST_EVENTS");
    if (!path) return;
    if (std::FILE* f = std::fopen(path, "a")) {
        std::fputs(what, f);
        std::fputs("\n", f);
        std::fclose(f);
    }
}

}  // namespace

#if defined(HOST_MINI_ECHO)
namespace {
const QmImportFileFormatInfo kEcho = {"Host Echo", "Host Echo (*.he)", nullptr, 1, ".he\0", 0, 1, 0, 1, 0, 1};
}
KELTO_C_API void QmImportInitPackage() { Event("init echo"); }
KELTO_C_API void QmImportReleasePackage() { Event("release echo"); }
KELTO_C_API int QmImportSizeFileFormatsSupported() { return 1; }
KELTO_C_API const QmImportFileFormatInfo* QmImportGetFileFormatInfo(int) { return &kEcho; }
#elif defined(HOST_MINI_NOENTRY)
KELTO_C_API void QmImportInitPackage() { Event("init noentry"); }
KELTO_C_API void QmImportReleasePackage() { Event("release noentry"); }
#endif
