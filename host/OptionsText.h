#pragma once
// Open options as a user sees them: the XML document inside an options record, printed and
// read back by a host, and changed key by key (the command line's `--set`, a scripting
// binding's keyword settings).
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/ImportOptionsHelper.h"
#include "plugin/Export.h"

namespace kelto::host {

// The options text a record holds, or nothing when the record holds something else (a
// binary record, bytes that are not one whole binary string, a text that is no options
// document with a "Settings" section).
KELTO_API std::optional<std::string> RecordText(const QmImportOpenOptions& record);

// Whether `text` is an options document (XML with a "Settings" section).
KELTO_API bool IsOptionsDocument(const std::string& text);

// The Bruker readers take a 21-byte binary record rather than a document. Their text form,
// which hosts show, take back and change key by key, is a document whose "Settings" section holds
// "Points" (0: take the first file's), "FirstX" and "LastX".
KELTO_API bool IsBrukerFormat(const std::string& formatName);
// The record's four stored fields from such a document; absent keys keep the defaults.
// Throws std::invalid_argument naming the key whose value is not a number.
KELTO_API BatchImportSettings::BrukerOptions BrukerOptionsFromText(const std::string& text);
// The text form of the record's defaults: every key 0 (the first file's points and range).
KELTO_API std::string BrukerDefaultsDocument();

// A document holding only an empty "Settings" section.
KELTO_API std::string EmptyOptionsDocument();

struct Setting {
    std::string key;
    std::string value;
};

// Splits "KEY=VALUE" at the first "="; false when there is none or the key is empty.
KELTO_API bool ParseSetting(const std::string& argument, Setting& setting);

// `text` with each setting written into its "Settings" section, the values stored as the
// formats read them: "Delimiter" percent-encoded ("\t" stands for a tab, "\\" for a
// backslash), "Sheets" as a list of percent-encoded names separated by ";" ("\;" inside a
// name), every other key as given. Keys the document did not hold before are added and also
// returned in `newKeys`. Throws std::invalid_argument when `text` is no options document.
KELTO_API std::string ApplySettings(const std::string& text, const std::vector<Setting>& settings,
                          std::vector<std::string>& newKeys);

}  // namespace kelto::host
