#pragma once
// The process-wide plug-in setup of the detection and helper tests: the extra plug-in
// directory holds the "alpha" test library and the hand-written "echo" library. The first
// loader of the process fixes it, so every loader and helper of these tests passes it.
#include <cstring>
#include <list>
#include <string>
#include <vector>

#include "HostTestSupport.h"
#include "host/ImportDLLLoader.h"

namespace hosttest {

inline const std::string& ExtraDirectory() {
    static TempDir dir;
    static bool ready = [] {
        CopyPlugin("libhostalphasprfile.so", dir / "alpha.so");
        CopyPlugin("libhostminiechosprfile.so", dir / "echo.so");
        return true;
    }();
    (void)ready;
    return dir.path();
}

// A loader that records what SelectFormat is asked to choose from.
class RecordingLoader : public ImportDLLLoader {
public:
    RecordingLoader() { Init(ExtraDirectory().c_str()); }

    int SelectFormat(std::list<InstanceInfo>& candidates, const char* path) override {
        ++calls;
        seen.clear();
        for (const InstanceInfo& e : candidates) seen.push_back(e.info->name);
        if (forced) return *forced;
        return ImportDLLLoader::SelectFormat(candidates, path);
    }

    // The list index of the entry named `name` (the last one of that name), or -1.
    int IndexOf(const std::string& name) {
        int found = -1;
        for (int i = 1; i <= SizeInfos(); ++i)
            if (name == GetInfo(i)->name) found = i;
        return found;
    }

    int calls = 0;
    std::vector<std::string> seen;
    const int* forced = nullptr;  // answer of SelectFormat instead of the default
};

}  // namespace hosttest
