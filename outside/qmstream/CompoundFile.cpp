#include "outside/qmstream/CompoundFile.h"

#include <cstring>

#include "platform/CompoundFile.h"

using kelto::platform::CompoundFileReader;

CompoundFile::CompoundFile() = default;
CompoundFile::~CompoundFile() = default;

QmStreamE CompoundFile::Open(const char* path, OpenMode mode) {
    Close();
    if (mode != ReadMode) return QmStreamBadMode;
    if (!path) return QmStreamOpenFailed;
    auto reader = std::make_unique<CompoundFileReader>();
    if (!reader->Open(path)) return QmStreamOpenFailed;
    reader_ = std::move(reader);
    return QmStreamOk;
}

QmStreamE CompoundFile::Close() {
    const bool wasOpen = reader_ != nullptr;
    reader_.reset();
    next_ = 0;
    return wasOpen ? QmStreamOk : QmStreamNotOpen;
}

bool CompoundFile::IsOpen() const { return reader_ != nullptr; }

const char* CompoundFile::Entry(unsigned long* kind) {
    if (!reader_ || next_ >= reader_->RootElements().size()) return nullptr;
    const auto& element = reader_->RootElements()[next_++];
    if (kind) *kind = element.isStorage ? StorageEntry : StreamEntry;
    return element.name.c_str();
}

const char* CompoundFile::GetFirstDirEntry(unsigned long* kind) {
    next_ = 0;
    return Entry(kind);
}

const char* CompoundFile::GetNextDirEntry(unsigned long* kind) { return Entry(kind); }

std::istream* CompoundFile::GetIOStream(const char* name, const char* mode) {
    if (!reader_ || !name || !mode || (std::strcmp(mode, "rb") != 0 && std::strcmp(mode, "r") != 0)) return nullptr;
    return reader_->OpenIStream(name).release();
}
