#pragma once
// Scratch directories, file helpers and library checks for the host-layer tests.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace hosttest {

namespace fs = std::filesystem;

inline const std::string kPluginDir = KELTO_HOST_PLUGIN_DIR;

// A fresh directory under the system's temporary directory, removed with the object.
class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "kelto-host-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
    ASSERT_TRUE(out.good()) << path;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Copies a test plug-in (by its file name in the plug-in directory) to `to`.
inline void CopyPlugin(const std::string& name, const std::string& to) {
    fs::copy_file(kPluginDir + "/" + name, to, fs::copy_options::overwrite_existing);
}

// The handle of the library at `path` when it is loaded, else null; takes no reference.
inline void* LoadedHandle(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle;
}

}  // namespace hosttest
