#include "formats/text/ThermoSIEVEFile.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <fstream>

#include "outside/utl/QmString.h"
#include "outside/utl/QmTextIOStream.h"
#include "platform/Translate.h"
#include "plugin/SprFileFactory.h"

namespace {

// More lines than this are not a SIEVE export this reader takes on.
constexpr long long kMaxReads = 1000000;
// Detection looks no further than this into the header line.
constexpr std::size_t kDetectionBytes = 1 << 20;

// The first line of the file as bytes, without its line end; false when there is none.
bool FirstLine(const std::string& path, std::string& line, std::size_t maxBytes) {
    line.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    char buffer[4096];
    while (line.size() < maxBytes && in) {
        in.read(buffer, static_cast<std::streamsize>(std::min(sizeof buffer, maxBytes - line.size())));
        std::size_t n = static_cast<std::size_t>(in.gcount());
        if (n == 0) break;
        // LF, CR LF or a CR alone end the line.
        const char* end = std::find_if(buffer, buffer + n, [](char c) { return c == '\n' || c == '\r'; });
        line.append(buffer, static_cast<std::size_t>(end - buffer));
        if (end != buffer + n) break;
    }
    return !line.empty();
}

// TAB when TABs outnumber both others, else ';' when semicolons outnumber commas, else ','.
char ChooseDelimiter(const std::string& line) {
    auto tabs = std::count(line.begin(), line.end(), '\t');
    auto semicolons = std::count(line.begin(), line.end(), ';');
    auto commas = std::count(line.begin(), line.end(), ',');
    if (tabs > semicolons && tabs > commas) return '\t';
    return semicolons > commas ? ';' : ',';
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// The rows of the delivered table, from row 1. A null name marks a computed row.
constexpr std::array<const char*, 12> kRowFields = {
    "FrameID", "MZStart", "MZStop", nullptr, "TimeStart", "TimeStop", nullptr,
    "pValue", "Ratio", "UpperBound", "LowerBound", "FOM1",
};
constexpr int kAverageMzRow = 4;
constexpr int kAverageRtRow = 7;
constexpr const char* kIntensityPrefix = "Intensity_";

}  // namespace

// ---------------------------------------------------------------------------------------
// The grid

ThermoMirroredReadSpreadSheetData::ThermoMirroredReadSpreadSheetData(int l, int f)
    : lines(l < 1 || f < 1 ? 0 : l), fields(l < 1 || f < 1 ? 0 : f) {}

void ThermoMirroredReadSpreadSheetData::Set(int col, int row, const char* text) {
    if (row < 1 || row > lines || col < 1 || col > fields || !text || !*text) return;
    if (row > 1 && !selected.empty() &&
        (static_cast<std::size_t>(col) > selected.size() || !selected[static_cast<std::size_t>(col) - 1]))
        return;
    if (grid.size() < static_cast<std::size_t>(row)) grid.resize(static_cast<std::size_t>(row));
    std::vector<std::string>& cells = grid[static_cast<std::size_t>(row) - 1];
    if (cells.size() < static_cast<std::size_t>(col)) cells.resize(static_cast<std::size_t>(col));
    cells[static_cast<std::size_t>(col) - 1] = text;
}

const std::string& ThermoMirroredReadSpreadSheetData::Get(int line, int field) const {
    static const std::string empty;
    if (line < 1 || field < 1 || static_cast<std::size_t>(line) > grid.size()) return empty;
    const std::vector<std::string>& cells = grid[static_cast<std::size_t>(line) - 1];
    return static_cast<std::size_t>(field) <= cells.size() ? cells[static_cast<std::size_t>(field) - 1] : empty;
}

// ---------------------------------------------------------------------------------------
// The file

ThermoSIEVEFile::ThermoSIEVEFile() : TextFile("") {}

bool ThermoSIEVEFile::IsThermoSIEVEFile(const char* name) {
    static const char* const kNames[] = {"FrameID", "MZStart", "MZStop", "TimeStart", "TimeStop", "pValue", "Ratio"};
    try {
        std::string line;
        if (!name || !FirstLine(name, line, kDetectionBytes)) return false;
        const char delimiter = ChooseDelimiter(line);
        std::size_t pos = 0;
        for (std::size_t i = 0; i < std::size(kNames); ++i) {
            if (i > 0) {
                std::size_t next = line.find(delimiter, pos);
                if (next == std::string::npos) return false;
                pos = next + 1;
            }
            if (line.compare(pos, std::strlen(kNames[i]), kNames[i]) != 0) return false;
        }
        return true;
    } catch (...) {
        return false;
    }
}

TextFileOptions ThermoSIEVEFile::GetTextFileOptions() {
    TextFileOptions defaults;
    std::string line;
    if (FirstLine(path, line, kDetectionBytes)) defaults.SetDelimiter(std::string(1, ChooseDelimiter(line)));
    return defaults;
}

int ThermoSIEVEFile::GetNumCols() {
    std::string line;
    if (!FirstLine(path, line, SIZE_MAX)) return 0;
    const char delimiter = ChooseDelimiter(line);
    auto n = std::count(line.begin(), line.end(), delimiter) + 1;
    return n > INT_MAX ? 0 : static_cast<int>(n);
}

bool ThermoSIEVEFile::FindFrameLines(std::vector<int>& frameLines) {
    frameLines.clear();
    QmTextIOStream in(path, options.GetEncoding());
    if (!in) return false;
    std::string line;
    int number = 0;
    while (in.GetLine(line)) {
        if (++number > kMaxReads) return false;
        // A blank line (an exporter's last line break doubled, a gap) is no frame.
        if (number > 1 && line.find_first_not_of(" \t\r") != std::string::npos) frameLines.push_back(number);
    }
    return !in.Fail();
}

int ThermoSIEVEFile::GetNumRows() {
    std::vector<int> frameLines;
    if (!FindFrameLines(frameLines)) return 0;
    // The header, the frames and the last read, the one that finds the end.
    return static_cast<int>(frameLines.size()) + 2;
}

void ThermoSIEVEFile::GetErrorMessage(char* buffer, unsigned int size) {
    if (status == kNotSieveFile) {
        CopyMessage(kelto::Translate("The file does not seem to be an Thermo SIEVE File.").c_str(), buffer, size);
        return;
    }
    TextFile::GetErrorMessage(buffer, size);
}

int ThermoSIEVEFile::Open(bool read, const char* name, QmImportOpenOptions* record) {
    if (read) path = name ? name : "";
    return TextFile::Open(read, name, record);
}

int ThermoSIEVEFile::Read(ReadSpreadSheetData* target) {
    if (status != 0) return status;
    if (mode != 1) return Fail(kWrongDirection);
    std::vector<int> frameLines;
    if (!FindFrameLines(frameLines)) return 0;
    const int fields = GetNumCols();
    if (fields == 0 || !target) return 0;
    const int frames = static_cast<int>(frameLines.size());
    const int lines = frames > 0 ? frameLines.back() : 1;  // the last line read

    // The header line first: it says which fields are wanted from the other lines.
    ThermoMirroredReadSpreadSheetData grid(lines, fields);
    if (int rc = TextFile::Read(grid.Target(), fields, 1, 1, 1, options); rc != 0) return rc;
    std::vector<int> rowField(kRowFields.size() + 1, 0);  // table row -> field, from 1
    std::vector<bool> keep(static_cast<std::size_t>(fields), false);
    for (std::size_t r = 0; r < kRowFields.size(); ++r) {
        if (!kRowFields[r]) continue;
        for (int f = 1; f <= fields; ++f) {
            if (StartsWith(grid.Get(1, f), kRowFields[r])) {
                rowField[r + 1] = f;
                keep[static_cast<std::size_t>(f) - 1] = true;
                break;
            }
        }
        if (rowField[r + 1] == 0) return Fail(kNotSieveFile);
    }
    for (int f = 1; f <= fields; ++f) {
        if (StartsWith(grid.Get(1, f), kIntensityPrefix)) {
            rowField.push_back(f);
            keep[static_cast<std::size_t>(f) - 1] = true;
        }
    }
    grid.SelectFields(std::move(keep));
    if (int rc = TextFile::Read(grid.Target(), fields, lines, 1, 2, options); rc != 0) return rc;

    const int tableRows = static_cast<int>(rowField.size()) - 1;
    target->SetDataSize(frames + 1, tableRows);
    // The columns the target wants: the header names' column and the frames.
    std::vector<int> columns;
    for (int i = target->GetNextRow(0); i >= 1 && i <= frames + 1;) {
        columns.push_back(i);
        int next = target->GetNextRow(i);
        if (next <= i) break;
        i = next;
    }
    // Averages are read with "." as the decimal point, whatever the process's locale says.
    auto number = [&](int line, int field) { return QmString::qmstrtod(grid.Get(line, field).c_str(), nullptr); };
    for (int r = 1; r <= tableRows; ++r) {
        for (int i : columns) {
            // Column 1 holds the header's names, column i the frame on the (i-1)th line that is not blank.
            const int line = i == 1 ? 1 : frameLines[static_cast<std::size_t>(i) - 2];
            if (r == kAverageMzRow || r == kAverageRtRow) {
                const int first = rowField[static_cast<std::size_t>(r) - 2];
                const int second = rowField[static_cast<std::size_t>(r) - 1];
                if (i == 1)
                    target->Set(i, r, r == kAverageMzRow ? "AverageMZ" : "AverageRT");
                else
                    target->Set(i, r, (number(line, first) + number(line, second)) * 0.5);
            } else {
                target->Set(i, r, grid.Get(line, rowField[static_cast<std::size_t>(r)]).c_str());
            }
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------------------
// Registration

namespace {

class ThermoSIEVEFileFactory : public SprFileFactory {
public:
    ThermoSIEVEFileFactory()
        : SprFileFactory("Thermo SIEVE File", "Thermo SIEVE Files (*.txt)", "Thermo SIEVE File (*.txt)", 1, ".txt", 0, 1,
                         0, 1, 1, 1) {}

protected:
    MyKindOfFile IsMyKindOfFile(const char* path) override {
        return ThermoSIEVEFile::IsThermoSIEVEFile(path) ? LikelyMyKind : NotMyKind;
    }
    SpreadsheetFile* GetSpreadsheetFile() override { return new ThermoSIEVEFile(); }
};

ThermoSIEVEFileFactory g_thermoSieveFileFactory;

}  // namespace
