#pragma once
// Temporary files for the utility library's tests, and glibc's iconv as an encoder and
// decoder independent of ICU.
#include <iconv.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <streambuf>
#include <string>

#include <gtest/gtest.h>

namespace kelto::test {

// A fresh directory, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir() : path_(std::filesystem::temp_directory_path() / ("kelto-outside-" + std::to_string(std::random_device()()) + std::to_string(std::random_device()()))) {
        std::filesystem::create_directories(path_);
    }
    ~TempDir() { std::filesystem::remove_all(path_, ec_); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string File(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
    std::error_code ec_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// An input stream buffer that cannot seek, like a pipe: a reader cannot ask how much is left
// and must not trust a length it reads.
class PipeBuf : public std::streambuf {
public:
    explicit PipeBuf(std::string data) : data_(std::move(data)) { setg(data_.data(), data_.data(), data_.data() + data_.size()); }

private:
    std::string data_;
};

// Converts with glibc's iconv; nothing when iconv lacks the encoding or the text does not
// convert completely.
inline std::optional<std::string> Iconv(const char* to, const char* from, const std::string& text) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string out(text.size() * 4 + 64, '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* o = out.data();
    std::size_t outLeft = out.size();
    std::size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
    bool ok = r != static_cast<std::size_t>(-1) && iconv(cd, nullptr, nullptr, &o, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    if (!ok || inLeft != 0) return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}

}  // namespace kelto::test
