#pragma once
// The product family's compound-file access: a file of named streams (an OLE compound file,
// [MS-CFB]) opened read-only, its root entries walked in order, and one entry at a time handed
// out as an input stream. Built on the platform's compound-file reader, which checks every
// sector and chain of the (untrusted) file.
#include <cstddef>
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "plugin/Export.h"

namespace kelto::platform {
class CompoundFileReader;
}

// Status of the stream library's calls.
enum QmStreamE : int {
    QmStreamOk = 0,
    QmStreamOpenFailed = 1,  // not a compound file, or damaged
    QmStreamNotOpen = 2,     // no file is open
    QmStreamBadMode = 3,     // the storage is read-only
};

class KELTO_API CompoundFile {
public:
    enum OpenMode : int { ReadMode = 0, WriteMode = 1 };
    // Entry kinds given by the directory walk ([MS-CFB 2.6.1] object types).
    enum EntryKind : unsigned long { StorageEntry = 1, StreamEntry = 2 };

    CompoundFile();
    ~CompoundFile();
    CompoundFile(const CompoundFile&) = delete;
    CompoundFile& operator=(const CompoundFile&) = delete;

    // Opens the file for reading; writing is not supported (QmStreamBadMode). Any file
    // opened before is closed first.
    QmStreamE Open(const char* path, OpenMode mode);
    QmStreamE Close();
    bool IsOpen() const;

    // The names of the root storage's entries in directory order (UTF-8), null after the
    // last; `kind` (when given) receives the entry's EntryKind. The name stays valid until
    // the next walk call, Close or destruction.
    const char* GetFirstDirEntry(unsigned long* kind);
    const char* GetNextDirEntry(unsigned long* kind);

    // A new input stream over the stream entry of that exact name, owned by the caller; it
    // stays usable after Close. Null when there is no such stream, when the mode is not a
    // reading one ("rb" or "r"), or when no file is open.
    std::istream* GetIOStream(const char* name, const char* mode);

private:
    const char* Entry(unsigned long* kind);

    std::unique_ptr<kelto::platform::CompoundFileReader> reader_;
    std::size_t next_ = 0;
};
