#include "host/DLLFile.h"

#include "outside/utl/Exception.h"
#include "platform/DynamicLibrary.h"
#include "platform/Translate.h"

DLLEntryPoints DLLEntryPoints::Own() {
    DLLEntryPoints e;
    e.open = &QmImportOpen;
    e.close = &QmImportClose;
    e.getLastError = &QmImportGetLastError;
    e.establishSize = &QmImportEstablishSize;
    e.read = &QmImportRead;
    e.write = &QmImportWrite;
    e.getWarning = &QmImportGetWarning;
    e.setSpec = &QmImportSetSpec;
    e.getFileRead = &QmImportGetFileRead;
    e.getFileOptions = &QmImportGetFileOptions;
    e.takeCancelled = &kelto::plugin::TakeCancelled;
    e.fileStatus = &kelto::plugin::FileStatus;
    return e;
}

namespace {

template <typename F>
F Find(void* module, const char* name) {
    return reinterpret_cast<F>(kelto::platform::FindSymbol(module, name));
}

}  // namespace

DLLEntryPoints DLLEntryPoints::LookUp(void* module) {
    DLLEntryPoints e;
    if (!module) return e;
    e.open = Find<QmImportOpenFn>(module, "QmImportOpen");
    e.close = Find<QmImportCloseFn>(module, "QmImportClose");
    e.getLastError = Find<QmImportGetLastErrorFn>(module, "QmImportGetLastError");
    e.establishSize = Find<QmImportEstablishSizeFn>(module, "QmImportEstablishSize");
    e.read = Find<QmImportReadFn>(module, "QmImportRead");
    e.write = Find<QmImportWriteFn>(module, "QmImportWrite");
    e.getWarning = Find<QmImportGetWarningFn>(module, "QmImportGetWarning");
    e.setSpec = Find<QmImportSetSpecFn>(module, "QmImportSetSpec");
    e.getFileRead = Find<QmImportGetFileReadFn>(module, "QmImportGetFileRead");
    e.getFileOptions = Find<QmImportGetFileOptionsFn>(module, "QmImportGetFileOptions");
    e.takeCancelled = Find<kelto::plugin::TakeCancelledFn>(module, kelto::plugin::kTakeCancelledSymbol);
    e.fileStatus = Find<kelto::plugin::FileStatusFn>(module, kelto::plugin::kFileStatusSymbol);
    return e;
}

DLLFile::DLLFile(const DLLEntryPoints& entryPoints, int formatNumber, bool canWrite)
    : entry_(entryPoints), canWrite_(canWrite), formatNumber_(formatNumber) {}

DLLFile::~DLLFile() { DLLFile::Close(); }

void DLLFile::Close() {
    if (!handle_) return;
    if (entry_.close) entry_.close(formatNumber_, handle_);
    handle_ = nullptr;
    status = kNoError;
    readRecord_.reset();
    writeRecord_.reset();
}

void DLLFile::GetErrorMessage(char* buffer, unsigned int length) {
    if (!buffer) return;
    if (status == kLibraryFailed) {
        if (!entry_.getLastError) {
            status = kMissingFunction;
        } else if (handle_) {
            CopyMessage(entry_.getLastError(formatNumber_, handle_), buffer, length + 1);
            return;
        }
        // A library that failed without handing out an object has no text to give: the
        // base's "No further information available." stands.
    }
    switch (status) {
        case kMissingFunction:
            CopyMessage(kelto::Translate("The import dll is missing a function.").c_str(), buffer, length + 1);
            return;
        case kNotOpen:
            CopyMessage(kelto::Translate("The file was not opened properly.").c_str(), buffer, length + 1);
            return;
        default:
            SpreadsheetFile::GetErrorMessage(buffer, length + 1);
    }
}

int DLLFile::GetStatus() const {
    // "The library failed" says nothing a host can act on; the library's object knows why.
    if (status == kLibraryFailed && handle_ && entry_.fileStatus)
        if (const int code = entry_.fileStatus(handle_); code != kNoError) return code;
    return status;
}

const char* DLLFile::GetWarningMessage() {
    if (!handle_ || !entry_.getWarning) return nullptr;
    return entry_.getWarning(formatNumber_, handle_);
}

QmImportOpenOptions* DLLFile::GetFileReadOptions(const char* path, bool flag) {
    if (!entry_.getFileOptions) {
        Fail(kMissingFunction);
        return nullptr;
    }
    QmImportOpenOptions* options = entry_.getFileOptions(formatNumber_, path, flag);
    if (!options) ThrowIfCancelled();
    return options;
}

void DLLFile::ThrowIfCancelled() const {
    if (entry_.takeCancelled && entry_.takeCancelled()) throw CancelException();
}

int DLLFile::Open(bool read, const char* path, QmImportOpenOptions* options) {
    if (!read && !canWrite_) return Fail(kWrongDirection);
    if (!entry_.open) return Fail(kMissingFunction);
    // A library that is asked to open twice would leak its first object: release it first.
    if (handle_) Close();
    if (!entry_.open(formatNumber_, path ? path : "", read, &handle_, options)) {
        ThrowIfCancelled();  // the object stays in handle_ and is closed with this one
        return Fail(kLibraryFailed);
    }
    return status;
}

int DLLFile::Read(ReadSpreadSheetData* target) {
    if (status != kNoError) return status;
    if (!handle_ || !target) return Fail(kNotOpen);
    if (!entry_.read) return Fail(kMissingFunction);
    readRecord_ = std::make_unique<HostReadCallbacks>(*target);
    bool ok = entry_.read(formatNumber_, handle_, readRecord_->Record());
    readRecord_->RethrowIfFailed();
    if (!ok) {
        ThrowIfCancelled();
        return Fail(kLibraryFailed);
    }
    return kNoError;
}

const char* DLLFile::GetReadFile() const {
    if (!handle_ || !entry_.getFileRead) return nullptr;
    return entry_.getFileRead(handle_);
}

int DLLFile::Write(const WriteSpreadSheetData* source) {
    if (status != kNoError) return status;
    if (!handle_ || !source) return Fail(kNotOpen);
    if (!canWrite_) return Fail(kWrongDirection);
    if (!entry_.write) return Fail(kMissingFunction);
    writeRecord_ = std::make_unique<HostWriteCallbacks>(*source);
    bool ok = entry_.write(formatNumber_, handle_, writeRecord_->Record());
    writeRecord_->RethrowIfFailed();
    if (!ok) {
        ThrowIfCancelled();
        return Fail(kLibraryFailed);
    }
    return kNoError;
}

void DLLFile::SetImportSpec(ImportSpecBase* spec) {
    // Without an open handle there is nothing in the library to hand the host's import settings to.
    if (entry_.setSpec && handle_)
        entry_.setSpec(handle_, spec);
    else
        SpreadsheetFile::SetImportSpec(spec);
}

int DLLFile::EstablishSize() {
    if (!handle_) return Fail(kNotOpen);
    if (!entry_.establishSize) return Fail(kMissingFunction);
    int rows = -1, cols = -1;
    if (!entry_.establishSize(formatNumber_, handle_, &rows, &cols)) {
        ThrowIfCancelled();
        return Fail(kLibraryFailed);
    }
    numRows = rows;
    numCols = cols;
    sizeKnown = true;
    return kNoError;
}
