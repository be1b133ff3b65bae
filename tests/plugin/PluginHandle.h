#pragma once
// A plug-in library loaded with dlopen and its entry points looked up by name, as a host
// does it: the tests go through the real C boundary, not through linked functions.
#include <dlfcn.h>

#include <stdexcept>
#include <string>

#include "plugin/QmImport.h"

struct PluginHandle {
    explicit PluginHandle(const std::string& path, int mode = RTLD_NOW | RTLD_LOCAL) {
        module = dlopen(path.c_str(), mode);
        if (!module) throw std::runtime_error(std::string("dlopen: ") + dlerror());
        Size = Sym<QmImportSizeFileFormatsSupportedFn>("QmImportSizeFileFormatsSupported");
        Info = Sym<QmImportGetFileFormatInfoFn>("QmImportGetFileFormatInfo");
        IsCorrect = Sym<QmImportIsCorrectFileTypeFn>("QmImportIsCorrectFileType");
        Open = Sym<QmImportOpenFn>("QmImportOpen");
        Close = Sym<QmImportCloseFn>("QmImportClose");
        LastError = Sym<QmImportGetLastErrorFn>("QmImportGetLastError");
        EstablishSize = Sym<QmImportEstablishSizeFn>("QmImportEstablishSize");
        Read = Sym<QmImportReadFn>("QmImportRead");
        Write = Sym<QmImportWriteFn>("QmImportWrite");
        Warning = Sym<QmImportGetWarningFn>("QmImportGetWarning");
        FileOptions = Sym<QmImportGetFileOptionsFn>("QmImportGetFileOptions");
        SetSpec = Sym<QmImportSetSpecFn>("QmImportSetSpec");
        FileRead = Sym<QmImportGetFileReadFn>("QmImportGetFileRead");
    }
    ~PluginHandle() {
        if (module) dlclose(module);
    }
    PluginHandle(const PluginHandle&) = delete;
    PluginHandle& operator=(const PluginHandle&) = delete;

    template <typename F>
    F Sym(const char* name) {
        void* p = dlsym(module, name);
        if (!p) throw std::runtime_error(std::string("missing entry point ") + name);
        return reinterpret_cast<F>(p);
    }

    void* module = nullptr;
    QmImportSizeFileFormatsSupportedFn Size;
    QmImportGetFileFormatInfoFn Info;
    QmImportIsCorrectFileTypeFn IsCorrect;
    QmImportOpenFn Open;
    QmImportCloseFn Close;
    QmImportGetLastErrorFn LastError;
    QmImportEstablishSizeFn EstablishSize;
    QmImportReadFn Read;
    QmImportWriteFn Write;
    QmImportGetWarningFn Warning;
    QmImportGetFileOptionsFn FileOptions;
    QmImportSetSpecFn SetSpec;
    QmImportGetFileReadFn FileRead;
};
