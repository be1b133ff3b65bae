#include "host/ImportHelperBase.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <strings.h>

#include "data/SpreadsheetData.h"
#include "host/RecordText.h"
#include "outside/utl/Exception.h"
#include "outside/utl/Log.h"
#include "outside/utl/QmFile.h"
#include "platform/Translate.h"
#include "plugin/TableBound.h"
#include "plugin/SpreadsheetFile.h"

namespace fs = std::filesystem;
using kelto::host::CopyField;

namespace {

// A reader's error message is fetched into a buffer of this many characters.
constexpr unsigned kMessageLength = 1024;

constexpr const char* kLogSource = "ImportHelper";
constexpr int kLogImportance = 3;
constexpr int kCancelAnswer = 2;

}  // namespace

ImportHelperBase::ImportHelperBase(ImportDLLLoader* loader, const char* directory)
    : loader_(loader ? loader : new ImportDLLLoader) {
    loader_->Init(directory);
    Init();
}

ImportHelperBase::~ImportHelperBase() { delete loader_; }

void ImportHelperBase::Init() {
    count_ = std::max(loader_->SizeInfos(), 0);
    table_.assign(static_cast<std::size_t>(count_) + 1, FormatTableEntry{});

    FormatTableEntry& all = table_[0];
    CopyField(all.readFilter, kReadFilterSize, kelto::Translate("All files (*.*)").c_str());
    CopyField(all.extensions[0], kExtensionSize, ".*");
    all.canWrite = 1;
    all.canRead = 1;
    all.multiFileSupport = 1;
    all.formatFlag = 1;

    for (int i = 1; i <= count_; ++i) {
        const QmImportFileFormatInfo* info = loader_->GetInfo(i);
        if (!info) continue;
        FormatTableEntry& e = table_[static_cast<std::size_t>(i)];
        e.canWrite = info->canWrite != 0;
        e.canRead = info->canRead != 0;
        e.multiFileSupport = info->multiFile;
        e.formatFlag = info->formatFlag != 0;
        if (e.canWrite) CopyField(e.writeFilter, kWriteFilterSize, info->saveFilter);
        CopyField(e.readFilter, kReadFilterSize, info->filter);
        // A record with more extensions than slots keeps its first ones; the slot after the
        // last used one stays empty (the table was zeroed).
        std::size_t slot = 0;
        kelto::host::ForEachExtension(
            *info, [&](const char* extension) { CopyField(e.extensions[slot++], kExtensionSize, extension); },
            kExtensionSlots);
    }
}

const ImportHelperBase::FormatTableEntry* ImportHelperBase::Entry(int index) const {
    if (index < 1 || index > count_) return nullptr;
    return &table_[static_cast<std::size_t>(index)];
}

// ---------------------------------------------------------------------------------------
// Messages and hooks

int ImportHelperBase::PutMsg1(const char* text, const char*, MessageType, int defaultAnswer) {
    Log::WriteMessage(kLogSource, "PutMsgMB", text ? text : "", kLogImportance, false);
    return defaultAnswer;
}

void ImportHelperBase::PutMsg2(const char* first, const char* second, const char*) {
    Log::WriteMessage(kLogSource, "PutMsgDD",
                      kelto::TranslateFormat("%1%: %2%", first ? first : "", second ? second : ""),
                      kLogImportance, false);
}

bool ImportHelperBase::SortFiles(const char*, ReadErrors&) { return true; }

void ImportHelperBase::ShowProgressBarWhileReading(SpreadsheetData*, int, int) {}

void ImportHelperBase::StopProgressBar(SpreadsheetData*) {}

std::string ImportHelperBase::GetSpecName(const ImportSpecBase*) { return std::string(); }

void ImportHelperBase::TakeErrorFrom(SpreadsheetFile& file) {
    // One byte more than the length: a DLLFile writes up to `length` characters and the NUL.
    char buffer[kMessageLength + 1] = "";
    file.GetErrorMessage(buffer, kMessageLength);
    buffer[kMessageLength] = '\0';
    errorMessage_ = buffer;
    errorCode_ = file.GetStatus();
}

void ImportHelperBase::CopyOpenOptions(QmImportOpenOptions* to, const QmImportOpenOptions* from) const {
    if (!to) return;
    to->size = 0;
    to->data = nullptr;
    if (!from || !from->data || from->size < 1) return;
    to->data = new char[static_cast<std::size_t>(from->size)];
    std::memcpy(to->data, from->data, static_cast<std::size_t>(from->size));
    to->size = from->size;
}

// ---------------------------------------------------------------------------------------
// Formats for the host's dialogs

void ImportHelperBase::GetFileData(std::vector<ImportFormats>& out) const {
    int ordinal = 0;
    for (const FormatTableEntry& e : table_) {
        if (!e.canRead) continue;
        ImportFormats format;
        format.filter = e.readFilter;
        for (std::size_t slot = 0; slot < kExtensionSlots && e.extensions[slot][0]; ++slot) {
            if (!format.patterns.empty()) format.patterns += ';';
            format.patterns += '*';
            format.patterns += e.extensions[slot];
        }
        format.ordinal = ++ordinal;
        out.push_back(std::move(format));
    }
}

int ImportHelperBase::GetSupportedFormat(const std::string& text) const {
    std::vector<ImportFormats> formats;
    GetFileData(formats);
    for (const ImportFormats& f : formats) {
        if (f.filter == text) return f.ordinal;
        std::size_t at = 0;
        while (true) {
            std::size_t end = f.patterns.find(';', at);
            if (f.patterns.compare(at, end == std::string::npos ? std::string::npos : end - at, text) == 0)
                return f.ordinal;
            if (end == std::string::npos) break;
            at = end + 1;
        }
    }
    return -1;
}

const char* ImportHelperBase::GetFormatName(int index) const {
    if (!Entry(index)) return nullptr;
    const QmImportFileFormatInfo* info = loader_->GetInfo(index);
    return info ? info->name : nullptr;
}

signed char ImportHelperBase::GetMultiFileSupport(int index) const {
    const FormatTableEntry* e = Entry(index);
    return e ? static_cast<signed char>(e->multiFileSupport) : 0;
}

int ImportHelperBase::GetReadOrdinal(const std::string& format) const {
    int index = -1;
    for (int i = 1; i <= count_ && index < 0; ++i)
        if (const char* n = GetFormatName(i); n && format == n) index = i;
    for (int i = 1; i <= count_ && index < 0; ++i)
        if (const char* n = GetFormatName(i); n && strcasecmp(format.c_str(), n) == 0) index = i;
    if (index < 0) return GetSupportedFormat(format);
    if (!table_[static_cast<std::size_t>(index)].canRead) return -2;
    int ordinal = 1;  // "All files" comes first
    for (int i = 1; i <= index; ++i)
        if (table_[static_cast<std::size_t>(i)].canRead) ++ordinal;
    return ordinal;
}

int ImportHelperBase::GetFormatIndex(const std::string& fileName, bool forWrite, bool forRead) {
    return loader_->GetFormatIndex(fileName, forWrite, forRead);
}

const ImportDLLLoader::PythonPlugin* ImportHelperBase::GetPythonPlugin(int index) {
    return loader_->GetPythonPlugin(index);
}

// ---------------------------------------------------------------------------------------
// Reading

bool ImportHelperBase::CheckFilesBeforeRead(const std::vector<std::string>& files, int& format, ReadErrors& error,
                                            bool showMessage) {
    error = NoReadError;
    errorCode_ = 0;
    auto fail = [&](ReadErrors code, const std::string& message) {
        error = code;
        errorMessage_ = message;
        return false;
    };
    if (files.empty()) return fail(FileDoesNotExist, kelto::Translate("The file does not exist."));

    for (const std::string& file : files) {
        std::error_code ec;
        fs::file_status status = fs::status(fs::path(file), ec);
        if (ec || !fs::exists(status))
            return fail(FileDoesNotExist, kelto::TranslateFormat("The file does not exist: %1%", file));
        if (fs::is_directory(status)) return fail(DirectoryGiven, kelto::Translate("Directories can not be imported."));
        std::ifstream in(file);
        if (!in) return fail(NoReadError, kelto::Translate("The file could not be opened."));
    }

    bool detect = format == 1;
    if (!detect) {
        // Read ordinal k >= 2 is the (k-1)-th readable format; anything below 1 the first.
        int remaining = format;
        int chosen = -1;
        for (int i = 1; i <= count_ && chosen < 0; ++i) {
            if (!table_[static_cast<std::size_t>(i)].canRead) continue;
            if (--remaining < 2) chosen = i;
        }
        if (chosen < 0)
            detect = true;
        else
            format = chosen;
    }
    if (detect) {
        format = loader_->GetSpreadsheetFileIndex(files.front().c_str());
        if (format == -1)
            return fail(FormatNotDetected, kelto::TranslateFormat("The file type could not be determined (%1%).", files.front()));
    }

    // An unusable index is reported as such rather than as a single-file format.
    if (files.size() > 1 && format >= 1) {
        const FormatTableEntry* e = Entry(format);
        const QmImportFileFormatInfo* info = e ? nullptr : loader_->GetInfo(format);
        int multiFile = e ? e->multiFileSupport : info ? info->multiFile : 0;
        if (multiFile != 0) {
            if (!SortFiles(files.front().c_str(), error)) return false;
        } else {
            error = SingleFileFormat;
            if (showMessage) {
                const char* filter = e ? e->readFilter : info ? info->filter : "";
                errorMessage_ = kelto::TranslateFormat("%1% can only be imported one at a time.\n\n Import will be aborted.",
                                                       filter ? filter : "");
            }
            return false;
        }
    }
    if (format < 1)
        return fail(FormatNotUsable, kelto::Translate("The file type is either not supported or could not be deduced "
                                                      "from the file's extension or contents."));
    return true;
}

std::string ImportHelperBase::MakeFileNameArgument(const std::vector<std::string>& files) {
    if (files.size() == 1) return files.front();
    std::string argument;
    if (files.empty()) return argument;
    auto parentOf = [](const fs::path& p) {
        std::string parent = p.parent_path().string();
        return parent.empty() ? std::string(".") : parent;
    };
    const std::string directory = parentOf(fs::path(files.front()));
    argument = directory;
    argument.push_back('\0');
    for (const std::string& file : files) {
        fs::path p(file);
        // A reader joins each name to the directory; a file elsewhere must keep its own path.
        if (parentOf(p) == directory) {
            argument += p.filename().string();
        } else {
            std::error_code ec;
            fs::path absolute = fs::absolute(p, ec);
            argument += ec ? file : absolute.string();
        }
        argument.push_back('\0');
    }
    return argument;
}

bool ImportHelperBase::ReadSpreadsheetFile(const std::vector<std::string>& files, int format, SpreadsheetData* target,
                                           QmImportOpenOptions* options, bool skipChecks, ImportSpecBase* spec) {
    errorCode_ = 0;
    cancelled_ = false;
    if (files.empty()) {
        errorMessage_ = kelto::Translate("The file does not exist.");
        return false;
    }
    if (!target) {
        errorMessage_ = kelto::TranslateFormat("There is no table to read %1% into.", files.front());
        return false;
    }

    const bool givenEmpty = options && options->size == 0 && !options->data;
    // The reader owns what it put into an empty record and frees it when it is closed, so a
    // failed read leaves the record empty rather than pointing at freed bytes.
    auto failed = [&] {
        if (givenEmpty) {
            options->size = 0;
            options->data = nullptr;
        }
        return false;
    };

    std::unique_ptr<SpreadsheetFile> file;
    bool progressShown = false;
    auto stopProgress = [&] {
        if (!progressShown) return;
        progressShown = false;
        try {
            StopProgressBar(target);
        } catch (...) {
            // The read has failed already; a failing hook changes nothing about that.
        }
    };

    try {
        if (!(skipChecks && format >= 1)) {
            ReadErrors error = NoReadError;
            if (!CheckFilesBeforeRead(files, format, error, true)) return false;
        }

        if (const ImportDLLLoader::PythonPlugin* python = loader_->GetPythonPlugin(format)) {
            ImportDLLLoader::PythonPlugin::ReadFunction read = python->readFunction;
            if (!read || !read(files, target, spec)) return failed();
            std::string name = spec ? GetSpecName(spec) : std::string();
            filenameRead_ = !name.empty() ? name : QmGetFileTitle(files.front(), nullptr);
            return true;
        }

        file.reset(loader_->GetSpreadsheetFile(format));
        if (!file) {
            errorMessage_ = kelto::Translate(
                "The file type is either not supported or could not be deduced from the file's extension or contents.");
            return failed();
        }
        const std::string argument = MakeFileNameArgument(files);
        file->Open(true, argument.c_str(), options);
        if (spec) file->SetImportSpec(spec);
        if (file->GetStatus() != 0) {
            TakeErrorFrom(*file);
            return failed();
        }

        const QmImportFileFormatInfo* info = loader_->GetInfo(format);
        if (info && info->tableFlag == 0) target->tableFlag = false;

        const int rows = file->GetNumRows();
        const int columns = file->GetNumCols();
        if (rows == -1 || columns == -1) {
            TakeErrorFrom(*file);
            // A size pass that found no cell at all (an empty text file, say) fails without
            // a message of its own; the user is told what happened rather than nothing.
            if (!errorMessage_.empty()) return failed();
        }
        if (rows < 1 || columns < 1) {
            errorMessage_ = kelto::Translate("The selected file does not contain any data. Import will be aborted.");
            return failed();
        }

        // Checked before anything is allocated; a reader that sizes the table again during
        // the read meets the same bound in the table's size call.
        kelto::CheckTableSize(rows, columns);
        target->SetDataSize(columns, rows);
        progressShown = true;
        ShowProgressBarWhileReading(target, columns, rows);
        const int result = file->Read(target);
        progressShown = false;
        StopProgressBar(target);
        if (result != 0) {
            TakeErrorFrom(*file);
            return failed();
        }

        if (const char* warning = file->GetWarningMessage(); warning && *warning) {
            const std::string text = warning;
            if (PutMsg1(text.c_str(), kelto::Translate("Warning").c_str(), Warning, 1) == kCancelAnswer) {
                cancelled_ = true;
                return failed();
            }
        }

        if (givenEmpty) {
            if (options->data && options->size > 0) {
                QmImportOpenOptions filled = *options;
                CopyOpenOptions(options, &filled);
            } else {
                options->size = 0;
                options->data = nullptr;
            }
        }

        const char* readFile = file->GetReadFile();
        filenameRead_ = readFile && *readFile ? std::string(readFile) : QmGetFileTitle(files.front(), nullptr);
        file->Close();
        return true;
    } catch (const CancelException&) {
        stopProgress();
        cancelled_ = true;
        if (file) file->Close();
        return failed();
    } catch (const kelto::TableTooLarge& tooLarge) {
        stopProgress();
        errorMessage_ = tooLarge.MessageFor(files.front());
        errorCode_ = 0;
        if (file) file->Close();
        return failed();
    } catch (...) {
        stopProgress();
        errorMessage_ = kelto::Translate("Exception during file reading. Import will be aborted.");
        errorCode_ = 0;
        if (file) file->Close();
        return failed();
    }
}

QmImportOpenOptions* ImportHelperBase::GetFileOptions(const std::vector<std::string>& files, int index, bool flag) {
    errorCode_ = 0;
    if (files.empty()) {
        errorMessage_ = kelto::Translate("The file does not exist.");
        return nullptr;
    }
    std::unique_ptr<SpreadsheetFile> file(loader_->GetSpreadsheetFile(index));
    if (!file) return nullptr;
    try {
        return file->GetFileReadOptions(MakeFileNameArgument(files).c_str(), flag);
    } catch (const CancelException&) {
        throw;  // after `file` is gone
    } catch (...) {
        errorMessage_ = kelto::Translate("Exception during file reading. Import will be aborted.");
        return nullptr;
    }
}

// ---------------------------------------------------------------------------------------
// Writing

int ImportHelperBase::WritableIndex(int writeOrdinal) const {
    for (int i = 1; i <= count_; ++i)
        if (table_[static_cast<std::size_t>(i)].canWrite && --writeOrdinal == 0) return i;
    return -1;
}

bool ImportHelperBase::WriteSpreadsheetFile(const char* path, int writeOrdinal, const SpreadsheetData* source,
                                            QmImportOpenOptions* options) {
    errorCode_ = 0;
    int index = -1;
    if (writeOrdinal > 0) {
        index = WritableIndex(writeOrdinal);
    } else if (path) {
        int detected = loader_->GetSpreadsheetFileIndex(path);
        const QmImportFileFormatInfo* info = detected >= 1 ? loader_->GetInfo(detected) : nullptr;
        if (info && info->canWrite) index = detected;
    }

    std::unique_ptr<SpreadsheetFile> file;
    if (index >= 1 && path && source) {
        if (const ImportDLLLoader::PythonPlugin* python = loader_->GetPythonPlugin(index)) {
            ImportDLLLoader::PythonPlugin::WriteFunction write = python->writeFunction;
            if (write) return write(path, source);
        } else {
            file.reset(loader_->GetSpreadsheetFile(index));
        }
    }
    if (!file) {
        errorMessage_ = kelto::Translate(
            "Save not supported for the current file format\nor the file format could not be deduced.");
        return false;
    }
    if (file->Open(false, path, options) != 0) {
        TakeErrorFrom(*file);
        return false;
    }
    if (file->Write(source) != 0) {
        TakeErrorFrom(*file);
        return false;
    }
    file->Close();
    return true;
}
