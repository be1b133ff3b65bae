#pragma once
// The plug-in interface: the records that cross the boundary between a host and an import
// plug-in library, and the fifteen QmImport* entry points every such library exports.
// The record layouts are part of the binary interface and are checked at compile time.
#include <cstddef>

#include "plugin/CallbackRecords.h"
#include "plugin/Export.h"

class SpreadsheetFile;
class ImportSpecBase;

// One per registered format; owned by the registry for the life of the library.
struct QmImportFileFormatInfo {
    const char* name;        // unique format name, e.g. "CSV File"
    const char* filter;      // file-dialog filter for reading; the registry's key
    const char* saveFilter;  // file-dialog filter for writing, or null
    int extensionCount;      // number of entries in `extensions`
    const char* extensions;  // ".a\0.b\0" - each with its dot, each NUL-terminated
    signed char canWrite;
    signed char canRead;
    signed char multiFile;   // 0: one file; 1: several, each read by itself; 2: several in one read
    signed char tableFlag;   // 0: the host clears its table's flag before reading
    signed char formatFlag;  // passed through to the host's format description
    signed char priority;    // registration priority
};
static_assert(sizeof(QmImportFileFormatInfo) == 48);
static_assert(offsetof(QmImportFileFormatInfo, name) == 0);
static_assert(offsetof(QmImportFileFormatInfo, filter) == 8);
static_assert(offsetof(QmImportFileFormatInfo, saveFilter) == 16);
static_assert(offsetof(QmImportFileFormatInfo, extensionCount) == 24);
static_assert(offsetof(QmImportFileFormatInfo, extensions) == 32);
static_assert(offsetof(QmImportFileFormatInfo, canWrite) == 40);
static_assert(offsetof(QmImportFileFormatInfo, priority) == 45);

// Format-specific open options: an options document as bytes. `data` is allocated with
// new[] and owned by the record's owner; null when `size` is 0.
struct QmImportOpenOptions {
    int size;
    char* data;
};
static_assert(sizeof(QmImportOpenOptions) == 16);
static_assert(offsetof(QmImportOpenOptions, data) == 8);

// Entry-point signatures, for hosts that look them up by name.
extern "C" {
using QmImportInitPackageFn = void (*)();
using QmImportReleasePackageFn = void (*)();
using QmImportSizeFileFormatsSupportedFn = int (*)();
using QmImportGetFileFormatInfoFn = const QmImportFileFormatInfo* (*)(int);
using QmImportIsCorrectFileTypeFn = unsigned char (*)(int, const char*);
using QmImportOpenFn = bool (*)(int, const char*, bool, SpreadsheetFile**, QmImportOpenOptions*);
using QmImportCloseFn = void (*)(int, SpreadsheetFile*);
using QmImportGetLastErrorFn = const char* (*)(int, SpreadsheetFile*);
using QmImportEstablishSizeFn = bool (*)(int, SpreadsheetFile*, int*, int*);
using QmImportReadFn = bool (*)(int, SpreadsheetFile*, ReadCallbackRecord*);
using QmImportWriteFn = bool (*)(int, SpreadsheetFile*, WriteCallbackRecord*);
using QmImportGetWarningFn = const char* (*)(int, SpreadsheetFile*);
using QmImportGetFileOptionsFn = QmImportOpenOptions* (*)(int, const char*, bool);
using QmImportSetSpecFn = void (*)(SpreadsheetFile*, ImportSpecBase*);
using QmImportGetFileReadFn = const char* (*)(SpreadsheetFile*);
}

// `index` is the 1-based position of a format in the registry; 1 or less selects the first.
// An index beyond the registry or a null handle is answered as a failure, never followed.
KELTO_C_API void QmImportInitPackage();
KELTO_C_API void QmImportReleasePackage();
KELTO_C_API int QmImportSizeFileFormatsSupported();
KELTO_C_API const QmImportFileFormatInfo* QmImportGetFileFormatInfo(int index);
KELTO_C_API unsigned char QmImportIsCorrectFileType(int index, const char* path);
KELTO_C_API bool QmImportOpen(int index, const char* path, bool read, SpreadsheetFile** handle,
                              QmImportOpenOptions* options);
KELTO_C_API void QmImportClose(int index, SpreadsheetFile* handle);
// The text lives in a buffer of the calling thread, valid until that thread's next call.
KELTO_C_API const char* QmImportGetLastError(int index, SpreadsheetFile* handle);
KELTO_C_API bool QmImportEstablishSize(int index, SpreadsheetFile* handle, int* rows, int* cols);
KELTO_C_API bool QmImportRead(int index, SpreadsheetFile* handle, ReadCallbackRecord* callbacks);
KELTO_C_API bool QmImportWrite(int index, SpreadsheetFile* handle, WriteCallbackRecord* callbacks);
KELTO_C_API const char* QmImportGetWarning(int index, SpreadsheetFile* handle);
KELTO_C_API QmImportOpenOptions* QmImportGetFileOptions(int index, const char* path, bool flag);
KELTO_C_API void QmImportSetSpec(SpreadsheetFile* handle, ImportSpecBase* spec);
KELTO_C_API const char* QmImportGetFileRead(SpreadsheetFile* handle);
