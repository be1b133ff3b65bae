#pragma once
// Scratch directories, files, test plug-in copies and a recording loader for the host-layer tests.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "data/SpreadsheetData.h"
#include "host/ImportDLLLoader.h"
#include "outside/TestFiles.h"

namespace hosttest {

namespace fs = std::filesystem;

// A scratch directory removed with the object; `dir / "name"` is a path inside it.
struct TempDir : kelto::test::TempDir {
    const std::string path = Path().string();
    std::string operator/(const std::string& name) const { return File(name); }
};
using kelto::test::ReadFile;
using kelto::test::WriteFile;

// Copies a test plug-in (by its file name in the plug-in directory) to `to`.
inline void CopyPlugin(const std::string& name, const std::string& to) {
    fs::copy_file(KELTO_HOST_PLUGIN_DIR "/" + name, to, fs::copy_options::overwrite_existing);
}

// The handle of the library at `path` when it is loaded, else null; takes no reference.
inline void* LoadedHandle(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle;
}

// Every cell as the writer's text, cells joined by '|' and rows by ';'.
inline std::string Cells(const SpreadsheetData& t) {
    std::string out;
    for (int r = 1; r <= t.GetNumberOfRows(); ++r) {
        for (int c = 1; c <= t.GetNumberOfColumns(); ++c) out += (c > 1 ? "|" : "") + t.GetStringValue(c, r);
        out += ';';
    }
    return out;
}

// The in-memory table, counting size changes and failing on one cell text when asked.
class Table : public FloatStringSpreadsheetData {
public:
    using FloatStringSpreadsheetData::Set;
    void SetDataSize(int cols, int rows) override {
        ++sizes;
        FloatStringSpreadsheetData::SetDataSize(cols, rows);
    }
    void Set(int col, int row, const char* text) override {
        if (text == failOn) fail();
        FloatStringSpreadsheetData::Set(col, row, text);
    }
    int sizes = 0;
    std::string failOn = "\x01";
    std::function<void()> fail = [] { throw std::runtime_error("the host's table failed"); };
};

// The extra plug-in directory of the detection and helper tests: the "alpha" test library and
// the hand-written "echo" one. The first loader of a process fixes the process-wide list, so
// every loader and helper of those tests passes this directory.
inline const char* ExtraDirectory() {
    static TempDir dir;
    static bool ready = (CopyPlugin("libhostalphasprfile.so", dir / "alpha.so"),
                         CopyPlugin("libhostminiechosprfile.so", dir / "echo.so"), true);
    return ready ? dir.path.c_str() : nullptr;
}

// A loader that records what SelectFormat is asked to choose from, and may answer for it.
class RecordingLoader : public ImportDLLLoader {
public:
    RecordingLoader() { Init(ExtraDirectory()); }

    int SelectFormat(std::list<InstanceInfo>& candidates, const char* path) override {
        ++calls;
        seen.clear();
        for (const InstanceInfo& e : candidates) seen.push_back(e.info->name);
        return forced ? *forced : ImportDLLLoader::SelectFormat(candidates, path);
    }

    // The list index of the last entry named `name`, or -1.
    int IndexOf(const std::string& name) {
        int found = -1;
        for (int i = 1; i <= SizeInfos(); ++i)
            if (name == GetInfo(i)->name) found = i;
        return found;
    }

    int calls = 0;
    std::vector<std::string> seen;
    const int* forced = nullptr;
};

}  // namespace hosttest
