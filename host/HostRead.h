#pragma once
// Reading files as a host does beyond the import helper: choosing the format (by name, by an
// extension the helper would misread, or by detection), making the options (a given
// document, the format's defaults, or the host's own guesses for formats that give none:
// CSV's delimiter and encoding, the Bruker record's text form), changing single keys of them,
// and stacking several files of a format whose readers open one path at a time. The command
// line and the scripting binding both read through here, so a file reads the same in both.
//
// Read is the whole of it; the steps it is made of are exported too, for a host that speaks
// between them (the command line warns about unknown keys before the read, and says what it
// guessed only once the read worked).
//
// Messages during the read reach the host through the helper's virtual PutMsg1 (a reader's
// warning comes as type Warning, after its read, and the answer 2 cancels) and PutMsg2; a
// host derives from ImportHelperBase to collect them. Nothing here keeps process-wide state:
// reads on several threads at once need one helper and one target per thread.
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "host/ImportHelperBase.h"
#include "host/ImportOptionsHelper.h"
#include "host/OptionsText.h"
#include "plugin/Export.h"

class SpreadsheetData;

namespace kelto::host {

struct ReadRequest {
    // One file, or several: read together by a format that reads several in one read, else
    // each by itself and the tables stacked in the order given.
    std::vector<std::string> paths;
    // A format name (or read filter text, or pattern such as "*.csv"); empty: the format the
    // first file's extension stands for (FormatForExtension), else detection.
    std::string format;
    // An options document (XML with a "Settings" section, the Bruker readers' text form for
    // them); none: the format's defaults, or the host's guesses where the format gives none.
    std::optional<std::string> optionsXml;
    // Single "Settings" keys written over the options, as the command line's --set writes
    // them: "Delimiter" percent-encoded ("\t" a tab), "Sheets" a ";"-separated list ("\;"
    // inside a name), others as given.
    std::vector<std::pair<std::string, std::string>> settings;
    // Called (if set) before each reader runs, with the files it reads: all of them, or the
    // one file of a stacked read.
    std::function<void(const std::vector<std::string>& files)> beforeEachRead;
};

// Why a read did not happen or did not work.
enum class ReadFailure {
    None,
    UnknownFormat,     // `format` names no format
    FormatNotReadable, // `format` names a format that only writes
    BadOptions,        // the options document or a setting is unusable (message says why)
    BinaryOptions,     // settings given for a format whose options are no text document
    Refused,           // the files cannot be read (missing, a directory, not detected, ...)
    Reader,            // the reader failed: message and code are its own
    Cancelled,         // the read was cancelled (CancelException, a PutMsg1 answer of 2)
};

struct KELTO_API ReadOutcome {
    bool ok = false;
    ReadFailure failure = ReadFailure::None;
    int code = 0;                          // the reader's status code (ImportHelperBase::GetErrorCode); 0 otherwise
    ImportHelperBase::ReadErrors refused = ImportHelperBase::NoReadError;  // why the helper refused the files
    std::string message;                   // the library's message
    std::string file;                      // the file the failure is about (a missing one by itself)
    std::vector<std::string> files;        // the files of the read that failed (all on success)
    std::string format;                    // the format name used
    int formatIndex = 0;                   // its list index in the helper
    std::string readName;                  // the helper's GetFilenameRead() after the (first) read
    std::vector<std::string> notes;        // what the host guessed ("guessed delimiter ';' and encoding utf8 from the file")
    std::vector<std::string> unknownKeys;  // settings the format's own options do not hold (passed on anyway)
};

// Reads `request` into `target`. Never throws for a file or a request it cannot read: the
// outcome says why. `target` holds what was read when ok (a failed read leaves it partly
// filled).
KELTO_API ReadOutcome Read(ImportHelperBase& helper, const ReadRequest& request, SpreadsheetData& target);

// The format's default "Settings" keys for the files, with their values as `settings` takes
// them back (decoded: "Delimiter" ";" rather than "%3B"): the format's own defaults, else
// the host's guesses. Empty for a format without options or with binary ones; on failure
// also empty, with `outcome` (when given) saying why.
KELTO_API std::vector<std::pair<std::string, std::string>> DefaultSettings(ImportHelperBase& helper,
                                                                           const std::vector<std::string>& paths,
                                                                           const std::string& format,
                                                                           ReadOutcome* outcome = nullptr);

// --- The steps of Read.

// The list index of the format for `paths` (format as in ReadRequest), checked by the helper
// (files exist, the format reads them, several only where it reads several); 0 when there
// is none, with the failure, message and file set in `outcome`. Sets outcome.format and
// outcome.formatIndex on success.
KELTO_API int ChooseFormat(ImportHelperBase& helper, const std::vector<std::string>& paths, const std::string& format,
                           ReadOutcome& outcome);

// The options of a read, as text.
struct KELTO_API OptionsChoice {
    std::optional<std::string> text;       // none: the reader is given no options
    std::string note;                      // what the host guessed, or empty
    std::vector<std::string> unknownKeys;  // settings the format's own options do not hold
};

// The host's own options for a format that gives none: for "CSV File" the delimiter and
// encoding guessed from `file` (`note` says what, leaving out keys named in `given`), for
// the Bruker readers their record's text form; none for any other format.
KELTO_API std::optional<OptionsChoice> HostDefaultOptions(const std::string& formatName, const std::string& file,
                                                          const std::vector<Setting>& given = {});

// The options a read of `paths` with the format of list index `index` gets: `optionsXml`, or
// the format's defaults, or the host's; with `settings` written over them. None when there
// is nothing to give (no document, no defaults, no settings). Throws std::invalid_argument
// when `optionsXml` is no options document, and BinaryOptionsError when settings are given
// for a format whose defaults are binary. A cancellation while the format makes its
// defaults (CancelException) is passed on.
class KELTO_API BinaryOptionsError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};
KELTO_API OptionsChoice ChooseOptions(ImportHelperBase& helper, const std::vector<std::string>& paths, int index,
                                      const std::optional<std::string>& optionsXml, const std::vector<Setting>& settings);

// The record a reader is given for an options document: the Bruker readers' 21-byte record,
// otherwise the document itself. Throws std::invalid_argument when the document is unusable.
KELTO_API std::unique_ptr<ImportOptionsHelper::OpenOptions> MakeOptionsRecord(const std::string& text,
                                                                               const std::string& formatName);

// Reads `paths` with the format of list index `index` (checked already) into `target`:
// in one read, or each file by itself with the tables stacked (the narrower padded with
// missing cells) for a format whose record says multiFile 1. Fills ok, failure, code,
// message, file, files and readName of `outcome`.
KELTO_API void ReadFiles(ImportHelperBase& helper, const std::vector<std::string>& paths, int index,
                         QmImportOpenOptions* options, SpreadsheetData& target,
                         const std::function<void(const std::vector<std::string>&)>& beforeEachRead,
                         ReadOutcome& outcome);

}  // namespace kelto::host
