// Plug-in libraries for the host-layer tests, built from the plug-in core in two variants,
// HOST_PLUGIN_ALPHA and HOST_PLUGIN_BRAVO (see CMakeLists.txt).
//
// Every format reads the same files: rows of cells separated by ','. Tags on the first line
// decide detection: "<tag>!" makes the format with that tag answer "certainly mine", "<tag>?"
// "likely mine", no tag "not mine". Directive lines: "#rows0" (the size pass finds no rows),
// "#nocells" (the size pass finds no cell at all and reports -1 columns without a message),
// "#fail" (the read fails), "#warn <text>" (the read ends with that warning), "#cancel <step>"
// (the user cancels in "open", "read" or "options"), "#size <rows> <cols>" (the size pass
// reports that size), "#grow <rows> <cols>" (the read asks the host's table for that size
// first). Several files
// (the multi-file argument) are read one after another. Writing produces the format's name
// and one line per row, the cells' texts joined by ','.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "outside/utl/Exception.h"
#include "plugin/SprFileFactory.h"
#include "plugin/SpreadsheetFile.h"

using namespace std::string_literals;

namespace {

constexpr int kTestFailure = 701;

// The paths a file-name argument names: one path, or "dir\0name\0name\0\0".
std::vector<std::string> FileNames(const char* argument) {
    struct stat st;
    if (stat(argument, &st) != 0 || !S_ISDIR(st.st_mode)) return {argument};
    std::vector<std::string> files;
    const std::string dir = argument;
    for (const char* p = argument + dir.size() + 1; *p; p += std::strlen(p) + 1)
        files.push_back(p[0] == '/' ? std::string(p) : dir + "/" + p);
    return files;
}

class HostTestFile : public SpreadsheetFile {
public:
    explicit HostTestFile(const char* name) : name_(name) {}
    ~HostTestFile() override { HostTestFile::Close(); }

    int Open(bool read, const char* path, QmImportOpenOptions* options) override {
        files_ = FileNames(path);
        if (!read) {
            out_.open(files_.front());
            return out_ ? 0 : Fail(kTestFailure);
        }
        for (const std::string& file : files_) {
            std::ifstream in(file);
            if (!in) return Fail(kTestFailure);
            for (std::string line; std::getline(in, line);) {
                fail_ |= line == "#fail";
                noRows_ |= line == "#rows0";
                noCells_ |= line == "#nocells";
                if (line.rfind("#warn ", 0) == 0) warning_ = line.substr(6);
                if (line.rfind("#cancel ", 0) == 0) cancel_ = line.substr(8);
                if (line.rfind("#size ", 0) == 0) size_ = Pair(line.substr(6));
                if (line.rfind("#grow ", 0) == 0) grow_ = Pair(line.substr(6));
                if (line.empty() || line[0] == '#') continue;
                rows_.emplace_back();
                for (std::size_t at = 0, comma = 0; comma != std::string::npos; at = comma + 1) {
                    comma = line.find(',', at);
                    rows_.back().push_back(line.substr(at, comma - at));
                }
            }
        }
        if (cancel_ == "open") throw CancelException();
        // As the real readers do: an empty record is filled with this reader's options, in a
        // buffer the reader keeps.
        if (options && options->size == 0 && !options->data) {
            owned_ = "filled:" + files_.front();
            options->data = owned_.data();
            options->size = static_cast<int>(owned_.size());
        }
        return 0;
    }

    int Read(ReadSpreadSheetData* data) override {
        if (fail_) return Fail(kTestFailure);
        if (cancel_ == "read") throw CancelException();
        if (grow_.first) data->SetDataSize(grow_.second, grow_.first);
        for (std::size_t r = 0; r < rows_.size(); ++r)
            for (std::size_t c = 0; c < rows_[r].size(); ++c)
                data->Set(static_cast<int>(c + 1), static_cast<int>(r + 1), rows_[r][c].c_str());
        return 0;
    }

    int Write(const WriteSpreadSheetData* data) override {
        out_ << name_ << "\n";
        const int cols = data->GetNumberOfColumns();
        for (int r = 1; r <= data->GetNumberOfRows(); ++r)
            for (int c = 1; c <= cols; ++c) out_ << data->GetStringValue(c, r) << (c < cols ? "," : "\n");
        out_.flush();
        return out_ ? 0 : Fail(kTestFailure);
    }

    void Close() override {
        std::fill(owned_.begin(), owned_.end(), 'X');  // a caller still using the buffer sees this
        out_.close();
        SpreadsheetFile::Close();
    }

    void GetErrorMessage(char* buffer, unsigned int size) override {
        if (status == kTestFailure) return CopyMessage("test failure", buffer, size);
        SpreadsheetFile::GetErrorMessage(buffer, size);
    }

    QmImportOpenOptions* GetFileReadOptions(const char* path, bool flag) override {
        std::ifstream in(FileNames(path).front());
        for (std::string line; std::getline(in, line);)
            if (line == "#cancel options") throw CancelException();
        return SpreadsheetFile::GetFileReadOptions(path, flag);
    }

    const char* GetWarningMessage() override { return warning_.empty() ? nullptr : warning_.c_str(); }

    // "<format name>:<path>" for one file; nothing for several (the host then names the read
    // after the first file).
    const char* GetReadFile() const override {
        if (files_.size() != 1) return nullptr;
        readFile_ = name_ + ":" + files_.front();
        return readFile_.c_str();
    }

protected:
    int EstablishSize() override {
        numRows = noRows_ ? 0 : static_cast<int>(rows_.size());
        numCols = 0;
        for (const auto& row : rows_) numCols = std::max(numCols, static_cast<int>(row.size()));
        if (noCells_) numCols = -1;
        if (size_.first) std::tie(numRows, numCols) = size_;
        sizeKnown = true;
        return 0;
    }

private:
    static std::pair<int, int> Pair(const std::string& text) {
        std::pair<int, int> p{0, 0};
        std::sscanf(text.c_str(), "%d %d", &p.first, &p.second);
        return p;
    }

    std::string name_, warning_, owned_, cancel_;
    std::pair<int, int> size_{0, 0}, grow_{0, 0};
    std::vector<std::string> files_;
    std::vector<std::vector<std::string>> rows_;
    bool fail_ = false, noRows_ = false, noCells_ = false;
    std::ofstream out_;
    mutable std::string readFile_;
};

class HostTestFactory : public SprFileFactory {
public:
    // `flags`: 'r' reads, 'w' writes (the filter is also the save filter), 'm' reads several
    // files at once, 't' sets the table flag.
    HostTestFactory(const char* name, const char* filter, int extensionCount, const char* extensions,
                    const char* tag, std::string flags)
        : SprFileFactory(name, filter, Has(flags, 'w') ? filter : nullptr, extensionCount, extensions, Has(flags, 'w'),
                         Has(flags, 'r'), Has(flags, 'm'), Has(flags, 't'), 1, 1),
          name_(name),
          tag_(tag) {}

protected:
    MyKindOfFile IsMyKindOfFile(const char* path) override {
        std::ifstream in(FileNames(path).front());
        std::string line;
        std::getline(in, line);
        if (line.find(tag_ + "!") != std::string::npos) return IsMyKind;
        return line.find(tag_ + "?") != std::string::npos ? LikelyMyKind : NotMyKind;
    }
    SpreadsheetFile* GetSpreadsheetFile() override { return new HostTestFile(name_); }

private:
    static signed char Has(const std::string& flags, char flag) { return flags.find(flag) != std::string::npos; }
    const char* name_;
    std::string tag_;
};

#if defined(HOST_PLUGIN_ALPHA)
HostTestFactory g_alpha("Host Alpha", "Host Alpha (*.ha)", 1, ".ha\0", "alpha", "rwm");
HostTestFactory g_beta("Host Beta", "Host Beta (*.hb; *.hbb)", 2, ".hb\0.hbb\0", "beta", "rt");
HostTestFactory g_gamma("Host Gamma", "Host Gamma (*.hb)", 1, ".hb\0", "gamma", "rt");
// More extensions, a longer filter and a longer extension than the host's format table holds.
const std::string kManyExtensions = "." + std::string(300, 'x') + "\0.m2\0.m3\0.m4\0.m5\0.m6\0.m7\0.m8\0.m9\0.m10\0.m11\0"s;
HostTestFactory g_many("Host Many", "Host Many (*.m1; *.m2; *.m3; *.m4; *.m5; *.m6; *.m7; *.m8; *.m9; *.m10; *.m11)",
                       11, kManyExtensions.c_str(), "many", "rt");
HostTestFactory g_shared("Host Shared", "Host Shared (*.hs)", 1, ".hs\0", "shared", "rt");
HostTestFactory g_writer("Host Writer", "Host Writer (*.hw)", 1, ".hw\0", "writer", "wt");
#elif defined(HOST_PLUGIN_BRAVO)
HostTestFactory g_echo("HOST ECHO", "Echo (*.he)", 1, ".he\0", "bravoecho", "rt");
HostTestFactory g_shared("HOST SHARED", "Shared (*.hs)", 1, ".hs\0", "bravo", "rt");
#endif

}  // namespace
