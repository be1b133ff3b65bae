#pragma once
// Abstract base of every file format (and of the host's DLLFile): one object is one file
// opened for reading or for writing. It keeps the table size and one integer error code;
// the code becomes text only when GetErrorMessage is asked.
#include "plugin/Export.h"
#include "plugin/QmImport.h"
#include "plugin/SpreadSheetData.h"

class ImportSpecBase;

class KELTO_API SpreadsheetFile {
public:
    // Common error codes; formats number their own above 255 and pass unknown ones here.
    enum CommonError {
        kNoError = 0,
        kNotImplemented = 1,
        kSizeError = 2,
        kWrongDirection = 3,
        kSilentError = 4,
        kBadOptions = 5,
    };

    SpreadsheetFile() = default;
    SpreadsheetFile(const SpreadsheetFile&) = default;
    SpreadsheetFile& operator=(const SpreadsheetFile&) = default;

    virtual ~SpreadsheetFile();
    // Releases the file; the base resets the error code. Subclasses call the base last.
    virtual void Close();
    // Run the size pass on first use; -1 when it fails (it is retried on the next call).
    virtual int GetNumCols();
    virtual int GetNumRows();
    virtual int operator!() const;
    // Writes the message for the current code into `buffer`, at most `size` bytes with the
    // terminating NUL (so `size` 1 writes only the NUL). Formats handle their own codes and
    // call this for the rest.
    virtual void GetErrorMessage(char* buffer, unsigned int size) = 0;
    virtual const char* GetWarningMessage();
    // A new record with the format's default options for `path`, owned by the caller; null
    // when the format has no options. Called on a fresh, unopened object.
    virtual QmImportOpenOptions* GetFileReadOptions(const char* path, bool flag);
    virtual int Open(bool read, const char* path, QmImportOpenOptions* options) = 0;
    virtual int Read(ReadSpreadSheetData* data) = 0;
    // The path actually read, where a format reads a file other than the one named.
    virtual const char* GetReadFile() const;
    virtual int Write(const WriteSpreadSheetData* data);
    virtual int GetStatus() const;
    virtual void SetImportSpec(ImportSpecBase* spec);

protected:
    // Works out numCols and numRows, sets sizeKnown and returns 0, or returns an error code.
    virtual int EstablishSize() = 0;

    // Stores `code` as the object's error code and returns it, for `return Fail(code);`.
    int Fail(int code) {
        status = code;
        return code;
    }

    int numCols = -1;
    int numRows = -1;
    bool sizeKnown = false;
    int status = 0;

private:
    friend void SetSpreadsheetFileStatus(SpreadsheetFile&, int);
};

// Used by the entry points to record a failure they caught on the object's behalf.
void SetSpreadsheetFileStatus(SpreadsheetFile& file, int code);

// Copies `text` into `buffer` of `size` bytes, cut so that the terminating NUL fits; nothing
// is written when `size` is 0. The rule every GetErrorMessage follows.
KELTO_API void CopyMessage(const char* text, char* buffer, unsigned int size);
