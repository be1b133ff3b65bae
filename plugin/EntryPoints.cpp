// The fifteen exported entry points. Each is a thin shell over the registry or over a
// virtual operation of an open file object. No exception leaves them: a format is expected
// to catch its own, and anything that still escapes is recorded on the object as a failure.
#include <exception>

#include "plugin/Adapters.h"
#include "plugin/QmImport.h"
#include "plugin/SprFileFactory.h"
#include "plugin/SpreadsheetFile.h"

namespace {

// One buffer for every handle, as the interface promises: valid until the next call.
char g_errorBuffer[256];

// The code recorded when an operation ended in an exception nobody caught: its message is
// the base's "No further information available.".
constexpr int kUncaughtException = -1;

}  // namespace

KELTO_C_API void QmImportInitPackage() {}

KELTO_C_API void QmImportReleasePackage() {}

KELTO_C_API int QmImportSizeFileFormatsSupported() { return SprFileFactory::SizeInfos(); }

KELTO_C_API const QmImportFileFormatInfo* QmImportGetFileFormatInfo(int index) {
    return SprFileFactory::GetInfo(index);
}

KELTO_C_API unsigned char QmImportIsCorrectFileType(int index, const char* path) {
    if (!path) return 0;
    try {
        switch (SprFileFactory::IsMyKindOfFile(index, path)) {
            case SprFileFactory::IsMyKind: return 2;
            case SprFileFactory::LikelyMyKind:
            case SprFileFactory::PossiblyMyKind: return 1;
            default: return 0;
        }
    } catch (...) {
        return 0;
    }
}

KELTO_C_API bool QmImportOpen(int index, const char* path, bool read, SpreadsheetFile** handle,
                              QmImportOpenOptions* options) {
    if (!handle) return false;
    SpreadsheetFile* file = nullptr;
    try {
        file = SprFileFactory::GetSpreadsheetFile(index);
    } catch (...) {
        file = nullptr;
    }
    // Stored at once: a failed open keeps the object so that its error can be fetched.
    *handle = file;
    if (!file) return false;
    try {
        return file->Open(read, path ? path : "", options) == 0;
    } catch (...) {
        SetSpreadsheetFileStatus(*file, kUncaughtException);
        return false;
    }
}

KELTO_C_API void QmImportClose(int, SpreadsheetFile* handle) {
    if (!handle) return;
    try {
        handle->Close();
    } catch (...) {
    }
    delete handle;
}

KELTO_C_API const char* QmImportGetLastError(int, SpreadsheetFile* handle) {
    g_errorBuffer[0] = '\0';
    if (!handle) return g_errorBuffer;
    try {
        handle->GetErrorMessage(g_errorBuffer, sizeof g_errorBuffer - 1);
    } catch (...) {
        g_errorBuffer[0] = '\0';
    }
    g_errorBuffer[sizeof g_errorBuffer - 1] = '\0';
    return g_errorBuffer;
}

KELTO_C_API bool QmImportEstablishSize(int, SpreadsheetFile* handle, int* rows, int* cols) {
    int r = -1, c = -1;
    if (handle) {
        try {
            r = handle->GetNumRows();
            c = handle->GetNumCols();
        } catch (...) {
            SetSpreadsheetFileStatus(*handle, kUncaughtException);
            r = c = -1;
        }
    }
    // Both counts are written, also when the size pass failed.
    if (rows) *rows = r;
    if (cols) *cols = c;
    return r >= 0 && c >= 0;
}

KELTO_C_API bool QmImportRead(int, SpreadsheetFile* handle, ReadCallbackRecord* callbacks) {
    if (!handle || !callbacks) return false;
    DLLReadSpreadSheetData data(callbacks);
    try {
        return handle->Read(&data) == 0;
    } catch (...) {
        SetSpreadsheetFileStatus(*handle, kUncaughtException);
        return false;
    }
}

KELTO_C_API bool QmImportWrite(int, SpreadsheetFile* handle, WriteCallbackRecord* callbacks) {
    if (!handle || !callbacks) return false;
    DLLWriteSpreadSheetData data(callbacks);
    try {
        return handle->Write(&data) == 0;
    } catch (...) {
        SetSpreadsheetFileStatus(*handle, kUncaughtException);
        return false;
    }
}

KELTO_C_API const char* QmImportGetWarning(int, SpreadsheetFile* handle) {
    if (!handle) return nullptr;
    try {
        return handle->GetWarningMessage();
    } catch (...) {
        return nullptr;
    }
}

KELTO_C_API QmImportOpenOptions* QmImportGetFileOptions(int index, const char* path, bool flag) {
    if (!path) return nullptr;
    SpreadsheetFile* file = nullptr;
    QmImportOpenOptions* options = nullptr;
    try {
        file = SprFileFactory::GetSpreadsheetFile(index);
        if (file) options = file->GetFileReadOptions(path, flag);
    } catch (...) {
        options = nullptr;
    }
    delete file;
    return options;
}

KELTO_C_API void QmImportSetSpec(SpreadsheetFile* handle, ImportSpecBase* spec) {
    if (!handle) return;
    try {
        handle->SetImportSpec(spec);
    } catch (...) {
    }
}

KELTO_C_API const char* QmImportGetFileRead(SpreadsheetFile* handle) {
    if (!handle) return nullptr;
    try {
        return handle->GetReadFile();
    } catch (...) {
        return nullptr;
    }
}
