#include "platform/DynamicLibrary.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fnmatch.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace kelto::platform {
namespace {

// The link map of the object that contains `address`; null when no loaded object does.
const link_map* ObjectOf(const void* address) {
    Dl_info info;
    link_map* map = nullptr;
    if (!dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP)) return nullptr;
    return map;
}

const link_map* LinkMapOf(ModuleHandle module) {
    link_map* map = nullptr;
    if (!module || dlinfo(module, RTLD_DI_LINKMAP, &map) != 0) return nullptr;
    return map;
}

const link_map* MainLinkMap() {
    void* self = dlopen(nullptr, RTLD_NOW);
    const link_map* map = LinkMapOf(self);
    if (self) dlclose(self);
    return map;
}

// Any function of this library serves as the anchor for finding the library itself.
void Anchor() {}

}  // namespace

ModuleHandle OpenLibrary(const std::string& path, std::string* error) {
    dlerror();
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle && error) {
        const char* why = dlerror();
        *error = why ? why : "cannot load " + path;
    }
    return handle;
}

void* FindSymbol(ModuleHandle module, const char* name) {
    if (!module || !name) return nullptr;
    dlerror();
    void* address = dlsym(module, name);
    if (!address) return nullptr;
    const link_map* owner = ObjectOf(address);
    return owner && owner == LinkMapOf(module) ? address : nullptr;
}

void CloseLibrary(ModuleHandle module) {
    if (module) dlclose(module);
}

ModuleHandle CurrentLibraryHandle() {
    const link_map* map = ObjectOf(reinterpret_cast<const void*>(&Anchor));
    if (!map) return nullptr;
    // Linked statically into the executable: the main program is "this library". The main
    // program's map has an empty name and cannot be reopened by name.
    if (map == MainLinkMap()) return dlopen(nullptr, RTLD_NOW);
    return dlopen(map->l_name, RTLD_NOW | RTLD_NOLOAD);
}

ModuleHandle MainProgramHandle() { return dlopen(nullptr, RTLD_NOW); }

std::string HostExecutablePath() {
    std::string buffer(256, '\0');
    while (true) {
        ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return std::string();
        if (static_cast<std::size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(n));
            return buffer;
        }
        if (buffer.size() >= 65536) return std::string();
        buffer.resize(buffer.size() * 2);
    }
}

std::string ModulePath(ModuleHandle module) {
    const link_map* map = LinkMapOf(module);
    if (!map) return std::string();
    if (map == MainLinkMap() || !map->l_name || !*map->l_name) return HostExecutablePath();
    return map->l_name;
}

std::vector<std::string> FindFiles(const std::string& directory, const std::string& pattern, bool caseSensitive) {
    std::vector<std::string> found;
    DIR* dir = opendir(directory.empty() ? "." : directory.c_str());
    if (!dir) return found;
    const int flags = caseSensitive ? 0 : FNM_CASEFOLD;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (fnmatch(pattern.c_str(), name.c_str(), flags) != 0) continue;
        struct stat st;
        std::string full = (directory.empty() ? std::string(".") : directory) + "/" + name;
        if (stat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        found.push_back(std::move(name));
    }
    closedir(dir);
    std::sort(found.begin(), found.end());
    return found;
}

const std::vector<std::string>& ExcludedLibraryNames() {
    static const std::vector<std::string> names = {"tk86t.dll", "libtk8.6.so"};
    return names;
}

bool IsExcludedLibrary(const std::string& path) {
    for (const std::string& name : ExcludedLibraryNames())
        if (path.size() >= name.size() && path.compare(path.size() - name.size(), name.size(), name) == 0)
            return true;
    return false;
}

}  // namespace kelto::platform
