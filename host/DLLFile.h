#pragma once
// A format served by a plug-in library, seen through the SpreadsheetFile interface: every
// operation is forwarded to the library's QmImport* entry points. Any of them may be missing;
// a missing one is reported as an error, never called.
#include <memory>

#include "plugin/CancelChannel.h"
#include "plugin/HostCallbacks.h"
#include "plugin/QmImport.h"
#include "plugin/SpreadsheetFile.h"

// The entry points a DLLFile uses, as looked up in the serving library (each may be null).
struct KELTO_API DLLEntryPoints {
    QmImportOpenFn open = nullptr;
    QmImportCloseFn close = nullptr;
    QmImportGetLastErrorFn getLastError = nullptr;
    QmImportEstablishSizeFn establishSize = nullptr;
    QmImportReadFn read = nullptr;
    QmImportWriteFn write = nullptr;
    QmImportGetWarningFn getWarning = nullptr;
    QmImportSetSpecFn setSpec = nullptr;
    QmImportGetFileReadFn getFileRead = nullptr;
    QmImportGetFileOptionsFn getFileOptions = nullptr;
    // Whether a failed call on this thread was a cancellation (libraries built from this
    // plug-in core have it; for others it stays null and a cancel reads as a failure).
    kelto::plugin::TakeCancelledFn takeCancelled = nullptr;
    // The error code of a library's file object (libraries of this plug-in core; else null).
    kelto::plugin::FileStatusFn fileStatus = nullptr;

    // This library's own entry points.
    static DLLEntryPoints Own();
    // The entry points `module` itself exports, looked up by name (null where missing).
    static DLLEntryPoints LookUp(void* module);
};

class KELTO_API DLLFile : public SpreadsheetFile {
public:
    enum Error {
        kMissingFunction = 2048,  // an entry point is missing
        kLibraryFailed = 2049,    // the library reported failure
        kNotOpen = 2050,          // no file is open
    };

    DLLFile(const DLLEntryPoints& entryPoints, int formatNumber, bool canWrite);
    ~DLLFile() override;
    DLLFile(const DLLFile&) = delete;
    DLLFile& operator=(const DLLFile&) = delete;

    void Close() override;
    // Copies at most `length` characters and always ends the text with a NUL at or before
    // position `length`: the buffer holds length + 1 bytes.
    void GetErrorMessage(char* buffer, unsigned int length) override;
    const char* GetWarningMessage() override;
    QmImportOpenOptions* GetFileReadOptions(const char* path, bool flag) override;
    int Open(bool read, const char* path, QmImportOpenOptions* options) override;
    // An exception the target table raised during the read (a cancelled read, say) is
    // rethrown here, after the library has returned. A cancellation inside the library's
    // open, read, write or options call is raised here as CancelException.
    int Read(ReadSpreadSheetData* target) override;
    const char* GetReadFile() const override;
    // After the library failed: the code its file object keeps, where the library tells it
    // and it is not 0; otherwise this object's own code.
    int GetStatus() const override;
    int Write(const WriteSpreadSheetData* source) override;
    void SetImportSpec(ImportSpecBase* spec) override;

    int GetFormatNumber() const { return formatNumber_; }

protected:
    int EstablishSize() override;

private:
    // After a failed call: raises CancelException when the library says it was cancelled.
    void ThrowIfCancelled() const;

    DLLEntryPoints entry_;
    bool canWrite_;
    int formatNumber_;
    SpreadsheetFile* handle_ = nullptr;
    std::unique_ptr<HostReadCallbacks> readRecord_;
    std::unique_ptr<HostWriteCallbacks> writeRecord_;
};
