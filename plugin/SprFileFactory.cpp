#include "plugin/SprFileFactory.h"

#include <cstring>
#include <deque>
#include <iterator>
#include <map>
#include <mutex>
#include <string>

namespace {

struct Entry {
    QmImportFileFormatInfo info;
    SprFileFactory* factory;
};

// Records are handed out by pointer (QmImportGetFileFormatInfo, a loader's list) and a host
// keeps them for as long as the library is loaded. So every record ever made lives in
// `records`, which only grows; the map only says which of them are current.
struct Registry {
    std::mutex mutex;
    std::deque<Entry> records;
    // Keyed by a copy of the filter text: a record updated in place may change where its text
    // lives. std::string orders byte-wise as unsigned chars, the order of strcmp.
    std::map<std::string, Entry*> current;
    ~Registry() { gone = true; }
    // Set once the registry has been destroyed at unload: a factory of another module that
    // outlives it must not reach into it from its destructor.
    static inline bool gone = false;
};

// Created on the first registration (thread-safe one-time construction) and destroyed when
// the library unloads, after every factory whose constructor reached it.
Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

// The entry at 1-based `index` (1 or less: the first), or null beyond the end.
Entry* EntryAt(Registry& registry, int index) {
    if (registry.current.empty()) return nullptr;
    if (index < 1) index = 1;
    if (static_cast<std::size_t>(index) > registry.current.size()) return nullptr;
    return std::next(registry.current.begin(), index - 1)->second;
}

}  // namespace

SprFileFactory::SprFileFactory(const char* name, const char* filter, const char* saveFilter, int extensionCount,
                               const char* extensions, signed char canWrite, signed char canRead,
                               signed char multiFile, signed char tableFlag, signed char formatFlag,
                               signed char priority_)
    : priority(priority_) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    const QmImportFileFormatInfo info{name,     filter,   saveFilter, extensionCount, extensions, canWrite,
                                      canRead, multiFile, tableFlag,  formatFlag,     priority_};
    // Only the first entry of the same name, in key order, is looked at. Its record carries
    // the priority its factory registered with.
    for (auto it = registry.current.begin(); it != registry.current.end(); ++it) {
        Entry& old = *it->second;
        if (std::strcmp(old.info.name, name) != 0) continue;
        if (old.info.priority > priority_) return;
        if (std::strcmp(old.info.filter, filter) == 0) {
            // Same key: the record a host may hold now describes the new registration.
            old = Entry{info, this};
            return;
        }
        // Another key: the old record leaves the answers but stays allocated.
        registry.current.erase(it);
        break;
    }
    if (registry.current.count(std::string(filter)) != 0) return;  // a filter already taken keeps its entry
    Entry& entry = registry.records.emplace_back(Entry{info, this});
    registry.current.emplace(filter, &entry);
}

SprFileFactory::~SprFileFactory() {
    if (Registry::gone) return;
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    // A factory that goes away before the library no longer answers; its record stays valid.
    for (auto it = registry.current.begin(); it != registry.current.end();) {
        if (it->second->factory == this)
            it = registry.current.erase(it);
        else
            ++it;
    }
}

int SprFileFactory::SizeInfos() {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    return static_cast<int>(registry.current.size());
}

SprFileFactory::MyKindOfFile SprFileFactory::IsMyKindOfFile(int index, const char* path) {
    SprFileFactory* factory;
    {
        Registry& registry = TheRegistry();
        std::lock_guard lock(registry.mutex);
        Entry* entry = EntryAt(registry, index);
        if (!entry) return NotMyKind;
        factory = entry->factory;
    }
    return factory->IsMyKindOfFile(path);
}

SpreadsheetFile* SprFileFactory::GetSpreadsheetFile(int index) {
    SprFileFactory* factory;
    {
        Registry& registry = TheRegistry();
        std::lock_guard lock(registry.mutex);
        Entry* entry = EntryAt(registry, index);
        if (!entry) return nullptr;
        factory = entry->factory;
    }
    return factory->GetSpreadsheetFile();
}

const QmImportFileFormatInfo* SprFileFactory::GetInfo(int index) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    Entry* entry = EntryAt(registry, index);
    return entry ? &entry->info : nullptr;
}
