#pragma once
// Open options as the host handles them. A QmImportOpenOptions record carries bytes; for every
// format that keeps its options as text those bytes are a binary string (WriteBinaryString)
// holding an XML document whose "Settings" section holds the keys. Two keys are shared by all
// formats that read several documents: "Sheets" (the document names, percent-encoded and
// separated by ";") and "ReadOrder" (3: merge the documents).
//
// The Bruker readers use a binary record instead: 21 bytes, little-endian, no padding.
#include <memory>
#include <string>
#include <vector>

#include "plugin/Export.h"
#include "plugin/QmImport.h"

namespace ImportOptionsHelper {

// The read order meaning "merge the documents into one table", also the default.
inline constexpr int kMergeDocuments = 3;

// The decoded "Sheets" entries; empty when the record holds no valid options text or no
// such key. A record whose bytes are not a binary string lets the stream's exception
// (std::ios_base::failure) through, as do the other query functions.
KELTO_API std::vector<std::string> GetDocuments(const QmImportOpenOptions& options);
// Replaces "Sheets" and rewrites the record's bytes (the old buffer is freed). False, with
// nothing changed, when the record holds no valid options text.
KELTO_API bool SetDocuments(QmImportOpenOptions& options, const std::vector<std::string>& documents);
// "ReadOrder", or 3 when the record holds no valid text or no such key.
KELTO_API int GetReadOrder(const QmImportOpenOptions& options);
// True when the read order is 3, and when the record holds no valid text.
KELTO_API bool IsMergeDocuments(const QmImportOpenOptions& options);

// A record that owns its bytes. Usable wherever a QmImportOpenOptions is expected.
class KELTO_API OpenOptions : public QmImportOpenOptions {
public:
    OpenOptions();
    // A fresh copy of the bytes; the read direction starts at 3 whatever `other` has.
    OpenOptions(const OpenOptions& other);
    // Takes over `record`'s byte buffer: from now on this object frees it and the record's
    // owner must not (the record itself stays with its owner). Null gives an empty object.
    explicit OpenOptions(const QmImportOpenOptions* record);
    // Frees its own bytes, then copies the bytes and the read direction.
    OpenOptions& operator=(const OpenOptions& other);
    OpenOptions(OpenOptions&& other) noexcept;
    OpenOptions& operator=(OpenOptions&& other) noexcept;
    ~OpenOptions();

    int GetReadDirection() const { return readDirection_; }
    void SetReadDirection(int direction) { readDirection_ = direction; }

    // A record returned by QmImportGetFileOptions (or ImportHelperBase::GetFileOptions) is
    // owned by the caller together with its buffer: this takes both and deletes the record.
    static std::unique_ptr<OpenOptions> Adopt(QmImportOpenOptions* record);

    // A record holding `text` as its options. Throws Exception ("Invalid file open option
    // format") when the text does not parse or has no "Settings" section. The read direction
    // becomes the text's read order.
    static std::unique_ptr<OpenOptions> CreateOpenOptions(const std::string& text);

private:
    void Free();
    void CopyBytes(const QmImportOpenOptions& from);

    int readDirection_ = kMergeDocuments;
};

}  // namespace ImportOptionsHelper

namespace BatchImportSettings {

// The options of the Bruker readers. Only the first four fields are stored in the record.
struct KELTO_API BrukerOptions {
    int points = 0;          // 1 or more: points of the interpolated spectrum
    double firstX = 0.0;
    double lastX = 0.0;
    signed char flag = -1;   // carried and written, read by no reader
    short version = 0;       // never stored
    short count = 1;         // never stored
    const char* name = "BRUKEROPTIONS";  // never stored
};

// Size of the stored record: int, two doubles, one byte.
inline constexpr int kBrukerOptionsSize = 21;

}  // namespace BatchImportSettings

// The defaults, or the four stored fields when the record is exactly 21 bytes. Never fails.
KELTO_API BatchImportSettings::BrukerOptions GetBrukerImportOptions(const QmImportOpenOptions& options);
// A new 21-byte record holding the four stored fields. It is returned as an OpenOptions so
// that its bytes are freed with it.
KELTO_API std::unique_ptr<ImportOptionsHelper::OpenOptions> CreateBrukerImportOptions(
    const BatchImportSettings::BrukerOptions& settings);
