#pragma once
// Brookside wafer process files. A ".trn" or ".pkg" file is UTF-8 INI text whose section
// [Brookside] holds "Version = 1", one or more "Data = FILE" keys and at most one
// "Centering = FILE" key. The named files are given relative to the folder of the ".trn"
// file and must lie inside it.
//
// A data file is tab-delimited text, read by the text reader's rules: a header row
// "Wafer", "Phase", then the variable names; every further row one observation of a wafer
// (batch) in a phase (interval). All data files name the same variables in the same order.
// A centering file is tab-delimited text too: a row of variable names and a row of numbers,
// each the centre subtracted from that variable's values.
//
// Table: row 1 "Wafer", "Phase" and the variable names, then the observations of every data
// file in the order of the "Data" keys. Read only.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "formats/text/TextFile.h"
#include "plugin/Export.h"
#include "plugin/SprFileFactory.h"
#include "plugin/SpreadsheetFile.h"

class KELTO_API BrooksideFile : public SpreadsheetFile {
public:
    enum Error {
        kNotBrookside = 3072,            // no [Brookside] section, another version, no Data key
        kUnreadable = 3073,              // a file (the .trn one or one it names) missing or unreadable
        kOutsideFolder = 3074,           // a named path that is absolute or holds ".."
        kNoWaferPhase = 3075,            // a data header that does not begin Wafer, Phase
        kVariablesDiffer = 3076,         // data files naming different variables
        kUnknownCenteringVariable = 3077,
        kCentreNotNumber = 3078,
    };

    BrooksideFile();
    ~BrooksideFile() override;
    BrooksideFile(const BrooksideFile&) = delete;
    BrooksideFile& operator=(const BrooksideFile&) = delete;

    void Close() override;
    void GetErrorMessage(char* buffer, unsigned int size) override;
    // Reads the INI text, checks every named file's header and the centering file; the
    // observations themselves are left to the size pass and Read.
    int Open(bool read, const char* path, QmImportOpenOptions* options) override;
    int Read(ReadSpreadSheetData* data) override;

    // The path of `name`, as the INI text gives it, inside `folder`; empty when the name is
    // absolute or climbs out with "..". Either slash separates folders.
    static std::string ResolveInside(const std::string& folder, const std::string& name);

protected:
    int EstablishSize() override;

private:
    struct DataFile {
        std::string name;  // as the INI text gives it, for messages
        std::unique_ptr<TextFile> text;
        int lines = 0;  // the text reader's row count, header included
    };

    int Refuse(int code, std::string first, std::string second = std::string());
    // Opens a named file through the text reader; kUnreadable naming it when it cannot be.
    int OpenNamed(const std::string& folder, const std::string& name, std::unique_ptr<TextFile>& file);
    int ReadCentering(const std::string& name, TextFile& file);

    std::string path;
    bool reading = false;
    std::vector<DataFile> dataFiles;
    std::vector<std::string> variables;
    std::vector<std::optional<double>> centres;  // one per variable
    // What the current error's message names.
    std::string detail1, detail2;
};

class BrooksideFileFileFactory : public SprFileFactory {
public:
    BrooksideFileFileFactory();

protected:
    MyKindOfFile IsMyKindOfFile(const char* path) override;
    SpreadsheetFile* GetSpreadsheetFile() override;
};
