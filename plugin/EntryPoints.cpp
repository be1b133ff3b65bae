// The fifteen exported entry points. Each is a thin shell over the registry or over a
// virtual operation of an open file object. No exception leaves them: a format is expected
// to catch its own, and anything that still escapes is recorded on the object as a failure.
// A cancellation is not a failure: it is noted for the calling thread, the entry point
// returns its failure value, and the host asks TakeCancelled() to raise it on its side.
#include <exception>

#include "outside/utl/Exception.h"
#include "plugin/Adapters.h"
#include "plugin/CancelChannel.h"
#include "plugin/QmImport.h"
#include "plugin/SprFileFactory.h"
#include "plugin/SpreadsheetFile.h"

namespace {

// One buffer per thread: a host reading files on several threads at once gets each
// thread's own text, valid until that thread's next call.
thread_local char t_errorBuffer[256];
// Whether the last entry point called on this thread ended in a cancellation.
thread_local bool t_cancelled = false;

// Runs `body` for an entry point that can be cancelled: a CancelException becomes `failed`
// with the thread's mark set; any other exception goes to `onError`.
template <typename Result, typename Body, typename OnError>
Result Guarded(Result failed, Body body, OnError onError) {
    t_cancelled = false;
    try {
        return body();
    } catch (const CancelException&) {
        t_cancelled = true;
        return failed;
    } catch (...) {
        onError();
        return failed;
    }
}

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
    t_cancelled = false;
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
    return Guarded(
        false, [&] { return file->Open(read, path ? path : "", options) == 0; },
        [&] { SetSpreadsheetFileStatus(*file, kUncaughtException); });
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
    t_errorBuffer[0] = '\0';
    if (!handle) return t_errorBuffer;
    try {
        handle->GetErrorMessage(t_errorBuffer, sizeof t_errorBuffer - 1);
    } catch (...) {
        t_errorBuffer[0] = '\0';
    }
    t_errorBuffer[sizeof t_errorBuffer - 1] = '\0';
    return t_errorBuffer;
}

KELTO_C_API bool QmImportEstablishSize(int, SpreadsheetFile* handle, int* rows, int* cols) {
    int r = -1, c = -1;
    t_cancelled = false;
    if (handle) {
        const bool ok = Guarded(
            false,
            [&] {
                r = handle->GetNumRows();
                c = handle->GetNumCols();
                return true;
            },
            [&] { SetSpreadsheetFileStatus(*handle, kUncaughtException); });
        if (!ok) r = c = -1;
    }
    // Both counts are written, also when the size pass failed.
    if (rows) *rows = r;
    if (cols) *cols = c;
    return r >= 0 && c >= 0;
}

KELTO_C_API bool QmImportRead(int, SpreadsheetFile* handle, ReadCallbackRecord* callbacks) {
    t_cancelled = false;
    if (!handle || !callbacks) return false;
    DLLReadSpreadSheetData data(callbacks);
    return Guarded(
        false, [&] { return handle->Read(&data) == 0; },
        [&] { SetSpreadsheetFileStatus(*handle, kUncaughtException); });
}

KELTO_C_API bool QmImportWrite(int, SpreadsheetFile* handle, WriteCallbackRecord* callbacks) {
    t_cancelled = false;
    if (!handle || !callbacks) return false;
    DLLWriteSpreadSheetData data(callbacks);
    return Guarded(
        false, [&] { return handle->Write(&data) == 0; },
        [&] { SetSpreadsheetFileStatus(*handle, kUncaughtException); });
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
    t_cancelled = false;
    if (!path) return nullptr;
    SpreadsheetFile* file = nullptr;
    QmImportOpenOptions* options = Guarded(
        static_cast<QmImportOpenOptions*>(nullptr),
        [&] {
            file = SprFileFactory::GetSpreadsheetFile(index);
            return file ? file->GetFileReadOptions(path, flag) : nullptr;
        },
        [] {});
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

bool kelto::plugin::TakeCancelled() {
    const bool cancelled = t_cancelled;
    t_cancelled = false;
    return cancelled;
}

int kelto::plugin::FileStatus(const SpreadsheetFile* handle) {
    if (!handle) return 0;
    try {
        return handle->GetStatus();
    } catch (...) {
        return 0;
    }
}
