#pragma once
// The format registry. Every format has one factory object with static storage; its
// constructor enters the format's record into the registry, which is ordered by the record's
// filter text (byte-wise) and addressed by 1-based position.
#include "plugin/Export.h"
#include "plugin/QmImport.h"

class SpreadsheetFile;

class KELTO_API SprFileFactory {
public:
    enum MyKindOfFile {
        IsMyKind = 0,        // certainly of this format
        LikelyMyKind = 1,    // likely of this format
        PossiblyMyKind = 2,  // cannot tell (factories that do not look at the file)
        NotMyKind = 3,       // not of this format
    };

    SprFileFactory(const SprFileFactory&) = default;
    SprFileFactory& operator=(const SprFileFactory&) = default;

    // Number of registered formats.
    static int SizeInfos();
    // The factory at `index` (1-based; 1 or less means the first) judges the file. An index
    // beyond the registry answers NotMyKind.
    static MyKindOfFile IsMyKindOfFile(int index, const char* path);
    // A new, unopened file object of the format at `index`, owned by the caller; null for an
    // index beyond the registry.
    static SpreadsheetFile* GetSpreadsheetFile(int index);
    // The record at `index`; null for an index beyond the registry.
    static const QmImportFileFormatInfo* GetInfo(int index);

    int GetPriority() const { return priority; }

protected:
    // Registers the format. A format of the same name already registered with a higher
    // priority wins, and this registration is dropped; otherwise the older entry of that name
    // is replaced: in place when the filter text is the same, else it is removed. A filter
    // text already present under another name keeps the existing entry. A record once handed
    // out stays valid for the life of the library, replaced or not.
    SprFileFactory(const char* name, const char* filter, const char* saveFilter, int extensionCount,
                   const char* extensions, signed char canWrite, signed char canRead, signed char multiFile,
                   signed char tableFlag, signed char formatFlag, signed char priority);
    // Factories are never destroyed through the base. One destroyed while the library stays
    // loaded (a host's own, say) withdraws its entry; its record stays readable.
    ~SprFileFactory();

    virtual MyKindOfFile IsMyKindOfFile(const char* path) = 0;
    virtual SpreadsheetFile* GetSpreadsheetFile() = 0;

private:
    int priority;
};
