#pragma once
// Loading plug-in libraries and finding them on disk.
//
// A module handle is what dlopen returns. Every handle obtained here (OpenLibrary,
// CurrentLibraryHandle, MainProgramHandle) holds one reference and is given back with
// CloseLibrary.
//
// Symbol lookup answers only for symbols the module itself defines, as a Windows export
// lookup does. dlsym alone also searches a module's dependencies -- and, on the main program's
// handle, every library loaded globally -- so a host executable that merely links a plug-in
// library would otherwise seem to export that library's entry points and contribute its
// formats a second time.
#include <string>
#include <vector>

namespace kelto::platform {

using ModuleHandle = void*;

// The suffix of shared libraries on this platform.
inline constexpr const char* kSharedLibrarySuffix = ".so";

// Loads a library by path with all its symbols bound at once and kept private to it
// (RTLD_NOW | RTLD_LOCAL). A plug-in finds its own dependencies beside itself through its
// RUNPATH ($ORIGIN). Null on failure; `error` (optional) then receives the loader's message.
ModuleHandle OpenLibrary(const std::string& path, std::string* error = nullptr);

// The address of `name` when `module` itself defines it; null otherwise.
void* FindSymbol(ModuleHandle module, const char* name);

// Gives back one reference; the library is unloaded with its last reference. Null is ignored.
void CloseLibrary(ModuleHandle module);

// The library (or executable) this code is linked into, with one more reference.
ModuleHandle CurrentLibraryHandle();

// The main program. dlopen refuses a position-independent executable by path, so the host
// executable is reached through this handle; FindSymbol on it answers only for symbols the
// executable itself defines (and exports).
ModuleHandle MainProgramHandle();

// The host executable's full path (/proc/self/exe); empty when the system cannot tell.
std::string HostExecutablePath();

// The file a module was loaded from; empty for an unknown handle.
std::string ModulePath(ModuleHandle module);

// Names (not paths) of the entries of `directory` that match the shell wildcard `pattern`
// ("*", "?", "[...]", as fnmatch) and are regular files or links to them, sorted by byte value
// so that every run sees the same order. Case is ignored unless `caseSensitive`, as in the
// file search this stands in for ("*sprfile*.so" also finds "libFooSPRFILE.so"). A directory
// that cannot be read gives an empty list.
std::vector<std::string> FindFiles(const std::string& directory, const std::string& pattern,
                                   bool caseSensitive = false);

// Libraries that a search may find but that are never loaded as plug-ins: the Tk GUI
// library, under its Windows and its Linux name.
const std::vector<std::string>& ExcludedLibraryNames();

// Whether `path` ends with one of the excluded names (compared case-sensitively).
bool IsExcludedLibrary(const std::string& path);

}  // namespace kelto::platform
