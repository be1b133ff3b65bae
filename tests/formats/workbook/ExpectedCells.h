#pragma once
// One walk over a format's expected-value file, made from an independent reader by a script in
// tests/peers/: lines "file, cell (A1 form or -), kind, value" after a header line. Kind "code":
// the file must end with that error code; "n": the cell holds that number (compared in single
// precision); "s": that text (backslash escapes \t \r \n \\). Every other cell of the table must
// be missing, so a reader that delivers more than the peer saw fails too. A number beyond
// single precision is a missing cell: the tables hold numbers as floats.
#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/formats/text/TextTestSupport.h"

namespace kelto::test {

inline int ColumnOfCell(const std::string& cell) {
    int c = 0;
    for (char ch : cell)
        if (ch >= 'A' && ch <= 'Z') c = c * 26 + (ch - 'A' + 1);
    return c;
}

inline int RowOfCell(const std::string& cell) {
    return std::stoi(cell.substr(cell.find_first_of("0123456789")));
}

inline std::string UnescapeField(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        char e = s[++i];
        out += e == 't' ? '\t' : e == 'r' ? '\r' : e == 'n' ? '\n' : e;
    }
    return out;
}

// A table's cells as "n:2.5", "t:abc" or "-", separated by spaces, rows by "|".
inline std::string ShowCells(const FloatStringSpreadsheetData& table) {
    std::string out;
    for (int row = 1; row <= table.GetNumberOfRows(); ++row) {
        out += row > 1 ? "|" : "";
        for (int col = 1; col <= table.GetNumberOfColumns(); ++col) {
            out += col > 1 ? " " : "";
            if (table.IsString(col, row)) out += "t:" + table.GetStringValue(col, row);
            else if (table.IsMisVal(col, row)) out += "-";
            else out += "n:" + table.GetStringValue(col, row);
        }
    }
    return out;
}

// `codeOf(path)` reads a file with the format's class and gives the code it ends with.
inline void CheckExpectedCells(const std::string& folder, const std::string& format,
                               const std::function<int(const std::string&)>& codeOf, std::size_t minimumFiles) {
    std::ifstream expected(folder + "expected.tsv");
    ASSERT_TRUE(expected) << "no expected values at " << folder;
    std::map<std::string, std::vector<std::vector<std::string>>> byFile;
    std::string line;
    std::getline(expected, line);
    while (std::getline(expected, line)) {
        std::vector<std::string> f;
        std::stringstream in(line);
        for (std::string part; std::getline(in, part, '\t');) f.push_back(part);
        ASSERT_EQ(f.size(), 4u) << line;
        byFile[f[0]].push_back(f);
    }
    ASSERT_GE(byFile.size(), minimumFiles);
    for (const auto& [file, lines] : byFile) {
        SCOPED_TRACE(file);
        if (lines[0][2] == "code") {
            EXPECT_EQ(codeOf(folder + file), std::stoi(lines[0][3]));
            continue;
        }
        auto r = ReadThroughEntryPoints(format, folder + file);
        ASSERT_TRUE(r->Ok()) << r->error;
        int filled = 0, expectedFilled = 0;
        for (int row = 1; row <= r->Rows(); ++row)
            for (int col = 1; col <= r->Cols(); ++col) filled += !r->IsMissing(col, row);
        for (const auto& f : lines) {
            const int col = ColumnOfCell(f[1]), row = RowOfCell(f[1]);
            ASSERT_TRUE(col <= r->Cols() && row <= r->Rows()) << f[1] << " outside " << r->Size();
            if (f[2] == "n") {
                const float value = static_cast<float>(std::stod(f[3]));
                if (!std::isfinite(value)) {
                    EXPECT_TRUE(r->IsMissing(col, row)) << f[1];
                    continue;
                }
                EXPECT_EQ(r->Number(col, row), value) << f[1];
            } else {
                // The tables keep texts without surrounding white space.
                std::string text = UnescapeField(f[3]);
                text.erase(0, text.find_first_not_of(" \t\r\n"));
                text.erase(text.find_last_not_of(" \t\r\n") + 1);
                EXPECT_EQ(r->Text(col, row), text) << f[1];
            }
            ++expectedFilled;
        }
        EXPECT_EQ(filled, expectedFilled);
    }
}

}  // namespace kelto::test
