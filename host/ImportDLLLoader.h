#pragma once
// The host's view of every import plug-in at once: one flat, 1-based list of the formats of
// this library, of the host executable (when it exports the entry points itself), of every
// *sprfile* library beside the host executable, of every library in one optional extra
// directory, and of the Python plug-ins the host registers. Plug-in libraries are asked
// through their exported QmImport* entry points, looked up by name; a format of a later
// library replaces an earlier one of the same name (case ignored).
//
// The list of libraries is built once per process, by the first call that needs it, and
// shared by every loader. All list state is guarded by one process-wide recursive lock;
// calls into a plug-in through a DLLFile are made without it.
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "plugin/Export.h"
#include "plugin/QmImport.h"

class ImportSpecBase;
class InstanceInfoListContainer;
class SpreadsheetData;
class SpreadsheetFile;

class KELTO_API ImportDLLLoader {
public:
    using ModuleHandle = void*;

    // A format served by a Python plug-in of the host.
    struct KELTO_API PythonPlugin {
        using ReadFunction =
            std::function<bool(const std::vector<std::string>& files, SpreadsheetData* target, ImportSpecBase* spec)>;
        using WriteFunction = std::function<bool(const std::string& path, const SpreadsheetData* source)>;

        std::string name;                     // shown to the user, compared with other formats' names
        std::vector<std::string> extensions;  // with or without their leading dot
        bool canRead = false;
        bool multiFile = false;
        bool canWrite = false;
        std::string filter;         // built by Setup
        std::string extensionList;  // built by Setup: ".a\0.b\0\0", as a library's list
        ReadFunction readFunction;
        ReadFunction extraFunction;  // held for the host; never called here
        WriteFunction writeFunction;

        // Normalises the struct: at most 10 extensions, each without its leading dot and at
        // most 256 characters; the extension list (at most 50 characters, whole entries only)
        // and the filter (name, then " (*.ext)" for the first extension; at most 70
        // characters). Call before UpdatePythonPlugins.
        void Setup();
    };

    // One list entry.
    struct KELTO_API InstanceInfo {
        const QmImportFileFormatInfo* info = nullptr;  // never null in a list
        ModuleHandle module = nullptr;                  // null for a Python plug-in
        int formatNumber = 0;                           // 1-based inside its library; 0 for Python
        std::shared_ptr<PythonPlugin> pythonPlugin;     // keeps a Python entry's record alive
        bool ownsModule = false;                        // the list that loaded `module` releases it
    };

    ImportDLLLoader();
    virtual ~ImportDLLLoader();
    ImportDLLLoader(const ImportDLLLoader&) = delete;
    ImportDLLLoader& operator=(const ImportDLLLoader&) = delete;

    // Makes sure the list exists. The first call in the process that needs the list decides
    // the extra directory (null or blank: none).
    virtual void Init(const char* directory);
    // The folder searched for *sprfile* libraries in place of the host executable's: a
    // scripting binding's own folder, since the executable there is the interpreter. Takes
    // effect only before the list is built; false (changing nothing) afterwards.
    static bool SetHostDirectory(const std::string& directory);

    // The 1-based index of the format to use for `path`, or -1. An existing file is asked of
    // every readable format (sure answers first, then likely ones narrowed by the extension);
    // for a path that does not exist only the extension decides. SelectFormat settles ties.
    int GetSpreadsheetFileIndex(const char* path);
    // The first format whose extensions include `fileName`'s, counted only among the formats
    // that pass the filters (writable with `forWrite`, readable with `forRead`); -1 if none.
    int GetFormatIndex(const std::string& fileName, bool forWrite, bool forRead);
    // A new DLLFile for the entry, owned by the caller; null for an index beyond the list.
    // A Python entry gives a file without entry points (every operation reports a missing
    // function): it is read and written through its callbacks instead.
    SpreadsheetFile* GetSpreadsheetFile(int index);
    // The entry's record; null for an index beyond the list.
    const QmImportFileFormatInfo* GetInfo(int index);
    int SizeInfos();
    // The entry's Python plug-in, or null for a library entry.
    const PythonPlugin* GetPythonPlugin(int index);

    // Replaces the process-wide list of Python plug-ins. Every loader sees the change at its
    // next list access.
    static void UpdatePythonPlugins(const std::vector<std::shared_ptr<PythonPlugin>>& plugins);

protected:
    // Chooses among several candidates for `path`; called with the lock held. The default
    // takes the first. Returns a 1-based list index, or -1 for an empty list.
    virtual int SelectFormat(std::list<InstanceInfo>& candidates, const char* path);
    // The 1-based list position of `entry` (a copy of a list entry), or -1. The entry itself
    // is found by its record; an entry that is in no list is found by its format name.
    int GetIndex(InstanceInfo* entry);

private:
    InstanceInfoListContainer* GetInstanceInfoList(const char* directory);
    // Index below 1: the first entry. Beyond the list: null.
    InstanceInfo* GetInstanceInfo(int index);
    // Every entry of `from` with `path`'s extension, readable or not, in order.
    void MatchExtension(const char* path, std::list<InstanceInfo>& from, std::list<InstanceInfo>& out);
    static std::recursive_mutex& GetMutex();

    std::unique_ptr<InstanceInfoListContainer> list_;
    std::uint64_t copiedVersion_ = 0;  // which shared and Python lists list_ copies
};

// A list of format entries and the libraries it loaded for them.
class KELTO_API InstanceInfoListContainer {
public:
    using List = std::list<ImportDLLLoader::InstanceInfo>;
    using ModuleHandle = ImportDLLLoader::ModuleHandle;

    // Enumerates, in this order: this library (through its own entry points, not owned); the
    // host executable, where it exports the entry points itself; every *sprfile* library in
    // the host executable's directory; every library in `extraDirectory` (null or blank:
    // none). Libraries that cannot be loaded are skipped.
    explicit InstanceInfoListContainer(const char* extraDirectory);
    // The same, with `hostDirectory` searched in place of the host executable's directory.
    InstanceInfoListContainer(const char* extraDirectory, const std::string& hostDirectory);
    // An empty list that loads nothing (a loader's copy of the shared list lives in one).
    InstanceInfoListContainer();
    // Releases every library this container loaded and still holds, once each.
    ~InstanceInfoListContainer();
    InstanceInfoListContainer(const InstanceInfoListContainer&) = delete;
    InstanceInfoListContainer& operator=(const InstanceInfoListContainer&) = delete;

    const std::shared_ptr<List>& GetList() const { return list_; }

    // Loads the library at `path` unless its name is excluded, and adds its formats.
    // Returns the number of formats added (0 when it cannot be loaded).
    int LoadPluginLibrary(const std::string& path);
    // Adds the formats of a loaded library; `owns`: this container took a reference on it
    // and releases it. A library without the two required entry points adds nothing and,
    // when owned, is released at once. Returns the number of formats added.
    int AddModule(ModuleHandle module, bool owns);

    // The handle that stands for this library in the list.
    static ModuleHandle ThisLibrary();
    // Whether `entry` is served by this library's own entry points, called directly.
    static bool IsThisLibrary(const ImportDLLLoader::InstanceInfo& entry);

private:
    friend class ImportDLLLoader;

    void Enumerate(const char* extraDirectory, const std::string& hostDirectory);
    // Ends the library's use by this container: its release entry point, then every
    // reference this container holds on it.
    void Release(ModuleHandle module);

    std::shared_ptr<List> list_;
    std::vector<ModuleHandle> references_;  // one element per reference taken
};
