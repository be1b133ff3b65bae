#include "formats/text/BrooksideFile.h"

#include <sys/stat.h>

#include <cctype>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>

#include "data/FloatString.h"
#include "outside/utl/Exception.h"
#include "outside/utl/IniFileSection.h"
#include "outside/utl/QmString.h"
#include "platform/Translate.h"
#include "plugin/TableBound.h"

namespace {

BrooksideFileFileFactory g_brooksideFileFileFactory;

std::string Trimmed(const std::string& text) {
    const std::size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos) return std::string();
    return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

bool EqualsNoCase(const std::string& text, const char* word) {
    std::size_t i = 0;
    for (; i < text.size() && word[i]; ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(word[i])))
            return false;
    return i == text.size() && !word[i];
}

// The number a cell's text stands for when the table would type it as one; nothing for
// texts (leading-zero codes such as "007" included), blanks and the missing value -99.
std::optional<double> NumberOf(const char* text) {
    FloatString cell;
    cell.Set(text);
    if (cell.IsString() || cell.IsMissing(true)) return std::nullopt;
    // From the text itself where it reads whole, so that no float rounding comes before
    // the subtraction; otherwise (a number behind Unicode spaces) the cell's own value.
    char* end = nullptr;
    const double d = QmString::qmstrtod(text, &end);
    if (end && end != text) {
        while (*end == ' ' || *end == '\t' || *end == '\r') ++end;
        if (*end == '\0') return d;
    }
    return cell.IsInt64() ? static_cast<double>(cell.GetIntValue()) : static_cast<double>(cell.GetFloatValue());
}

// The cells of the first `wanted` lines of a text file, as the text reader splits them.
class LineCells : public ReadSpreadSheetData {
public:
    explicit LineCells(int wanted) : rows(static_cast<std::size_t>(wanted)) {}
    using ReadSpreadSheetData::Set;
    void Set(int col, int row, const char* text) override {
        if (row < 1 || static_cast<std::size_t>(row) > rows.size() || col < 1) return;
        std::vector<std::string>& cells = rows[static_cast<std::size_t>(row) - 1];
        if (cells.size() < static_cast<std::size_t>(col)) cells.resize(static_cast<std::size_t>(col));
        cells[static_cast<std::size_t>(col) - 1] = text;
    }
    void Set(int, int, float) override {}
    void SetDataSize(int, int) override {}
    int GetNextRow(int row) const override { return row < static_cast<int>(rows.size()) ? row + 1 : -1; }
    int GetNumberOfColumns() const override { return 0; }
    int GetNumberOfRows() const override { return static_cast<int>(rows.size()); }

    const std::vector<std::string>& Line(int row) const { return rows[static_cast<std::size_t>(row) - 1]; }

private:
    std::vector<std::vector<std::string>> rows;
};

}  // namespace

// Carries the cells of one data file into the table: line L of the file is table row
// base + L (its header line, never delivered, stands on the row before its first
// observation), and the target's row order is followed through GetNextRow, which is also
// where the host sees progress and where a cancelled read stops. Centred variables have
// their centre subtracted from every cell that is a number.
class SAReadBrooksideData : public ReadSpreadSheetData {
public:
    SAReadBrooksideData(ReadSpreadSheetData& target, int base, int lines, int tableRows,
                        const std::vector<std::optional<double>>& centres)
        : target(target), base(base), lines(lines), tableRows(tableRows), centres(centres) {}

    using ReadSpreadSheetData::Set;
    void Set(int col, int line, const char* text) override {
        const std::size_t variable = static_cast<std::size_t>(col) - 3;
        if (col >= 3 && variable < centres.size() && centres[variable]) {
            if (std::optional<double> value = NumberOf(text)) {
                target.Set(col, base + line, *value - *centres[variable]);
                return;
            }
        }
        target.Set(col, base + line, text);
    }
    void Set(int col, int line, float value) override { target.Set(col, base + line, value); }
    void SetDataSize(int, int) override {}
    int GetNumberOfColumns() const override { return target.GetNumberOfColumns(); }
    int GetNumberOfRows() const override { return lines; }

    int GetNextRow(int line) const override {
        const int row = base + line;
        const int next = target.GetNextRow(row);
        // A row that does not move on, or one beyond the table (a host that stopped the
        // read answers so), ends the whole read; one beyond this file only this file's.
        if (next <= row || next > tableRows) {
            stopped = true;
            return -1;
        }
        return next - base <= lines ? next - base : -1;
    }
    bool Stopped() const { return stopped; }

private:
    ReadSpreadSheetData& target;
    const int base;
    const int lines;
    const int tableRows;
    const std::vector<std::optional<double>>& centres;
    mutable bool stopped = false;
};

BrooksideFile::BrooksideFile() = default;
BrooksideFile::~BrooksideFile() = default;

int BrooksideFile::Refuse(int code, std::string first, std::string second) {
    detail1 = std::move(first);
    detail2 = std::move(second);
    return Fail(code);
}

std::string BrooksideFile::ResolveInside(const std::string& folder, const std::string& name) {
    std::string relative = name;
    for (char& c : relative)
        if (c == '\\') c = '/';
    // A NUL would cut the name where the file system sees it, after it was judged here.
    if (relative.empty() || relative[0] == '/' || relative.find('\0') != std::string::npos) return std::string();
    // A drive ("C:data.txt", "C:/data.txt") is as absolute as a leading slash.
    if (relative.size() >= 2 && std::isalpha(static_cast<unsigned char>(relative[0])) && relative[1] == ':')
        return std::string();
    for (std::size_t at = 0; at <= relative.size();) {
        std::size_t end = relative.find('/', at);
        if (end == std::string::npos) end = relative.size();
        if (relative.compare(at, end - at, "..") == 0 && end - at == 2) return std::string();
        at = end + 1;
    }
    if (folder.empty()) return relative;
    return (std::filesystem::path(folder) / relative).string();
}

int BrooksideFile::OpenNamed(const std::string& folder, const std::string& name, std::unique_ptr<TextFile>& file) {
    if (Trimmed(name).empty()) return Refuse(kUnreadable, name);
    const std::string full = ResolveInside(folder, name);
    if (full.empty()) return Refuse(kOutsideFolder, name, std::filesystem::path(path).filename().string());
    file = std::make_unique<TextFile>();
    // The text reader's own rules: the encoding it detects, TAB as the delimiter, and its
    // refusal of binary files.
    if (file->Open(true, full.c_str(), nullptr) != 0) return Refuse(kUnreadable, name);
    return 0;
}

int BrooksideFile::ReadCentering(const std::string& name, TextFile& file) {
    LineCells cells(2);
    if (file.Read(&cells, INT_MAX, 2, 1, 1, file.GetOptions()) != 0) return Refuse(kUnreadable, name);
    const std::vector<std::string>& names = cells.Line(1);
    const std::vector<std::string>& values = cells.Line(2);
    for (std::size_t k = 0; k < names.size(); ++k) {
        const std::string variable = Trimmed(names[k]);
        if (variable.empty()) continue;  // a column without a name centres nothing
        bool known = false;
        std::optional<double> centre;
        if (k < values.size()) centre = NumberOf(values[k].c_str());
        for (std::size_t v = 0; v < variables.size(); ++v) {
            if (variables[v] != variable) continue;
            if (!centre) return Refuse(kCentreNotNumber, variable, name);
            centres[v] = centre;
            known = true;
        }
        if (!known) return Refuse(kUnknownCenteringVariable, name, variable);
    }
    return 0;
}

int BrooksideFile::Open(bool read, const char* name, QmImportOpenOptions*) {
    if (status) return status;
    if (!read) return Fail(kWrongDirection);
    path = name ? name : "";
    reading = true;
    dataFiles.clear();
    variables.clear();
    const std::string fileName = std::filesystem::path(path).filename().string();
    try {
        struct stat st;
        if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return Refuse(kUnreadable, fileName);
        std::ifstream in(path, std::ios::binary);
        if (!in) return Refuse(kUnreadable, fileName);
        // The family's INI reader: a byte-order mark, CR LF, ";" and "#" comments, key and
        // section names in any case, blanks and double quotes around values all pass.
        IniFileSection section(in, "Brookside");
        if (in.bad()) return Refuse(kUnreadable, fileName);
        std::string version;
        const std::vector<std::string> data = section.ReadKeys("Data");
        const std::vector<std::string> centering = section.ReadKeys("Centering");
        if (!section.IsValid() || !section.ReadKey("Version", version) || version != "1" || data.empty() ||
            centering.size() > 1)
            return Refuse(kNotBrookside, fileName);

        const std::string folder = std::filesystem::path(path).parent_path().string();
        for (const std::string& dataName : data) {
            DataFile file;
            file.name = dataName;
            if (int code = OpenNamed(folder, dataName, file.text)) return code;
            LineCells header(1);
            if (file.text->Read(&header, INT_MAX, 1, 1, 1, file.text->GetOptions()) != 0)
                return Refuse(kUnreadable, dataName);
            const std::vector<std::string>& cells = header.Line(1);
            if (cells.size() < 2 || !EqualsNoCase(Trimmed(cells[0]), "Wafer") || !EqualsNoCase(Trimmed(cells[1]), "Phase"))
                return Refuse(kNoWaferPhase, dataName);
            std::vector<std::string> names;
            for (std::size_t c = 2; c < cells.size(); ++c) names.push_back(Trimmed(cells[c]));
            if (dataFiles.empty())
                variables = std::move(names);
            else if (names != variables)
                return Refuse(kVariablesDiffer, dataName, dataFiles.front().name);
            dataFiles.push_back(std::move(file));
        }
        centres.assign(variables.size(), std::nullopt);
        if (!centering.empty()) {
            std::unique_ptr<TextFile> file;
            if (int code = OpenNamed(folder, centering.front(), file)) return code;
            if (int code = ReadCentering(centering.front(), *file)) return code;
        }
    } catch (const CancelException&) {
        throw;
    } catch (const std::exception&) {
        return Refuse(kUnreadable, fileName);
    }
    return 0;
}

int BrooksideFile::EstablishSize() {
    if (status) return status;
    if (!reading) return kWrongDirection;
    std::int64_t rows = 1;
    for (DataFile& file : dataFiles) {
        // The text reader's count: every line a row, a last empty line excepted.
        const int lines = file.text->GetNumRows();
        if (lines < 1) return Refuse(kUnreadable, file.name);
        file.lines = lines;
        rows += lines - 1;
    }
    const std::int64_t cols = 2 + static_cast<std::int64_t>(variables.size());
    try {
        // Only the cell bound here: the host measures the table against its memory itself.
        kelto::CheckTableSize(rows, cols, 0);
    } catch (const kelto::TableTooLarge&) {
        return Fail(kSizeError);
    }
    numRows = static_cast<int>(rows);
    numCols = static_cast<int>(cols);
    sizeKnown = true;
    return 0;
}

int BrooksideFile::Read(ReadSpreadSheetData* data) {
    if (status) return status;
    if (!reading) return Fail(kWrongDirection);
    if (!data) return 0;
    if (!sizeKnown && EstablishSize() != 0) return status;
    const std::string* current = &path;
    try {
        if (data->GetNextRow(0) == 1) {
            data->Set(1, 1, "Wafer");
            data->Set(2, 1, "Phase");
            for (std::size_t v = 0; v < variables.size(); ++v) data->Set(static_cast<int>(v) + 3, 1, variables[v].c_str());
        }
        int base = 0;
        for (DataFile& file : dataFiles) {
            current = &file.name;
            if (file.lines > 1) {
                SAReadBrooksideData sink(*data, base, file.lines, numRows, centres);
                if (file.text->Read(&sink, numCols, file.lines, 1, 2, file.text->GetOptions()) != 0)
                    return Refuse(kUnreadable, file.name);
                if (sink.Stopped()) break;
            }
            base += file.lines - 1;
        }
    } catch (const CancelException&) {
        throw;  // the user stopped the import
    } catch (const std::exception&) {
        return Refuse(kUnreadable, *current);
    }
    return 0;
}

void BrooksideFile::Close() {
    dataFiles.clear();
    variables.clear();
    centres.clear();
    reading = false;
    SpreadsheetFile::Close();
}

void BrooksideFile::GetErrorMessage(char* buffer, unsigned int size) {
    std::string text;
    switch (status) {
        case kNotBrookside:
            text = kelto::TranslateFormat(
                "%1% is not a Brookside file: it needs a [Brookside] section with Version = 1, at least one Data key "
                "and at most one Centering key.",
                detail1);
            break;
        case kUnreadable: text = kelto::TranslateFormat("The file %1% is missing or cannot be read.", detail1); break;
        case kOutsideFolder:
            text = kelto::TranslateFormat(
                "The file name %1% in %2% leaves the folder of that file: names must be relative and must not "
                "contain \"..\".",
                detail1, detail2);
            break;
        case kNoWaferPhase:
            text = kelto::TranslateFormat("The header row of %1% does not begin with Wafer and Phase.", detail1);
            break;
        case kVariablesDiffer:
            text = kelto::TranslateFormat("The data file %1% names other variables than %2%.", detail1, detail2);
            break;
        case kUnknownCenteringVariable:
            text = kelto::TranslateFormat("The centering file %1% names the variable %2%, which the data files lack.",
                                          detail1, detail2);
            break;
        case kCentreNotNumber:
            text = kelto::TranslateFormat("The centre of %1% in %2% is not a number.", detail1, detail2);
            break;
        default: SpreadsheetFile::GetErrorMessage(buffer, size); return;
    }
    CopyMessage(text.c_str(), buffer, size);
}

BrooksideFileFileFactory::BrooksideFileFileFactory()
    : SprFileFactory("Brookside File", "Brookside Files (*.trn; *.pkg)", nullptr, 2, ".trn\0.pkg", 0, 1, 0, 1, 0, 1) {}

SprFileFactory::MyKindOfFile BrooksideFileFileFactory::IsMyKindOfFile(const char*) { return PossiblyMyKind; }

SpreadsheetFile* BrooksideFileFileFactory::GetSpreadsheetFile() { return new BrooksideFile; }
