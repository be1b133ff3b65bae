#pragma once
// Thermo SIEVE frame lists: a delimited text export whose header names the frame fields.
// The table is delivered on its side: each line of the file becomes a column (the header
// names first) and each selected field a row, with the average m/z and the average
// retention time computed in rows of their own.
#include <string>
#include <vector>

#include "formats/text/TextFile.h"
#include "plugin/Export.h"

// A grid of the file's texts, line by line, as the text reader delivers them. Storage grows
// with what is actually set (never with the size given at construction), and once a column
// selection is made only the selected fields of lines after the first are kept.
class KELTO_API ThermoMirroredReadSpreadSheetData : private ReadSpreadSheetData {
public:
    ThermoMirroredReadSpreadSheetData(int lines, int fields);

    // The grid as a cell sink for the text reader: columns are fields, rows are lines.
    ReadSpreadSheetData* Target() { return this; }
    // Keeps only the fields marked true (field 1 at index 0) of the lines after the first.
    void SelectFields(std::vector<bool> keep) { selected = std::move(keep); }
    // The text of a field of a line (both from 1); empty when never set.
    const std::string& Get(int line, int field) const;

    int GetNumberOfColumns() const override { return fields; }
    int GetNumberOfRows() const override { return lines; }

private:
    using ReadSpreadSheetData::Set;
    void Set(int col, int row, const char* text) override;
    void Set(int, int, float) override {}
    void SetDataSize(int, int) override {}

    int lines;
    int fields;
    std::vector<bool> selected;
    std::vector<std::vector<std::string>> grid;
};

class KELTO_API ThermoSIEVEFile : public TextFile {
public:
    enum SieveError { kNotSieveFile = 1536 };

    ThermoSIEVEFile();

    // The fields of the header line.
    int GetNumCols() override;
    // The frame lines (those after the header that are not blank) plus two: the table has
    // this many columns less one, the header names and every frame.
    int GetNumRows() override;
    void GetErrorMessage(char* buffer, unsigned int size) override;
    int Open(bool read, const char* path, QmImportOpenOptions* options) override;
    using TextFile::Read;
    int Read(ReadSpreadSheetData* target) override;

    // The header line starts FrameID, MZStart, MZStop, TimeStart, TimeStop, pValue, Ratio,
    // separated by TABs, semicolons or commas (whichever the line holds most of).
    static bool IsThermoSIEVEFile(const char* path);

protected:
    // The defaults, with the delimiter the header line uses.
    TextFileOptions GetTextFileOptions() override;

private:
    // The numbers (from 1) of the lines after the header that are not blank. False when
    // the file cannot be read or has too many lines.
    bool FindFrameLines(std::vector<int>& frameLines);
};
