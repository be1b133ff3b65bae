#pragma once
// A plug-in library loaded with dlopen and its entry points looked up by name, as a host
// does it: the tests go through the real C boundary, not through linked functions.
#include <dlfcn.h>

#include <stdexcept>
#include <string>

#include "plugin/QmImport.h"

struct PluginHandle {
    explicit PluginHandle(const std::string& path, int mode = RTLD_NOW | RTLD_LOCAL) : module(dlopen(path.c_str(), mode)) {
        if (!module) throw std::runtime_error(std::string("dlopen: ") + dlerror());
    }
    ~PluginHandle() { dlclose(module); }
    PluginHandle(const PluginHandle&) = delete;
    PluginHandle& operator=(const PluginHandle&) = delete;

    template <typename F>
    F Sym(const char* name) {
        void* p = module ? dlsym(module, name) : nullptr;
        if (!p) throw std::runtime_error(std::string("missing entry point ") + name);
        return reinterpret_cast<F>(p);
    }

    void* module;
    // Looked up in declaration order, after the library is open.
#define KELTO_ENTRY(member, name) name##Fn member = Sym<name##Fn>(#name)
    KELTO_ENTRY(Size, QmImportSizeFileFormatsSupported);
    KELTO_ENTRY(Info, QmImportGetFileFormatInfo);
    KELTO_ENTRY(IsCorrect, QmImportIsCorrectFileType);
    KELTO_ENTRY(Open, QmImportOpen);
    KELTO_ENTRY(Close, QmImportClose);
    KELTO_ENTRY(LastError, QmImportGetLastError);
    KELTO_ENTRY(EstablishSize, QmImportEstablishSize);
    KELTO_ENTRY(Read, QmImportRead);
    KELTO_ENTRY(Write, QmImportWrite);
    KELTO_ENTRY(Warning, QmImportGetWarning);
    KELTO_ENTRY(FileOptions, QmImportGetFileOptions);
    KELTO_ENTRY(SetSpec, QmImportSetSpec);
    KELTO_ENTRY(FileRead, QmImportGetFileRead);
#undef KELTO_ENTRY
};
