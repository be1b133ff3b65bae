#pragma once
// The host's entry to importing and exporting. Given file paths and a format choice it checks
// the paths, picks (or detects) the format, reads the files into a SpreadsheetData through a
// plug-in library or a Python plug-in, keeps the last error message and the name of what was
// read, writes tables through a writable format, and describes the readable formats for file
// dialogs.
//
// A host derives from it to show messages and progress and to order multi-file selections;
// the base class only writes to the log.
//
// Three numberings of formats meet here:
//  - the list index of the loader (1..SizeInfos());
//  - the read ordinal: position among the readable entries of the format table, the leading
//    "All files (*.*)" entry included, so 1 means "detect the format" and k >= 2 is the
//    (k-1)-th readable format (GetFileData, GetSupportedFormat, CheckFilesBeforeRead);
//  - the write ordinal: position among the writable formats, from 1 (WriteSpreadsheetFile,
//    ImportDLLLoader::GetFormatIndex(name, true, false)).
#include <string>
#include <vector>

#include "host/ImportDLLLoader.h"
#include "plugin/Export.h"
#include "plugin/QmImport.h"

class ImportSpecBase;
class SpreadsheetData;

class KELTO_API ImportHelperBase {
public:
    // Kinds of message for PutMsg1; a reader's warning goes out as Warning.
    enum MessageType : int { Information = 1, Question = 2, Warning = 3, Error = 4 };

    // Why CheckFilesBeforeRead refused.
    enum ReadErrors : int {
        NoReadError = 0,
        FileDoesNotExist = 1,    // or no file was given
        DirectoryGiven = 2,
        SingleFileFormat = 3,    // several files for a format that reads one
        FormatNotDetected = 4,
        FormatNotUsable = 5,
    };

    // One readable format as file dialogs show it.
    struct KELTO_API ImportFormats {
        std::string filter;    // the read filter text
        std::string patterns;  // "*.trn;*.pkg"
        int ordinal = 0;       // read ordinal
    };

    // Field widths of the format table.
    static constexpr std::size_t kReadFilterSize = 70;
    static constexpr std::size_t kWriteFilterSize = 120;
    static constexpr std::size_t kExtensionSlots = 10;
    static constexpr std::size_t kExtensionSize = 256;

    // One entry of the format table: fixed-width texts, each NUL-terminated (texts that do not
    // fit are cut). Entry 0 is "All files (*.*)"; entry i describes list index i.
    struct KELTO_API FormatTableEntry {
        char readFilter[kReadFilterSize];
        char writeFilter[kWriteFilterSize];  // only for a writable format
        char extensions[kExtensionSlots][kExtensionSize];  // the slot after the last starts with NUL
        unsigned char canWrite;
        unsigned char canRead;
        int multiFileSupport;
        unsigned char formatFlag;
    };

    // Takes ownership of `loader` (null: a new ImportDLLLoader), initialises it with the extra
    // plug-in directory `directory` (may be null) and builds the format table once.
    ImportHelperBase(ImportDLLLoader* loader, const char* directory);
    virtual ~ImportHelperBase();
    ImportHelperBase(const ImportHelperBase&) = delete;
    ImportHelperBase& operator=(const ImportHelperBase&) = delete;

    // A message to the user; the answer 2 means cancel. The base logs it and answers
    // `defaultAnswer`.
    virtual int PutMsg1(const char* text, const char* caption, MessageType type, int defaultAnswer);
    // A detail message ("first: second" in the log).
    virtual void PutMsg2(const char* first, const char* second, const char* third);

    // Checks the paths and turns `format` (a read ordinal, 1: detect) into a list index.
    // False with `error` and the last error message set when the read cannot go ahead.
    bool CheckFilesBeforeRead(const std::vector<std::string>& files, int& format, ReadErrors& error,
                              bool showMessage);
    // Reads `files` into `target`. `format` is a read ordinal, or a list index when
    // `skipChecks` is true (and it is 1 or more). `options` (may be null) go to the reader; a
    // record given empty (size 0, no bytes) comes back holding the reader's options, in a
    // buffer the caller owns (array delete), or empty again when the read fails. `spec` (may
    // be null) goes to the reader. A cancellation (CancelException) ends the read with false
    // and leaves the last error message as it was.
    bool ReadSpreadsheetFile(const std::vector<std::string>& files, int format, SpreadsheetData* target,
                             QmImportOpenOptions* options, bool skipChecks, ImportSpecBase* spec);
    // The format's default options for the files (list index, not checked), owned by the
    // caller together with their bytes (ImportOptionsHelper::OpenOptions::Adopt takes both);
    // null when the format has none. A cancellation is passed on.
    QmImportOpenOptions* GetFileOptions(const std::vector<std::string>& files, int index, bool flag);
    // Writes `source` to `path` through the writeOrdinal-th writable format, or (ordinal 0 or
    // less) through the format detected for `path` when it can write.
    bool WriteSpreadsheetFile(const char* path, int writeOrdinal, const SpreadsheetData* source,
                              QmImportOpenOptions* options);

    int GetFormatIndex(const std::string& fileName, bool forWrite, bool forRead);
    const ImportDLLLoader::PythonPlugin* GetPythonPlugin(int index);

    // The readable table entries, "All files (*.*)" first, with their read ordinals.
    void GetFileData(std::vector<ImportFormats>& out) const;
    // The read ordinal of the format whose filter text, or one of whose patterns, equals
    // `text` exactly; -1 when none does.
    int GetSupportedFormat(const std::string& text) const;
    // For a list index in 1..count: the format's name, or null; its multi-file support, or 0.
    const char* GetFormatName(int index) const;
    signed char GetMultiFileSupport(int index) const;

    // The read ordinal of a format given by its name (exactly, else with case ignored), its
    // read filter text or one of its patterns ("*.csv"); -1 when nothing matches, -2 when
    // the named format cannot be read.
    int GetReadOrdinal(const std::string& format) const;

    std::string GetErrorMessage() const { return errorMessage_; }
    // The error code of the file object whose message is the last error message (a reader's
    // own code, "CSV 768", say); 0 when the message is the helper's own or there is none.
    int GetErrorCode() const { return errorCode_; }
    // Whether the last ReadSpreadsheetFile ended in a cancellation.
    bool WasCancelled() const { return cancelled_; }
    const char* GetFilenameRead() const { return filenameRead_.c_str(); }

protected:
    // Called before several files of a multi-file format are read; may reorder the
    // selection or refuse (false, with `error` set). The base accepts.
    virtual bool SortFiles(const char* firstFile, ReadErrors& error);
    // Around the read; the base does nothing. StopProgressBar also follows a read that ends
    // in an exception.
    virtual void ShowProgressBarWhileReading(SpreadsheetData* target, int columns, int rows);
    virtual void StopProgressBar(SpreadsheetData* target);
    // The name a Python plug-in's read is known by when the host passes its ImportSpecBase:
    // only the host knows its own class and where the name lives. Empty (the base) means the
    // first file's title.
    virtual std::string GetSpecName(const ImportSpecBase* spec);

    // `to` gets the size and a new copy of the bytes of `from` (no buffer for size 0). What
    // `to` held before is not freed.
    void CopyOpenOptions(QmImportOpenOptions* to, const QmImportOpenOptions* from) const;

    void SetErrorMessage(const std::string& message) {
        errorMessage_ = message;
        errorCode_ = 0;
    }
    ImportDLLLoader& GetLoader() { return *loader_; }
    // The table built at construction: GetNumberOfFormats() + 1 entries.
    const FormatTableEntry* GetFormatTable() const { return table_.data(); }
    int GetNumberOfFormats() const { return count_; }

    // The argument that names `files` to a reader: the path of a single file, or the
    // directory of the first file, a NUL, and each file's name followed by a NUL (a file in
    // another directory by its full path). The string's own terminator is the final NUL.
    static std::string MakeFileNameArgument(const std::vector<std::string>& files);

private:
    void Init();
    // The list index of the writeOrdinal-th writable table entry, or -1.
    int WritableIndex(int writeOrdinal) const;
    // The file's error message, as the last error.
    void TakeErrorFrom(SpreadsheetFile& file);
    const FormatTableEntry* Entry(int index) const;

    std::vector<FormatTableEntry> table_;
    int count_ = 0;
    ImportDLLLoader* loader_;
    std::string errorMessage_;
    int errorCode_ = 0;
    bool cancelled_ = false;
    std::string filenameRead_;
};
