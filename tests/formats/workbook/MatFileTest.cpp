// MAT-files: the corpus against scipy's values, level 4 layouts and byte orders, level 5
// placement, the writer's round trip, and hostile headers.
#include <cmath>
#include <filesystem>
#include <tuple>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "data/SpreadsheetData.h"
#include "formats/workbook/MatFile.h"
#include "outside/TestFiles.h"
#include "tests/formats/workbook/ExpectedCells.h"
#include "tests/formats/workbook/MatFileBuilder.h"

namespace kelto::test::mat {
namespace {

// The in-memory table takes 64-bit integers through its float Set; this one keeps them, so
// the tests see which Set a reader called.
class Table : public FloatStringSpreadsheetData {
public:
    using FloatStringSpreadsheetData::Set;
    void Set(int col, int row, std::int64_t v) override {
        if (col >= 1 && row >= 1 && col <= GetNumberOfColumns() && row <= GetNumberOfRows())
            GetFloatStringMatrix().Set(col, row, v);
    }
};

struct Result {
    int open = -1, read = -1, rows = -1, cols = -1;
    std::string error;
};

// Open, size and read as a host does.
template <typename File = MatFile>
Result ReadMat(const std::string& path, FloatStringSpreadsheetData& table) {
    Result r;
    File file;
    if ((r.open = file.Open(true, path.c_str(), nullptr)) == 0) {
        r.rows = file.GetNumRows();
        r.cols = file.GetNumCols();
        if (r.rows >= 0 && r.cols >= 0) {
            table.SetDataSize(r.cols, r.rows);
            r.read = file.Read(&table);
        } else {
            r.read = file.GetStatus();  // the size pass failed: its code
        }
    }
    r.error = ErrorOf(file);
    return r;
}

std::string Save(const TempDir& dir, const std::string& name, const Bytes& bytes) {
    WriteFile(dir.File(name), std::string(bytes.begin(), bytes.end()));
    return dir.File(name);
}

std::string Cell(const FloatStringSpreadsheetData& t, int c, int r) {
    if (t.IsMisVal(c, r)) return "-";
    if (t.IsInt64(c, r)) return "i" + std::to_string(t.GetInt64(c, r));
    if (t.IsString(c, r)) return "s" + t.GetStringValue(c, r);
    std::ostringstream s;
    s << t.GetFloatData(c, r);
    return s.str();
}

// The whole table, rows separated by "|" and cells by ",".
std::string Dump(const FloatStringSpreadsheetData& t) {
    std::string out;
    for (int r = 1; r <= t.GetNumberOfRows(); ++r) {
        if (r > 1) out += "|";
        for (int c = 1; c <= t.GetNumberOfColumns(); ++c) out += (c > 1 ? "," : "") + Cell(t, c, r);
    }
    return out;
}

// Keeps whichever layout the scan found, as a host's options would.
class LayoutMatFile : public MatFile {
protected:
    bool SetOptions() override {
        MatFile::SetOptions();
        obsnumLayout = foundObsnumLayout;
        identifierLayout = foundIdentifierLayout;
        return status != 0;
    }
};

// ---------------------------------------------------------------------------------------------
// The corpus against the values scipy.io.loadmat gives (tests/peers/mat_expected.py).

TEST(MatFileCorpus, EveryFileMatchesScipyOrEndsWithItsCode) {
    const std::string dir = std::string(KELTO_CORPUS_DIR) + "/mat/";
    struct Expected {
        std::string error;
        int rows = -1, cols = -1;
        std::vector<std::vector<std::string>> cells;
    };
    std::map<std::string, Expected> expected;
    std::ifstream in(dir + "expected.tsv");
    ASSERT_TRUE(in) << "missing expected.tsv";
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> f;
        std::stringstream s(line);
        for (std::string x; std::getline(s, x, '\t');) f.push_back(x);
        ASSERT_GE(f.size(), 3u) << line;
        Expected& e = expected[f[0]];
        if (f[1] == "error") e.error = f[2];
        else if (f[1] == "size") e.rows = std::stoi(f[2]), e.cols = std::stoi(f[3]);
        else e.cells.push_back({f[2], f[3], f[4], f.size() > 5 ? UnescapeField(f[5]) : ""});
    }
    // Every file of the manifest has its expectation, and is there.
    std::ifstream manifest(dir + "MANIFEST.tsv");
    ASSERT_TRUE(manifest);
    int files = 0;
    for (std::string line; std::getline(manifest, line);) {
        const std::string name = line.substr(0, line.find('\t'));
        if (name == "file" || name.empty()) continue;
        ++files;
        EXPECT_TRUE(expected.count(name)) << name << " has no expected values";
    }
    EXPECT_EQ(files, static_cast<int>(expected.size()));

    int tables = 0;
    for (const auto& [name, e] : expected) {
        SCOPED_TRACE(name);
        Table table;
        Result r = ReadMat(dir + name, table);
        ASSERT_TRUE(std::filesystem::exists(dir + name)) << "missing corpus file";
        const int code = r.open != 0 ? r.open : r.read;
        if (e.error == "*") {
            // scipy fails on it: ours need only end cleanly, saying why when it refuses.
            EXPECT_TRUE(code == 0 || !r.error.empty());
            continue;
        }
        if (!e.error.empty()) {
            EXPECT_EQ(std::to_string(code), e.error) << r.error;
            EXPECT_FALSE(r.error.empty());
            continue;
        }
        ASSERT_EQ(r.open, 0) << r.error;
        ASSERT_EQ(r.read, 0) << r.error;
        ++tables;
        ASSERT_EQ(table.GetNumberOfRows(), e.rows);
        ASSERT_EQ(table.GetNumberOfColumns(), e.cols);
        std::vector<std::vector<bool>> seen(static_cast<std::size_t>(e.rows) + 1,
                                            std::vector<bool>(static_cast<std::size_t>(e.cols) + 1));
        for (const auto& c : e.cells) {
            const int row = std::stoi(c[0]), col = std::stoi(c[1]);
            seen[row][col] = true;
            if (c[2] == "i") {
                EXPECT_TRUE(table.IsInt64(col, row)) << row << "," << col;
                EXPECT_EQ(table.GetInt64(col, row), std::stoll(c[3])) << row << "," << col;
            } else if (c[2] == "n") {
                EXPECT_EQ(table.GetFloatData(col, row), static_cast<float>(std::stod(c[3]))) << row << "," << col;
            } else {
                EXPECT_EQ(table.GetStringValue(col, row), c[3]) << row << "," << col;
            }
        }
        for (int row = 1; row <= e.rows; ++row)
            for (int col = 1; col <= e.cols; ++col)
                if (!seen[row][col]) {
                    EXPECT_TRUE(table.IsMisVal(col, row)) << row << "," << col << " " << Cell(table, col, row);
                }
    }
    EXPECT_GT(tables, 40);
}

// ---------------------------------------------------------------------------------------------
// Level 4

TEST(MatFileLevel4, FilesGiveTheirTablesOrCodes) {
    const double nan = std::nan("");
    Level4 be{"x", 3, 2, 0, 0, true, 0, {1, 2, 3, 4.5, 5, 6}};
    Level4 sparse{"s", 3, 3, 0, 2, false, 0, {1, 3, 3, 2, 1, 3, 7, 8, 0}};
    Level4 huge{"h", 0x7FFFFFFF, 0x7FFFFFFF, 0, 0, false, 0, {1}};
    Level4 shortData{"d", 2, 2, 0, 0, false, 0, {1, 2, 3}};
    Level4 badType{"p", 1, 1, 0, 3, false, 0, {1}};
    Bytes badPrecision = Level4{"x", 1, 1, 0, 0, false, 0, {1}}.Build();
    for (std::uint8_t b : Level4{"p", 1, 1, 0, 0, false, 0, {1}}.Build()) badPrecision.push_back(b);
    badPrecision[30] = 60;  // the second header's type word
    Level4 complex{"c", 1, 1, 0, 0, false, 1, {1, 2}};
    Level4 wildSparse{"w", 2, 3, 0, 2, false, 0, {1, 30000, 1, 30000, 2, 0}};
    struct Case {
        const char* what;
        Bytes bytes;
        std::string table;  // or the code
    } cases[] = {
        {"little-endian doubles", Level4{"x", 3, 2, 0, 0, false, 0, {1, 2, 3, 4.5, 5, 6}}.Build(), "1,4.5|2,5|3,6"},
        {"big-endian doubles", be.Build(), "1,4.5|2,5|3,6"},
        {"big-endian int16", Level4{"x", 1, 2, 3, 0, true, 0, {-7, 300}}.Build(), "-7,300"},
        {"u8", Level4{"x", 2, 1, 5, 0, false, 0, {200, 7}}.Build(), "200|7"},
        {"single with NaN", Level4{"x", 1, 3, 1, 0, false, 0, {nan, 1.5, INFINITY}}.Build(), "-,1.5,-"},
        {"text as doubles", Level4Text("t", {"abc", "def"}).Build(), "sabc|sdef"},
        {"text as bytes", Level4Text("t", {"abc", "def"}, 5).Build(), "sabc|sdef"},
        {"big-endian text", [] { auto m = Level4Text("t", {"ab"}); m.big = true; return m.Build(); }(), "sab"},
        {"sparse 3x3", sparse.Build(), "0,7,0|0,0,0|8,0,0"},
        {"sparse area too large for the file", wildSparse.Build(), "1028"},
        {"2^31 x 2^31 elements", huge.Build(), "1028"},
        {"data cut short", shortData.Build(), "1028"},
        {"type 3", badType.Build(), "1027"},
        {"precision 6 in the second header", badPrecision, "1027"},
        {"complex", complex.Build(), "1032"},
        {"header cut short", Bytes{0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}, "1025"},
        {"not a MAT-file", Bytes{'P', 'K', 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "1025"},
        {"version 7.3", Header5(false, "MATLAB 7.3 MAT-file, Platform: GLNXA64"), "1034"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Table table;
        Result r = ReadMat(Save(dir, "f.mat", c.bytes), table);
        const int code = r.open ? r.open : r.read;
        if (c.table.find_first_not_of("0123456789") == std::string::npos) {
            EXPECT_EQ(std::to_string(code), c.table) << r.error;
            EXPECT_FALSE(r.error.empty());
        } else {
            ASSERT_EQ(code, 0) << r.error;
            EXPECT_EQ(Dump(table), c.table);
        }
    }
}

TEST(MatFileLevel4, MatrixListAndCurrentMatrix) {
    TempDir dir;
    Bytes file = Level4{"a_rather_long_matrix_name", 2, 1, 0, 0, false, 0, {1, 2}}.Build();
    Bytes t = Level4Text("t", {"xy"}).Build();
    Bytes s = Level4{"s", 2, 3, 0, 2, false, 0, {1, 4, 1, 5, 9, 0}}.Build();
    file.insert(file.end(), t.begin(), t.end());
    file.insert(file.end(), s.begin(), s.end());
    MatFile f;
    ASSERT_EQ(f.Open(true, Save(dir, "m.mat", file).c_str(), nullptr), 0);
    std::vector<std::string> list;
    f.GetMatrixList(list);
    EXPECT_EQ(list, (std::vector<std::string>{"a_rather_long_matrix  2x1  numeric matrix", "t  1x2  string matrix",
                                               "s  4x5  sparse matrix"}));
    EXPECT_EQ(f.GetNumberOfMatrices(), 3);
    f.SetCurMatrix(2);
    EXPECT_EQ(f.GetNumRows(), 4);
    EXPECT_EQ(f.GetNumCols(), 5);
    f.SetCurMatrix(3);
    EXPECT_EQ(f.GetCurMatrix(), -1);
    EXPECT_EQ(f.GetNumRows(), -1);
}

TEST(MatFileLevel4, LayoutsPlaceIdentifiersAroundTheData) {
    TempDir dir;
    auto join = [](std::vector<Bytes> parts) {
        Bytes out;
        for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    const Bytes obsnum = join({Level4{"DATA", 2, 2, 0, 0, false, 0, {1, 2, 3, 4}}.Build(),
                               Level4{"OBSNUM", 2, 1, 0, 0, false, 0, {10, 20}}.Build(),
                               Level4Text("OBSNAM", {"o1", "o2"}).Build(), Level4Text("VARNAM", {"v1", "v2"}).Build()});
    const Bytes ids = join({Level4{"DATA", 2, 2, 0, 0, false, 0, {1, 2, 3, 4}}.Build(),
                            Level4Text("OBSID1", {"a", "b"}).Build(),
                            Level4{"OBSID2", 2, 1, 0, 0, false, 0, {7, 8}}.Build(),
                            Level4Text("VARID1", {"x", "y"}).Build()});
    // A number beyond the identifier matrices' count names no slot.
    const Bytes outOfRange = join({Level4{"DATA", 1, 1, 0, 0, false, 0, {5}}.Build(),
                                   Level4{"OBSID99", 1, 1, 0, 0, false, 0, {1}}.Build(),
                                   Level4{"VARID1", 1, 1, 0, 0, false, 0, {2}}.Build()});
    struct Case {
        const char* what;
        const Bytes& bytes;
        std::string layout, plain;
    } cases[] = {
        {"OBSNUM", obsnum, "-,-,sv1,sv2|10,so1,1,3|20,so2,2,4", "1,3|2,4"},
        {"OBSID/VARID", ids, "-,-,sx,sy|sa,7,1,3|sb,8,2,4", "1,3|2,4"},
        {"OBSID99", outOfRange, "5", "5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Table withLayout, plain;
        Result r = ReadMat<LayoutMatFile>(Save(dir, "l.mat", c.bytes), withLayout);
        ASSERT_EQ(r.read, 0) << r.error;
        EXPECT_EQ(Dump(withLayout), c.layout);
        r = ReadMat(Save(dir, "l.mat", c.bytes), plain);
        ASSERT_EQ(r.read, 0) << r.error;
        EXPECT_EQ(Dump(plain), c.plain);
    }
}

// ---------------------------------------------------------------------------------------------
// Writing

// A table whose names end where its first data cell is.
class NamedTable : public Table {
public:
    int firstCol = 1, firstRow = 1;
    bool GetFirstDataCell(int* col, int* row) const override {
        *col = firstCol, *row = firstRow;
        return true;
    }
};

// A table as text lines: cells separated by ",", "-" for missing.
void Fill(FloatStringSpreadsheetData& t, const std::vector<std::vector<std::string>>& rows) {
    t.SetDataSize(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()));
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (std::size_t c = 0; c < rows[r].size(); ++c)
            if (rows[r][c] != "-") t.Set(static_cast<int>(c) + 1, static_cast<int>(r) + 1, rows[r][c].c_str());
}

TEST(MatFileWrite, IdentifiersRoundTripAndDefaultGivesData) {
    TempDir dir;
    NamedTable source;
    source.firstCol = 3, source.firstRow = 3;
    Fill(source, {{"-", "-", "w1", "w2", "w3"},
                  {"-", "-", "100", "200", "300"},
                  {"s1", "0.5", "1.5", "-", "3"},
                  {"1234567", "7", "4", "5", "6"}});
    const std::string path = dir.File("out.mat");
    MatFile writer;
    ASSERT_EQ(writer.Open(false, path.c_str(), nullptr), 0);
    ASSERT_EQ(writer.Write(&source), 0) << ErrorOf(writer);
    writer.Close();

    Table back, dataOnly;
    Result r = ReadMat<LayoutMatFile>(path, back);
    ASSERT_EQ(r.read, 0) << r.error;
    EXPECT_EQ(Dump(back), Dump(source));
    r = ReadMat(path, dataOnly);
    ASSERT_EQ(r.read, 0) << r.error;
    EXPECT_EQ(Dump(dataOnly), "1.5,-,3|4,5,6");

    // Names carry their real length; numbers in text identifiers keep every digit.
    const std::string bytes = ReadFile(path);
    EXPECT_NE(bytes.find(std::string("OBSID2\0", 7)), std::string::npos);
    MatFile list;
    ASSERT_EQ(list.Open(true, path.c_str(), nullptr), 0);
    std::vector<std::string> names;
    list.GetMatrixList(names);
    EXPECT_EQ(names, (std::vector<std::string>{"DATA  2x3  numeric matrix", "OBSID1  2x7  string matrix",
                                                "OBSID2  2x1  numeric matrix", "VARID1  3x2  string matrix",
                                                "VARID2  3x1  numeric matrix"}));
}

TEST(MatFileWrite, TwoDigitIdentifierNamesAndRefusals) {
    TempDir dir;
    // Ten identifier columns: "OBSID10" is written with its 8 bytes and read back in place.
    std::vector<std::vector<std::string>> rows(2, std::vector<std::string>(11));
    for (int c = 0; c < 11; ++c) rows[0][c] = c < 10 ? "-" : "v", rows[1][c] = std::to_string(c + 1);
    NamedTable wide;
    Table back;
    wide.firstCol = 11, wide.firstRow = 2;
    Fill(wide, rows);
    const std::string path = dir.File("wide.mat");
    {
        MatFile w;
        ASSERT_EQ(w.Open(false, path.c_str(), nullptr), 0);
        ASSERT_EQ(w.Write(&wide), 0);
    }
    Result r = ReadMat<LayoutMatFile>(path, back);
    ASSERT_EQ(r.read, 0) << r.error;
    EXPECT_EQ(Dump(back), Dump(wide));
    EXPECT_NE(ReadFile(path).find(std::string("\x08\0\0\0OBSID10\0", 12)), std::string::npos);

    // More identifier matrices than a reader keeps, or no data at all: refused.
    NamedTable tooMany, empty;
    tooMany.firstCol = 21, tooMany.firstRow = 2;
    Fill(tooMany, {std::vector<std::string>(21, "-"), std::vector<std::string>(21, "1")});
    for (auto* t : {&tooMany, &empty}) {
        MatFile w;
        ASSERT_EQ(w.Open(false, dir.File("x.mat").c_str(), nullptr), 0);
        EXPECT_EQ(w.Write(t), MatFile::kCannotExport);
        EXPECT_EQ(ErrorOf(w), "This type of list cannot be exported to MATLAB.");
    }
    MatFile reading;
    ASSERT_EQ(reading.Open(true, path.c_str(), nullptr), 0);
    EXPECT_EQ(reading.Write(&wide), SpreadsheetFile::kWrongDirection);
}

// ---------------------------------------------------------------------------------------------
// Level 5

TEST(MatFileLevel5, PlacementCodesAndMessages) {
    const Bytes a = DoubleMatrix("a", 2, 2, {1, 2, 3, 4});
    const Bytes b = DoubleMatrix("b", 1, 3, {5, 6, 7});
    const Bytes i64 = Matrix("big", mxINT64, {1, 2}, {Element(miINT64, Values<std::int64_t>({1234567890123456789LL, -5}))});
    const Bytes sparse = Matrix("sp", mxSPARSE, {2, 2},
                                {Element(miINT32, Values<std::int32_t>({1, 0})), Element(miINT32, Values<std::int32_t>({0, 1, 2})),
                                 Element(miDOUBLE, Values<double>({9, 8}))});
    const Bytes badSparse = Matrix("sp", mxSPARSE, {2, 2},
                                   {Element(miINT32, Values<std::int32_t>({5, 0})), Element(miINT32, Values<std::int32_t>({0, 1, 2})),
                                    Element(miDOUBLE, Values<double>({9, 8}))});
    const Bytes badType = Matrix("q", mxDOUBLE, {1, 1}, {Element(8, Bytes(8))});
    const Bytes cell = Matrix("c", mxCELL, {1, 1}, {});
    struct Case {
        const char* what;
        Bytes file;
        std::string table;  // or the code and message
    } cases[] = {
        {"one matrix", Level5({a}), "1,3|2,4"},
        {"big-endian", Level5({DoubleMatrix("a", 2, 2, {1, 2, 3, 4}, true)}, true), "1,3|2,4"},
        {"two matrices stack", Level5({a, b}), "1,3,-|2,4,-|5,6,7"},
        {"each variable compressed", Level5({Compressed(a), Compressed(b)}), "1,3,-|2,4,-|5,6,7"},
        {"names around the data",
         Level5({CharMatrix("VARNAM", {"x", "y"}), CharMatrix("OBSNAM", {"r1", "r2"}), a}), "-,sx,sy|sr1,1,3|sr2,2,4"},
        {"64-bit integers", Level5({i64}), "i1234567890123456789,i-5"},
        {"sparse", Level5({sparse}), "0,8|9,0"},
        {"cells are skipped", Level5({cell, b}), "5,6,7"},
        {"only a cell", Level5({cell}), "1031 No data found."},
        {"names that do not fit", Level5({CharMatrix("VARNAM", {"x"}), a}),
         "1031 Dimensions of VARNAM matrix and data matrix do not agree."},
        {"no data matrix", Level5({CharMatrix("OBSNAM", {"x"})}), "1031 There is no data matrix."},
        {"sparse index outside", Level5({badSparse}), "1028"},
        {"a long row stacked on a long column",
         Level5({DoubleMatrix("r", 1, 20000, std::vector<double>(20000, 1.0)),
                 DoubleMatrix("c", 20000, 1, std::vector<double>(20000, 2.0))}),
         "1028"},
        {"unknown data type", Level5({badType}), "1033"},
        {"complex", Level5({Matrix("z", mxDOUBLE, {1, 1}, {Element(miDOUBLE, Values<double>({1})),
                                                            Element(miDOUBLE, Values<double>({2}))}, false, 0x800)}),
         "1032"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Table table;
        Result r = ReadMat(Save(dir, "f.mat", c.file), table);
        ASSERT_EQ(r.open, 0) << r.error;
        if (std::isdigit(static_cast<unsigned char>(c.table[0])) && c.table.size() >= 4 &&
            c.table.find_first_not_of("0123456789", 0) >= 4 && c.table.substr(0, 2) == "10") {
            const std::string code = c.table.substr(0, 4);
            EXPECT_EQ(std::to_string(r.read), code) << r.error;
            if (c.table.size() > 5) {
                EXPECT_EQ(r.error, c.table.substr(5));
            }
        } else {
            ASSERT_EQ(r.read, 0) << r.error;
            EXPECT_EQ(Dump(table), c.table);
        }
    }
}

TEST(MatFileLevel5, CompressedElementsAreBoundedByWhatTheyCanHold) {
    TempDir dir;
    // An all-zero 400 x 500 matrix compresses about 1000:1 and is read whole.
    const Bytes zeros = Compressed(DoubleMatrix("z", 400, 500, std::vector<double>(200000, 0.0)));
    Table table;
    Result r = ReadMat(Save(dir, "z.mat", Level5({zeros})), table);
    ASSERT_EQ(r.read, 0) << r.error;
    EXPECT_EQ(table.GetNumberOfRows(), 400);
    EXPECT_EQ(table.GetNumberOfColumns(), 500);
    EXPECT_EQ(table.GetFloatData(500, 400), 0.0f);

    // A matrix tag that claims far more than its compressed bytes could give, a stream that
    // ends early, and one whose checksum is wrong: each ends with its code.
    Bytes claim = DoubleMatrix("z", 2, 2, {1, 2, 3, 4});
    platform::StoreLE<std::uint32_t>(claim.data() + 4, 0x7FFFFFF0);
    Bytes cut = Compressed(DoubleMatrix("c", 50, 50, std::vector<double>(2500, 1.0)));
    cut.resize(cut.size() - 8);
    platform::StoreLE<std::uint32_t>(cut.data() + 4, static_cast<std::uint32_t>(cut.size() - 8));
    Bytes sum = Compressed(DoubleMatrix("a", 2, 2, {1, 2, 3, 4}));
    sum.back() ^= 0xFF;
    // A stream that goes on inflating (a megabyte of zeros) after the element its tag declares.
    Bytes endless = DoubleMatrix("e", 1, 1, {1});
    endless.resize(endless.size() + (1 << 20), 0);
    Bytes bomb = Compressed(endless);
    for (const auto& [what, bytes, code] : {std::tuple{"endless", bomb, MatFile::kCorrupt},
                                            std::tuple{"claim", Compressed(claim), MatFile::kBadMatrix},
                                            std::tuple{"cut", cut, MatFile::kBadMatrix},
                                            std::tuple{"checksum", sum, MatFile::kCorrupt}}) {
        SCOPED_TRACE(what);
        Table t;
        EXPECT_EQ(ReadMat(Save(dir, "b.mat", Level5({bytes})), t).read, code);
    }
}

}  // namespace
}  // namespace kelto::test::mat
