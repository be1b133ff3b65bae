// Plug-in libraries for the host-layer tests, built from the plug-in core. Two variants:
// HOST_PLUGIN_ALPHA and HOST_PLUGIN_BRAVO (see CMakeLists.txt).
//
// Every format reads the same simple files. The first line may carry kind tags: "<tag>!"
// makes the format with that tag answer "certainly mine", "<tag>?" "likely mine"; a format
// whose tag is absent answers "not mine". Lines starting with '#' are directives:
//   #rows0          the size pass finds no rows
//   #warn <text>    the read ends with that warning
//   #failopen       Open fails (message "test open failure")
//   #failread       Read fails (message "test read failure")
//   #echo-options   cell (1,1) becomes the options bytes as text
// Every other line is a row of cells separated by ','. Several files (the multi-file
// argument) are read one after another. Writing produces "<format name>\n" and one line per
// row with the cells' texts joined by ','.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "plugin/SprFileFactory.h"
#include "plugin/SpreadsheetFile.h"

namespace {

constexpr int kOpenFailure = 701;
constexpr int kReadFailure = 702;

bool IsDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The paths a file-name argument names: one path, or "dir\0name\0name\0\0".
std::vector<std::string> FileNames(const char* argument) {
    std::vector<std::string> files;
    std::string first = argument;
    if (!IsDirectory(first)) {
        files.push_back(first);
        return files;
    }
    for (const char* p = argument + first.size() + 1; *p; p += std::strlen(p) + 1)
        files.push_back(p[0] == '/' ? std::string(p) : first + "/" + p);
    return files;
}

std::string FirstLine(const char* path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

class HostTestFile : public SpreadsheetFile {
public:
    explicit HostTestFile(const char* name) : name_(name) {}
    ~HostTestFile() override { HostTestFile::Close(); }

    int Open(bool read, const char* path, QmImportOpenOptions* options) override {
        read_ = read;
        files_ = FileNames(path);
        if (!read) {
            out_.open(files_.front());
            return out_ ? 0 : Fail(kOpenFailure);
        }
        if (options && options->size > 0 && options->data) echo_.assign(options->data, options->size);
        for (const std::string& file : files_) {
            std::ifstream in(file);
            if (!in) return Fail(kOpenFailure);
            std::string line;
            while (std::getline(in, line)) {
                if (line.rfind("#failopen", 0) == 0) return Fail(kOpenFailure);
                if (line.rfind("#rows0", 0) == 0) noRows_ = true;
                if (line.rfind("#failread", 0) == 0) failRead_ = true;
                if (line.rfind("#echo-options", 0) == 0) echoOptions_ = true;
                if (line.rfind("#warn ", 0) == 0) warning_ = line.substr(6);
                if (line.empty() || line[0] == '#') continue;
                rows_.emplace_back();
                std::size_t at = 0;
                while (true) {
                    std::size_t comma = line.find(',', at);
                    rows_.back().push_back(line.substr(at, comma == std::string::npos ? comma : comma - at));
                    if (comma == std::string::npos) break;
                    at = comma + 1;
                }
            }
        }
        // As the real readers do: an empty record is filled with this reader's options, in a
        // buffer the reader keeps and frees when it is closed.
        if (options && options->size == 0 && !options->data) {
            std::string text = "filled:" + files_.front();
            ownedOptions_ = new char[text.size()];
            std::memcpy(ownedOptions_, text.data(), text.size());
            options->data = ownedOptions_;
            options->size = static_cast<int>(text.size());
        }
        return 0;
    }

    int Read(ReadSpreadSheetData* data) override {
        if (!read_) return Fail(kWrongDirection);
        if (failRead_) return Fail(kReadFailure);
        for (std::size_t r = 0; r < rows_.size(); ++r)
            for (std::size_t c = 0; c < rows_[r].size(); ++c)
                data->Set(static_cast<int>(c + 1), static_cast<int>(r + 1), rows_[r][c].c_str());
        if (echoOptions_) data->Set(1, 1, echo_.c_str());
        return 0;
    }

    int Write(const WriteSpreadSheetData* data) override {
        if (read_) return Fail(kWrongDirection);
        out_ << name_ << "\n";
        for (int r = 1; r <= data->GetNumberOfRows(); ++r) {
            for (int c = 1; c <= data->GetNumberOfColumns(); ++c) out_ << (c > 1 ? "," : "") << data->GetStringValue(c, r);
            out_ << "\n";
        }
        out_.flush();
        return out_ ? 0 : Fail(kReadFailure);
    }

    void Close() override {
        if (ownedOptions_) {
            // Scribbled over first, so that a caller still holding the buffer sees it.
            std::memset(ownedOptions_, 'X', std::strlen("filled:") + files_.front().size());
            delete[] ownedOptions_;
            ownedOptions_ = nullptr;
        }
        if (out_.is_open()) out_.close();
        SpreadsheetFile::Close();
    }

    void GetErrorMessage(char* buffer, unsigned int size) override {
        if (status == kOpenFailure) return CopyMessage("test open failure", buffer, size);
        if (status == kReadFailure) return CopyMessage("test read failure", buffer, size);
        SpreadsheetFile::GetErrorMessage(buffer, size);
    }

    const char* GetWarningMessage() override { return warning_.empty() ? nullptr : warning_.c_str(); }

    // Single files: "<format name>:<path>"; several files: nothing (the host then names the
    // read after the first file).
    const char* GetReadFile() const override {
        if (files_.size() != 1) return nullptr;
        readFile_ = name_ + ":" + files_.front();
        return readFile_.c_str();
    }

    // "defaults:<number of files>:<paths joined by |>:<flag>"
    QmImportOpenOptions* GetFileReadOptions(const char* path, bool flag) override {
        std::vector<std::string> files = FileNames(path);
        std::string text = "defaults:" + std::to_string(files.size()) + ":";
        for (std::size_t i = 0; i < files.size(); ++i) text += (i ? "|" : "") + files[i];
        text += flag ? ":1" : ":0";
        auto* options = new QmImportOpenOptions;
        options->size = static_cast<int>(text.size());
        options->data = new char[text.size()];
        std::memcpy(options->data, text.data(), text.size());
        return options;
    }

protected:
    int EstablishSize() override {
        numRows = noRows_ ? 0 : static_cast<int>(rows_.size());
        numCols = 0;
        for (const auto& row : rows_) numCols = std::max(numCols, static_cast<int>(row.size()));
        sizeKnown = true;
        return 0;
    }

private:
    std::string name_;
    bool read_ = true;
    std::vector<std::string> files_;
    std::vector<std::vector<std::string>> rows_;
    std::string warning_;
    std::string echo_;
    bool noRows_ = false;
    bool failRead_ = false;
    bool echoOptions_ = false;
    char* ownedOptions_ = nullptr;
    std::ofstream out_;
    mutable std::string readFile_;
};

class HostTestFactory : public SprFileFactory {
public:
    // `flags`: canWrite, canRead, multiFile, tableFlag.
    HostTestFactory(const char* name, const char* filter, const char* saveFilter, int extensionCount,
                    const char* extensions, const char* tag, signed char canWrite, signed char canRead,
                    signed char multiFile, signed char tableFlag)
        : SprFileFactory(name, filter, saveFilter, extensionCount, extensions, canWrite, canRead, multiFile, tableFlag,
                         1, 1),
          name_(name),
          tag_(tag) {}

protected:
    MyKindOfFile IsMyKindOfFile(const char* path) override {
        std::string line = FirstLine(FileNames(path).front().c_str());
        if (line.find(tag_ + "!") != std::string::npos) return IsMyKind;
        if (line.find(tag_ + "?") != std::string::npos) return LikelyMyKind;
        return NotMyKind;
    }
    SpreadsheetFile* GetSpreadsheetFile() override { return new HostTestFile(name_); }

private:
    const char* name_;
    std::string tag_;
};

#if defined(HOST_PLUGIN_ALPHA)
HostTestFactory g_alpha("Host Alpha", "Host Alpha (*.ha)", "Host Alpha (*.ha)", 1, ".ha\0", "alpha", 1, 1, 1, 0);
HostTestFactory g_beta("Host Beta", "Host Beta (*.hb; *.hbb)", nullptr, 2, ".hb\0.hbb\0", "beta", 0, 1, 0, 1);
HostTestFactory g_gamma("Host Gamma", "Host Gamma (*.hb)", nullptr, 1, ".hb\0", "gamma", 0, 1, 0, 1);
// More extensions, a longer filter and a longer extension than the host's format table holds.
#define HOST_X10 "xxxxxxxxxx"
#define HOST_X100 HOST_X10 HOST_X10 HOST_X10 HOST_X10 HOST_X10 HOST_X10 HOST_X10 HOST_X10 HOST_X10 HOST_X10
HostTestFactory g_many("Host Many",
                       "Host Many (*.m1; *.m2; *.m3; *.m4; *.m5; *.m6; *.m7; *.m8; *.m9; *.m10; *.m11; *.m12)",
                       nullptr, 12, "." HOST_X100 HOST_X100 HOST_X100 "\0.m2\0.m3\0.m4\0.m5\0.m6\0.m7\0.m8\0.m9\0.m10\0.m11\0.m12\0",
                       "many", 0, 1, 0, 1);
HostTestFactory g_shared("Host Shared", "Host Shared (*.hs)", nullptr, 1, ".hs\0", "shared", 0, 1, 0, 1);
HostTestFactory g_writer("Host Writer", "Host Writer (*.hw)", "Host Writer (*.hw)", 1, ".hw\0", "writer", 1, 0, 0, 1);
#elif defined(HOST_PLUGIN_BRAVO)
// The registry orders by filter: "Bt1", "Bt2", "Echo", "Shared".
HostTestFactory g_twice1("Bravo Twice", "Bt1 (*.bt)", nullptr, 1, ".bt\0", "bt1", 0, 1, 0, 1);
HostTestFactory g_twice2("BRAVO TWICE", "Bt2 (*.bt)", nullptr, 1, ".bt\0", "bt2", 0, 1, 0, 1);
HostTestFactory g_echo("HOST ECHO", "Echo (*.he)", nullptr, 1, ".he\0", "bravoecho", 0, 1, 0, 1);
HostTestFactory g_shared("HOST SHARED", "Shared (*.hs)", nullptr, 1, ".hs\0", "bravo", 0, 1, 0, 1);
#endif

}  // namespace
