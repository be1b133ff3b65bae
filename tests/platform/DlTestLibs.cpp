// Small shared libraries for the library-loading tests; which one is built is chosen by a
// macro (see CMakeLists.txt).
#include "plugin/Export.h"

#if defined(KELTO_TEST_DEP)
// A dependency that a plug-in finds beside itself.
KELTO_C_API int KeltoTestDepValue() { return 41; }

#elif defined(KELTO_TEST_PLUGIN)
// A plug-in that needs the dependency above; it does not define KeltoTestDepValue itself.
extern "C" int KeltoTestDepValue();
KELTO_C_API int QmImportSizeFileFormatsSupported() { return KeltoTestDepValue() + 1; }

#elif defined(KELTO_TEST_LINKED)
// Linked into the test program, as a host may link a plug-in library: its entry point must not
// be taken for the executable's own.
KELTO_C_API int QmImportSizeFileFormatsSupported() { return 7; }

#elif defined(KELTO_TEST_SELF)
// Carries its own copy of the platform layer and reports what it takes for "this library".
#include "platform/DynamicLibrary.h"
KELTO_C_API void* KeltoTestSelfHandle() { return kelto::platform::CurrentLibraryHandle(); }
#endif
