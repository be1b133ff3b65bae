#include "host/ImportDLLLoader.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "host/DLLFile.h"
#include "host/RecordText.h"
#include "outside/utl/QmStdString.h"
#include "platform/DynamicLibrary.h"

namespace platform = kelto::platform;
using InstanceInfo = ImportDLLLoader::InstanceInfo;
using List = InstanceInfoListContainer::List;

namespace {

template <typename F>
F Find(void* module, const char* name) {
    return reinterpret_cast<F>(platform::FindSymbol(module, name));
}

// The process-wide lists. The shared container is made by the first list access and lives
// to the end of the process (or until this library is unloaded), releasing the libraries it
// loaded; the Python list is replaced by UpdatePythonPlugins. `version` changes with either,
// so that every loader knows when its copy is stale.
struct SharedState {
    std::unique_ptr<InstanceInfoListContainer> shared;
    List python;
    std::uint64_t version = 1;
    std::optional<std::string> hostDirectory;  // in place of the executable's folder
};

SharedState& State() {
    static SharedState state;
    return state;
}

// A Python entry's record and the texts it points into, kept alive by every copy of the entry
// (InstanceInfo::pythonPlugin shares ownership of this holder). The texts are copies, so a
// host that changes its plug-in struct later cannot pull them from under the record.
struct PythonEntry {
    std::shared_ptr<ImportDLLLoader::PythonPlugin> plugin;
    std::string name;
    std::string filter;
    std::string extensions;
    QmImportFileFormatInfo record{};
};

// Entries of a NUL-separated extension list held in `list` (stops at an empty entry).
int CountExtensions(const std::string& list) {
    int count = 0;
    for (std::size_t at = 0; at < list.size() && list[at] != '\0'; ++count) {
        std::size_t end = list.find('\0', at);
        if (end == std::string::npos) {
            ++count;
            break;
        }
        at = end + 1;
    }
    return count;
}

bool IsBlank(const char* text) {
    for (const char* p = text; *p; ++p)
        if (!std::isspace(static_cast<unsigned char>(*p))) return false;
    return true;
}

std::string Join(const std::string& directory, const std::string& name) {
    if (directory.empty()) return name;
    return directory.back() == '/' ? directory + name : directory + "/" + name;
}

std::string DirectoryOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool SameName(const char* a, const char* b) {
    return a && b && QmStdString::CompareNoCase(a, b) == 0;
}

}  // namespace

// The extension of the last element of `path`, from its last '.', dot included; empty when
// the name has none.
std::string kelto::host::ExtensionOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
    return path.substr(dot);
}

bool kelto::host::HasExtension(const QmImportFileFormatInfo& info, const std::string& extension) {
    bool found = false;
    ForEachExtension(info, [&](const char* candidate) {
        if (!found && QmStdString::CompareNoCase(candidate, extension) == 0) found = true;
    });
    return found;
}

// ---------------------------------------------------------------------------------------
// Python plug-ins

void ImportDLLLoader::PythonPlugin::Setup() {
    if (extensions.size() > kelto::host::kMaxExtensions) extensions.resize(kelto::host::kMaxExtensions);
    for (std::string& extension : extensions) {
        if (!extension.empty() && extension.front() == '.') extension.erase(0, 1);
        kelto::host::CutUtf8(extension, 256);
    }
    // Whole entries only, so that the record's count never names an entry the list has lost:
    // the entries and the final NUL fit in 50 characters.
    constexpr std::size_t kListLimit = 50;
    extensionList.clear();
    for (const std::string& extension : extensions) {
        std::string entry = "." + extension;
        entry.push_back('\0');
        if (extensionList.size() + entry.size() + 1 > kListLimit) break;
        extensionList += entry;
    }
    extensionList.push_back('\0');
    filter = name;
    if (!extensions.empty()) filter += " (*." + extensions.front() + ")";
    kelto::host::CutUtf8(filter, 70);
}

void ImportDLLLoader::UpdatePythonPlugins(const std::vector<std::shared_ptr<PythonPlugin>>& plugins) {
    std::lock_guard lock(GetMutex());
    SharedState& state = State();
    state.python.clear();
    for (const std::shared_ptr<PythonPlugin>& plugin : plugins) {
        if (!plugin) continue;
        auto holder = std::make_shared<PythonEntry>();
        holder->plugin = plugin;
        holder->name = plugin->name;
        holder->filter = plugin->filter;
        holder->extensions = plugin->extensionList;
        holder->record = QmImportFileFormatInfo{holder->name.c_str(),
                                                holder->filter.c_str(),
                                                holder->filter.c_str(),
                                                CountExtensions(holder->extensions),
                                                holder->extensions.c_str(),
                                                static_cast<signed char>(plugin->canWrite),
                                                static_cast<signed char>(plugin->canRead),
                                                static_cast<signed char>(plugin->multiFile),
                                                0,
                                                1,
                                                3};
        InstanceInfo entry;
        entry.info = &holder->record;
        entry.pythonPlugin = std::shared_ptr<PythonPlugin>(holder, holder->plugin.get());
        state.python.push_back(std::move(entry));
    }
    ++state.version;
}

// ---------------------------------------------------------------------------------------
// The container

InstanceInfoListContainer::InstanceInfoListContainer() : list_(std::make_shared<List>()) {}

InstanceInfoListContainer::InstanceInfoListContainer(const char* extraDirectory)
    : InstanceInfoListContainer(extraDirectory, DirectoryOf(platform::HostExecutablePath())) {}

InstanceInfoListContainer::InstanceInfoListContainer(const char* extraDirectory, const std::string& hostDirectory)
    : list_(std::make_shared<List>()) {
    Enumerate(extraDirectory, hostDirectory);
}

InstanceInfoListContainer::~InstanceInfoListContainer() {
    // The records of the list live in the libraries: the list goes first.
    list_->clear();
    std::vector<ModuleHandle> modules;
    for (ModuleHandle m : references_)
        if (std::find(modules.begin(), modules.end(), m) == modules.end()) modules.push_back(m);
    // Later libraries first, the reverse of loading.
    for (auto it = modules.rbegin(); it != modules.rend(); ++it) Release(*it);
}

InstanceInfoListContainer::ModuleHandle InstanceInfoListContainer::ThisLibrary() {
    // The handle only names this library; no reference is kept, so that a host can still
    // unload the library. It stays valid as long as this code runs.
    static const ModuleHandle self = [] {
        ModuleHandle handle = platform::CurrentLibraryHandle();
        platform::CloseLibrary(handle);
        return handle;
    }();
    return self;
}

bool InstanceInfoListContainer::IsThisLibrary(const InstanceInfo& entry) {
    return entry.module && !entry.ownsModule && entry.module == ThisLibrary();
}

void InstanceInfoListContainer::Enumerate(const char* extraDirectory, const std::string& hostDirectory) {
    AddModule(ThisLibrary(), false);

    // The executable counts only with entry points of its own: a program that merely links
    // this library must not offer its formats a second time (FindSymbol sees to that).
    std::string executable = platform::HostExecutablePath();
    if (!executable.empty() && !platform::IsExcludedLibrary(executable)) {
        if (ModuleHandle main = platform::MainProgramHandle()) {
            references_.push_back(main);
            AddModule(main, true);
        }
    }

    const std::string suffix = platform::kSharedLibrarySuffix;
    for (const std::string& name : platform::FindFiles(hostDirectory, "*sprfile*" + suffix))
        LoadPluginLibrary(Join(hostDirectory, name));

    if (extraDirectory && !IsBlank(extraDirectory))
        for (const std::string& name : platform::FindFiles(extraDirectory, "*" + suffix))
            LoadPluginLibrary(Join(extraDirectory, name));
}

int InstanceInfoListContainer::LoadPluginLibrary(const std::string& path) {
    if (platform::IsExcludedLibrary(path)) return 0;
    ModuleHandle module = platform::OpenLibrary(path);
    if (!module) return 0;
    references_.push_back(module);
    return AddModule(module, true);
}

int InstanceInfoListContainer::AddModule(ModuleHandle module, bool owns) {
    if (!module) return 0;
    QmImportInitPackageFn init;
    QmImportSizeFileFormatsSupportedFn size;
    QmImportGetFileFormatInfoFn getInfo;
    if (module == ThisLibrary() && !owns) {
        init = &QmImportInitPackage;
        size = &QmImportSizeFileFormatsSupported;
        getInfo = &QmImportGetFileFormatInfo;
    } else {
        init = Find<QmImportInitPackageFn>(module, "QmImportInitPackage");
        size = Find<QmImportSizeFileFormatsSupportedFn>(module, "QmImportSizeFileFormatsSupported");
        getInfo = Find<QmImportGetFileFormatInfoFn>(module, "QmImportGetFileFormatInfo");
    }
    if (init) init();
    if (!size || !getInfo) {
        if (owns) Release(module);
        return 0;
    }

    int added = 0;
    const int count = size();
    for (int n = 1; n <= count; ++n) {
        const QmImportFileFormatInfo* info = getInfo(n);
        // A record without a name could be neither shown nor replaced.
        if (!info || !info->name) continue;
        auto same = std::find_if(list_->begin(), list_->end(),
                                 [&](const InstanceInfo& e) { return SameName(e.info->name, info->name); });
        if (same != list_->end()) {
            InstanceInfo replaced = *same;
            list_->erase(same);
            if (replaced.ownsModule && replaced.module != module &&
                std::none_of(list_->begin(), list_->end(),
                             [&](const InstanceInfo& e) { return e.module == replaced.module; }))
                Release(replaced.module);
        }
        InstanceInfo entry;
        entry.info = info;
        entry.module = module;
        entry.formatNumber = n;
        entry.ownsModule = owns;
        list_->push_back(std::move(entry));
        ++added;
    }
    return added;
}

void InstanceInfoListContainer::Release(ModuleHandle module) {
    if (std::find(references_.begin(), references_.end(), module) == references_.end()) return;
    if (auto release = Find<QmImportReleasePackageFn>(module, "QmImportReleasePackage")) release();
    for (auto it = references_.begin(); it != references_.end();) {
        if (*it == module) {
            platform::CloseLibrary(module);
            it = references_.erase(it);
        } else {
            ++it;
        }
    }
}

// ---------------------------------------------------------------------------------------
// The loader

ImportDLLLoader::ImportDLLLoader() : list_(std::make_unique<InstanceInfoListContainer>()) {}

ImportDLLLoader::~ImportDLLLoader() = default;

std::recursive_mutex& ImportDLLLoader::GetMutex() {
    // Never destroyed: a loader in a static object may still lock it late in the process.
    static std::recursive_mutex* mutex = new std::recursive_mutex;
    return *mutex;
}

InstanceInfoListContainer* ImportDLLLoader::GetInstanceInfoList(const char* directory) {
    std::lock_guard lock(GetMutex());
    SharedState& state = State();
    if (!state.shared) {
        state.shared = state.hostDirectory
                           ? std::make_unique<InstanceInfoListContainer>(directory, *state.hostDirectory)
                           : std::make_unique<InstanceInfoListContainer>(directory);
        ++state.version;
    }
    if (copiedVersion_ != state.version) {
        auto copy = std::make_shared<List>(*state.shared->GetList());
        copy->insert(copy->end(), state.python.begin(), state.python.end());
        list_->list_ = std::move(copy);
        copiedVersion_ = state.version;
    }
    return list_.get();
}

bool ImportDLLLoader::SetHostDirectory(const std::string& directory) {
    std::lock_guard lock(GetMutex());
    SharedState& state = State();
    if (state.shared) return false;
    state.hostDirectory = directory;
    return true;
}

void ImportDLLLoader::Init(const char* directory) {
    std::lock_guard lock(GetMutex());
    GetInstanceInfoList(directory);
}

ImportDLLLoader::InstanceInfo* ImportDLLLoader::GetInstanceInfo(int index) {
    std::lock_guard lock(GetMutex());
    List& list = *GetInstanceInfoList(nullptr)->GetList();
    if (list.empty()) return nullptr;
    if (index < 1) index = 1;
    if (static_cast<std::size_t>(index) > list.size()) return nullptr;
    return &*std::next(list.begin(), index - 1);
}

int ImportDLLLoader::SizeInfos() {
    std::lock_guard lock(GetMutex());
    return static_cast<int>(GetInstanceInfoList(nullptr)->GetList()->size());
}

const QmImportFileFormatInfo* ImportDLLLoader::GetInfo(int index) {
    std::lock_guard lock(GetMutex());
    const InstanceInfo* entry = GetInstanceInfo(index);
    return entry ? entry->info : nullptr;
}

const ImportDLLLoader::PythonPlugin* ImportDLLLoader::GetPythonPlugin(int index) {
    std::lock_guard lock(GetMutex());
    const InstanceInfo* entry = GetInstanceInfo(index);
    return entry ? entry->pythonPlugin.get() : nullptr;
}

SpreadsheetFile* ImportDLLLoader::GetSpreadsheetFile(int index) {
    DLLEntryPoints entryPoints;
    int formatNumber = 0;
    bool canWrite = false;
    {
        std::lock_guard lock(GetMutex());
        const InstanceInfo* entry = GetInstanceInfo(index);
        if (!entry) return nullptr;
        if (InstanceInfoListContainer::IsThisLibrary(*entry))
            entryPoints = DLLEntryPoints::Own();
        else if (entry->module)
            entryPoints = DLLEntryPoints::LookUp(entry->module);
        formatNumber = entry->formatNumber;
        canWrite = entry->info->canWrite != 0;
    }
    return new DLLFile(entryPoints, formatNumber, canWrite);
}

int ImportDLLLoader::GetIndex(InstanceInfo* entry) {
    if (!entry || !entry->info) return -1;
    std::lock_guard lock(GetMutex());
    const List& list = *GetInstanceInfoList(nullptr)->GetList();
    int position = 1;
    for (const InstanceInfo& e : list) {
        if (e.info == entry->info) return position;
        ++position;
    }
    const char* name = entry->info->name;
    if (!name) return -1;
    position = 1;
    for (const InstanceInfo& e : list) {
        if (e.info->name && std::strcmp(e.info->name, name) == 0) return position;
        ++position;
    }
    return -1;
}

int ImportDLLLoader::SelectFormat(std::list<InstanceInfo>& candidates, const char*) {
    if (candidates.empty()) return -1;
    return GetIndex(&candidates.front());
}

void ImportDLLLoader::MatchExtension(const char* path, std::list<InstanceInfo>& from, std::list<InstanceInfo>& out) {
    if (!path) return;
    std::string extension = kelto::host::ExtensionOf(path);
    if (extension.empty()) return;
    for (const InstanceInfo& e : from)
        if (kelto::host::HasExtension(*e.info, extension)) out.push_back(e);
}

int ImportDLLLoader::GetSpreadsheetFileIndex(const char* path) {
    if (!path) return -1;
    std::lock_guard lock(GetMutex());
    // Held, not borrowed: a SelectFormat override may change the Python list, and with it
    // this loader's copy, while the walk is still using it.
    const std::shared_ptr<List> held = GetInstanceInfoList(nullptr)->GetList();
    List& list = *held;

    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::path(path), error)) {
        std::list<InstanceInfo> matches;
        MatchExtension(path, list, matches);
        if (matches.size() == 1) return GetIndex(&matches.front());
        return SelectFormat(matches, path);
    }

    std::list<InstanceInfo> sure;
    std::list<InstanceInfo> candidates;
    for (const InstanceInfo& e : list) {
        if (!e.info->canRead) continue;
        QmImportIsCorrectFileTypeFn isCorrect = nullptr;
        if (InstanceInfoListContainer::IsThisLibrary(e))
            isCorrect = &QmImportIsCorrectFileType;
        else if (e.module)
            isCorrect = Find<QmImportIsCorrectFileTypeFn>(e.module, "QmImportIsCorrectFileType");
        if (!isCorrect) {
            candidates.push_back(e);
            continue;
        }
        switch (isCorrect(e.formatNumber, path)) {
            case 2: sure.push_back(e); break;
            case 1: candidates.push_back(e); break;
            default: break;
        }
    }
    if (sure.size() == 1) return GetIndex(&sure.front());
    if (sure.size() > 1) return SelectFormat(sure, path);
    if (candidates.empty()) return -1;
    if (candidates.size() == 1) return GetIndex(&candidates.front());

    std::list<InstanceInfo> kept;
    MatchExtension(path, candidates, kept);
    if (kept.size() == 1) return GetIndex(&kept.front());
    if (kept.size() > 1) return SelectFormat(kept, path);
    return SelectFormat(candidates, path);
}

int ImportDLLLoader::GetFormatIndex(const std::string& fileName, bool forWrite, bool forRead) {
    std::string extension = kelto::host::ExtensionOf(fileName);
    if (extension.empty()) return -1;
    std::lock_guard lock(GetMutex());
    int ordinal = 0;
    for (const InstanceInfo& e : *GetInstanceInfoList(nullptr)->GetList()) {
        if (forWrite && !e.info->canWrite) continue;
        if (forRead && !e.info->canRead) continue;
        ++ordinal;
        if (kelto::host::HasExtension(*e.info, extension)) return ordinal;
    }
    return -1;
}
