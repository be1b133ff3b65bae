// Every .xlsx of the corpus: read sheet by sheet with both sheet readers, which must agree,
// and compared with the values two independent readers (openpyxl and SheetJS) gave, as
// precomputed by tests/peers/xlsx_expected.py into tests/corpus/xlsx/expected/.
#include <charconv>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "tests/formats/workbook/ExpectedCells.h"
#include "tests/formats/workbook/XlsxTestSupport.h"

namespace kelto::test::xlsx {
namespace {

using kelto::workbook::xlsx::CellName;
using kelto::workbook::xlsx::SheetReader;

const std::string kDir = std::string(KELTO_CORPUS_DIR) + "/xlsx/";

// Files that end with a code instead of a table.
const std::map<std::string, int> kRefused = {
    {"xlrd_sample.xlsx", 768},  // its only sheet holds a comment and no cell
};

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, '\t')) fields.push_back(field);
    if (!line.empty() && line.back() == '\t') fields.emplace_back();
    return fields;
}

// file -> sheet -> cell -> fields
using Table = std::map<std::string, std::map<std::string, std::map<std::string, std::vector<std::string>>>>;

Table LoadTsv(const std::string& path) {
    Table table;
    std::ifstream in(path);
    EXPECT_TRUE(in.good()) << path;
    std::string line;
    std::getline(in, line);  // heading
    while (std::getline(in, line)) {
        std::vector<std::string> f = SplitTabs(line);
        if (f.size() < 4) continue;
        for (std::string& field : f) field = UnescapeField(field);
        table[f[0]][f[1]][f[2]] = std::vector<std::string>(f.begin() + 3, f.end());
    }
    return table;
}

// Whether our value is what "kind:text" says.
bool Matches(const Value* ours, const std::string& peer) {
    if (peer.size() < 2 || peer[1] != ':') return false;
    const char kind = peer[0];
    const std::string text = peer.substr(2);
    if (kind == 'x') return false;
    if (kind == 's' && text.empty()) return !ours || std::get_if<std::string>(ours);
    if (!ours) return false;
    if (kind == 'n') {
        const double* d = std::get_if<double>(ours);
        double expected = 0;
        if (!d || std::from_chars(text.data(), text.data() + text.size(), expected).ec != std::errc()) return false;
        // -99 is the tables' missing value, so a real -99 is delivered as -99.0001.
        return *d == expected || (expected == -99.0 && *d == -99.0001);
    }
    const std::string* s = std::get_if<std::string>(ours);
    return s && *s == text;
}

TEST(XlsxCorpus, EveryFileReadsLikeThePeersOrEndsWithItsCode) {
    const Table peers = LoadTsv(kDir + "expected/peers.tsv");
    const Table overrides = LoadTsv(kDir + "expected/overrides.tsv");
    std::ifstream manifest(kDir + "MANIFEST.tsv");
    ASSERT_TRUE(manifest.good());
    std::string line;
    std::getline(manifest, line);
    int files = 0, compared = 0;
    while (std::getline(manifest, line)) {
        const std::string file = SplitTabs(line).at(0);
        SCOPED_TRACE(file);
        const std::string path = kDir + file;
        ASSERT_TRUE(std::ifstream(path).good()) << "missing corpus file";
        ++files;
        ExcelXLSXFile probe;
        ASSERT_EQ(probe.Open(true, path.c_str(), nullptr), 0);
        const std::vector<std::string> sheets = probe.GetWorksheets();
        const auto peerFile = peers.find(file);
        // Every sheet openpyxl reads cells from is one of ours.
        if (peerFile != peers.end())
            for (const auto& [sheet, cells] : peerFile->second)
                for (const auto& [ref, values] : cells)
                    if (!values.at(0).empty()) {
                        EXPECT_NE(std::find(sheets.begin(), sheets.end(), sheet), sheets.end()) << sheet;
                        break;
                    }
        for (std::size_t i = 0; i < sheets.size(); ++i) {
            SCOPED_TRACE(sheets[i]);
            ExcelFileOptions options;
            options.sheetIndexes = {static_cast<int>(i)};
            options.readOrder = 1;
            ReadResult fast = ReadXlsx(path, &options, SheetReader::Auto);
            ReadResult expat = ReadXlsx(path, &options, SheetReader::ExpatOnly);
            EXPECT_EQ(fast.read, expat.read);
            EXPECT_EQ(fast.table.Dump(), expat.table.Dump());
            EXPECT_EQ(fast.table.sizes, expat.table.sizes);
            EXPECT_EQ(fast.table.outside, 0);
            auto refused = kRefused.find(file);
            if (refused != kRefused.end()) {
                EXPECT_EQ(fast.read, refused->second) << fast.message;
                continue;
            }
            std::map<std::string, std::vector<std::string>> expected;
            if (peerFile != peers.end() && peerFile->second.count(sheets[i])) expected = peerFile->second.at(sheets[i]);
            if (expected.empty()) {
                EXPECT_EQ(fast.read, 768) << "a sheet without values";
                continue;
            }
            EXPECT_EQ(fast.read, 0) << fast.message;
            std::map<std::string, const Value*> ours;
            for (const auto& [at, value] : fast.table.cells) {
                if (const auto* s = std::get_if<std::string>(&value); s && s->empty()) continue;
                ours[CellName(at.first, at.second)] = &value;
            }
            for (const auto& [ref, values] : expected) {
                const auto found = ours.find(ref);
                const Value* mine = found == ours.end() ? nullptr : found->second;
                ++compared;
                const std::string shown = mine ? Show(*mine) : "nothing";
                auto o = overrides.find(file);
                if (o != overrides.end() && o->second.count(sheets[i]) && o->second.at(sheets[i]).count(ref)) {
                    EXPECT_TRUE(Matches(mine, o->second.at(sheets[i]).at(ref).at(0))) << ref << ": " << shown;
                    continue;
                }
                const std::string& openpyxl = values.at(0);
                const std::string& sheetjs = values.size() > 1 ? values[1] : std::string();
                if (!openpyxl.empty() && openpyxl == sheetjs) {
                    EXPECT_TRUE(Matches(mine, openpyxl)) << ref << ": " << shown << ", both peers " << openpyxl;
                } else {
                    EXPECT_TRUE(Matches(mine, openpyxl) || Matches(mine, sheetjs))
                        << ref << ": " << shown << ", openpyxl " << openpyxl << ", SheetJS " << sheetjs;
                }
            }
            // Nothing that neither peer has.
            for (const auto& [ref, value] : ours) EXPECT_TRUE(expected.count(ref)) << ref << " = " << Show(*value);
        }
    }
    EXPECT_GE(files, 18);
    EXPECT_GT(compared, 7000);
}

}  // namespace
}  // namespace kelto::test::xlsx
