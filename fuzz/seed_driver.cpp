// Runs a libFuzzer harness over seed files as an ordinary program: each argument is a file
// or a directory of files; each file is passed once to LLVMFuzzerTestOneInput. Used to keep
// every seed (and every past finding saved as a seed) passing in normal builds.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

static int RunOne(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 0;
}

int main(int argc, char** argv) {
    int failures = 0, runs = 0;
    for (int i = 1; i < argc; ++i) {
        fs::path p = argv[i];
        if (fs::is_directory(p)) {
            std::vector<fs::path> files;
            for (auto& e : fs::recursive_directory_iterator(p))
                if (e.is_regular_file()) files.push_back(e.path());
            std::sort(files.begin(), files.end());
            for (auto& f : files) failures += RunOne(f), ++runs;
        } else {
            failures += RunOne(p), ++runs;
        }
    }
    std::printf("ran %d seed%s\n", runs, runs == 1 ? "" : "s");
    return failures == 0 && runs > 0 ? 0 : 1;
}
