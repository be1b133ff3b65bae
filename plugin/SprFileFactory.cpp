#include "plugin/SprFileFactory.h"

#include <cstring>
#include <iterator>
#include <map>
#include <mutex>

namespace {

struct FilterLess {
    bool operator()(const char* a, const char* b) const { return std::strcmp(a, b) < 0; }
};

struct Entry {
    QmImportFileFormatInfo info;
    SprFileFactory* factory;
};

using Registry = std::map<const char*, Entry, FilterLess>;

// Created on the first registration (thread-safe one-time construction) and destroyed when
// the library unloads. Registration happens during static initialisation; the mutex covers
// factories a host constructs later.
Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

std::mutex& RegistryMutex() {
    static std::mutex mutex;
    return mutex;
}

// The entry at 1-based `index` (1 or less: the first), or null beyond the end.
Entry* EntryAt(int index) {
    Registry& registry = TheRegistry();
    if (registry.empty()) return nullptr;
    if (index < 1) index = 1;
    if (static_cast<std::size_t>(index) > registry.size()) return nullptr;
    return &std::next(registry.begin(), index - 1)->second;
}

}  // namespace

SprFileFactory::SprFileFactory(const char* name, const char* filter, const char* saveFilter, int extensionCount,
                               const char* extensions, signed char canWrite, signed char canRead,
                               signed char multiFile, signed char tableFlag, signed char formatFlag,
                               signed char priority_)
    : priority(priority_) {
    std::lock_guard lock(RegistryMutex());
    Registry& registry = TheRegistry();
    // Only the first entry of the same name is looked at.
    for (auto it = registry.begin(); it != registry.end(); ++it) {
        if (std::strcmp(it->second.info.name, name) != 0) continue;
        if (it->second.factory->GetPriority() > priority_) return;
        registry.erase(it);
        break;
    }
    QmImportFileFormatInfo info{name,     filter,   saveFilter, extensionCount, extensions, canWrite,
                                canRead, multiFile, tableFlag,  formatFlag,     priority_};
    registry.emplace(filter, Entry{info, this});
}

int SprFileFactory::SizeInfos() {
    std::lock_guard lock(RegistryMutex());
    return static_cast<int>(TheRegistry().size());
}

SprFileFactory::MyKindOfFile SprFileFactory::IsMyKindOfFile(int index, const char* path) {
    SprFileFactory* factory;
    {
        std::lock_guard lock(RegistryMutex());
        Entry* entry = EntryAt(index);
        if (!entry) return NotMyKind;
        factory = entry->factory;
    }
    return factory->IsMyKindOfFile(path);
}

SpreadsheetFile* SprFileFactory::GetSpreadsheetFile(int index) {
    SprFileFactory* factory;
    {
        std::lock_guard lock(RegistryMutex());
        Entry* entry = EntryAt(index);
        if (!entry) return nullptr;
        factory = entry->factory;
    }
    return factory->GetSpreadsheetFile();
}

const QmImportFileFormatInfo* SprFileFactory::GetInfo(int index) {
    std::lock_guard lock(RegistryMutex());
    Entry* entry = EntryAt(index);
    return entry ? &entry->info : nullptr;
}
