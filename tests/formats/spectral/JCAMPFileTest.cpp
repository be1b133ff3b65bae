// The JCAMP-DX reader: the real corpus against an independent reader's values, the same
// spectrum in several encodings, the value decoder, and small files written here for the
// layout, the options, the failure codes and the faults mended over the original behaviour.
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "formats/spectral/JCAMPFile.h"
#include "formats/spectral/JcampValues.h"
#include "host/ImportOptionsHelper.h"
#include "outside/utl/BinaryIO.h"
#include "outside/utl/ConfigurationSection.h"
#include "tests/formats/spectral/SpectralTestSupport.h"

using namespace kelto::test;
using namespace kelto::test::spectral;

namespace {

const std::string kCorpus = KELTO_CORPUS_DIR "/jcamp/";

struct ReadResult {
    int open = -1, rows = -1, cols = -1, read = -1;
    int warning = JCAMPFile::kNoWarning;
    std::string error, warningText;
    FloatStringSpreadsheetData table;
};

// Opens `path` (a single path, or the multi-file argument), optionally selects blocks, and
// reads; the first failing step's code stays in the result.
void Read(ReadResult& r, const std::string& path, const std::vector<int>* blocks = nullptr,
          QmImportOpenOptions* options = nullptr) {
    JCAMPFile file;
    r.open = file.Open(true, path.c_str(), options);
    if (r.open == 0) {
        if (blocks) file.SelectJCAMPBlock(*blocks);
        r.rows = file.GetNumRows();
        r.cols = file.GetNumCols();
        if (r.rows >= 0 && r.cols >= 0) {
            r.table.SetDataSize(r.cols, r.rows);
            r.read = file.Read(&r.table);
        } else {
            r.read = file.GetStatus();
        }
    }
    r.error = MessageOf(file);
    const char* w = file.GetWarningMessage();
    r.warningText = w ? w : "";
    r.warning = file.JCAMPWarning() ? 1 : 0;
}

// Row 2 holds a number from column 3 on for every point delivered.
int PointsIn(const FloatStringSpreadsheetData& t) {
    int n = 0;
    while (n + 3 <= t.GetNumberOfColumns() && t.IsFloat(n + 3, 2)) ++n;
    return n;
}

bool Near(double ours, double peer, double scale) {
    if (std::isnan(peer)) return false;
    return std::fabs(ours - peer) <= 2e-6 * std::max(std::fabs(ours), std::fabs(peer)) + 1e-7 * scale;
}

// A file of the given text in the test's folder.
class JcampText : public ::testing::Test {
protected:
    std::string File(const std::string& name, const std::string& text) {
        WriteFile(dir.File(name), text);
        return dir.File(name);
    }
    TempDir dir;
};

const char* kSimple =
    "##TITLE=simple\r\n##JCAMP-DX=4.24\r\n##DATA TYPE=INFRARED SPECTRUM\r\n##XUNITS=1/CM\r\n"
    "##FIRSTX=400\r\n##LASTX=410\r\n##YFACTOR=0.5\r\n##NPOINTS=6\r\n##XYDATA=(X++(Y..Y))\r\n"
    "400 10 20 30\r\n406 40 50 60\r\n##END=\r\n";

}  // namespace

// Every corpus file: what it gives, by name. Files that read are then compared with the peer.
TEST(JcampCorpus, EveryFileReadsOrEndsWithItsCode) {
    // file, Open's code, Read's code ("-" when Open failed), warning pending (0 or 1)
    std::map<std::string, std::array<std::string, 3>> expected;
    for (const auto& row : ReadTsv(kCorpus + "expected/outcomes.tsv"))
        if (row[0] != "file" && row.size() == 4) expected[row[0]] = {row[1], row[2], row[3]};
    ASSERT_FALSE(expected.empty()) << "expected/outcomes.tsv is missing";
    int files = 0;
    for (const std::string& name : CorpusFiles(kCorpus)) {
        ++files;
        auto it = expected.find(name);
        ASSERT_NE(it, expected.end()) << name << " has no expected outcome";
        ASSERT_TRUE(std::ifstream(kCorpus + name).good()) << name << " is missing from the corpus";
        ReadResult r;
        Read(r, kCorpus + name);
        EXPECT_EQ(std::to_string(r.open), it->second[0]) << name << ": " << r.error;
        const std::string read = r.open == 0 ? std::to_string(r.read) : "-";
        EXPECT_EQ(read, it->second[1]) << name << ": " << r.error;
        EXPECT_EQ(std::to_string(r.warning), it->second[2]) << name << ": " << r.warningText;
    }
    EXPECT_EQ(files, static_cast<int>(expected.size()));
}

// The peer's values (tests/peers/jcamp_expected.js): every spectrum of every file that reads,
// one block selected at a time so that none is interpolated onto another's axis.
TEST(JcampCorpus, ValuesMatchThePeerReader) {
    struct Point {
        int index;
        double x, y;
    };
    struct Spectrum {
        int n = 0;
        double sum = 0, abs = 0;
        std::vector<Point> points;
    };
    std::map<std::string, std::map<int, Spectrum>> peer;
    for (const auto& f : ReadTsv(kCorpus + "expected/jcampconverter.tsv")) {
        if (f[0] == "file") continue;
        Spectrum& s = peer[f[0]][std::stoi(f[1])];
        if (f[2] == "n") s.n = std::stoi(f[3]);
        else if (f[2] == "sum") s.sum = std::stod(f[4]), s.abs = std::stod(f[5]);
        else s.points.push_back({std::stoi(f[3]), std::stod(f[4]), std::stod(f[5])});
    }
    ASSERT_FALSE(peer.empty()) << "expected/jcampconverter.tsv is missing";
    // Where the peer is wrong (both checked by hand below): it splits "1.1093e-02" at the
    // exponent and finds 1873 values where the file holds the 1867 its ##NPOINTS says; and
    // on the line "2887.024A666TL1..." of dupinc2.jdx, where the y check "A666" carries a
    // DUP count, it starts over from ##FIRSTY instead of repeating 16.66.
    const std::set<std::string> peerWrong = {"scientific_notation_example.jdx", "dupinc2.jdx"};
    int compared = 0;
    for (const auto& [file, spectra] : peer) {
        if (peerWrong.count(file)) continue;
        ReadResult probe;
        Read(probe, kCorpus + file);
        if (probe.open != 0 || probe.read != 0) continue;  // its code is checked above
        JCAMPFile blocks;
        ASSERT_EQ(blocks.Open(true, (kCorpus + file).c_str(), nullptr), 0);
        std::vector<int> readable;
        for (int i = 0; i < blocks.GetNumJCAMPBlocks(); ++i)
            if (blocks.Blocks()[i].dataClass != 0) readable.push_back(i);
        ASSERT_EQ(readable.size(), spectra.size()) << file;
        for (const auto& [k, s] : spectra) {
            SCOPED_TRACE(file + " spectrum " + std::to_string(k));
            ReadResult r;
            std::vector<int> one{readable[k]};
            Read(r, kCorpus + file, &one);
            ASSERT_EQ(r.read, 0) << r.error;
            ASSERT_EQ(PointsIn(r.table), s.n);
            // The peer adds the spacing up point by point; an x near zero is compared on the
            // scale of the whole axis.
            const double range = std::fabs(r.table.GetFloatData(s.n + 2, 2) - r.table.GetFloatData(3, 2));
            double sum = 0;
            for (int c = 3; c < s.n + 3; ++c)
                if (!r.table.IsMisVal(c, 3)) sum += r.table.GetFloatData(c, 3);
            EXPECT_NEAR(sum, s.sum, 1e-4 * s.abs + 1e-12);
            for (const Point& p : s.points) {
                const double x = r.table.GetFloatData(p.index + 3, 2), y = r.table.GetFloatData(p.index + 3, 3);
                EXPECT_TRUE(Near(x, p.x, range)) << "x at " << p.index << ": " << x << " against " << p.x;
                EXPECT_TRUE(Near(y, p.y, s.abs / s.n)) << "y at " << p.index << ": " << y << " against " << p.y;
            }
            ++compared;
        }
    }
    EXPECT_GE(compared, 190);
}

// Files the peer returns nothing for, or reads wrongly, checked against their text by hand.
TEST(JcampCorpus, HandCheckedValues) {
    struct Cell {
        int col, row;
        double value;
    };
    struct Case {
        const char* file;
        int cols, rows;
        std::vector<Cell> cells;
    } cases[] = {
        // ##XYPOINTS=(XY..XY), 335 pairs "x,y" from "274.9571,1.058566" to "233.8172,1.846718".
        {"toluene.jdx", 337, 3,
         {{3, 2, 274.9571}, {3, 3, 1.058566}, {4, 2, 274.7790}, {4, 3, 1.091012}, {337, 2, 233.8172}, {337, 3, 1.846718}}},
        // The last line "3993.61384615385 0.010224 0.01088 1.1093e-02 0.10971e-1".
        {"scientific_notation_example.jdx", 1869, 3,
         {{3, 3, 0.069749}, {1866, 3, 0.010224}, {1867, 3, 0.01088}, {1868, 3, 0.011093}, {1869, 3, 0.010971}}},
        // Y factor 0.01. "2865.810E438...m1" ends in DIF form at 1666, so "2887.024A666TL1" is
        // the y check 1666 (point 2579), its DUP copy (2580), then +31 (2581).
        {"dupinc2.jdx", 3736, 3,
         {{3, 3, 44.97}, {2579 + 3, 3, 16.66}, {2580 + 3, 3, 16.66}, {2581 + 3, 3, 16.97}, {2582 + 3, 3, 17.47}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        ReadResult r;
        Read(r, kCorpus + c.file);
        ASSERT_EQ(r.read, 0) << r.error;
        EXPECT_EQ(r.cols, c.cols);
        EXPECT_EQ(r.rows, c.rows);
        for (const Cell& cell : c.cells)
            EXPECT_NEAR(r.table.GetFloatData(cell.col, cell.row), cell.value, 1e-6 * std::fabs(cell.value));
    }
}

// AFFN, PAC, SQZ, DIF and DUP forms of one spectrum give the same rows, bit for bit.
TEST(JcampCorpus, OneSpectrumInEveryEncodingGivesIdenticalRows) {
    const std::vector<std::vector<std::string>> groups = {
        {"o03.jdx", "o02.jdx", "o05.jdx"},      // AFFN+PAC, DIF+SQZ, DIF+DUP+SQZ
        {"BRUKAFFN.DX", "BRUKSQZ.DX"},          // AFFN, SQZ
    };
    for (const auto& group : groups) {
        ReadResult first;
        Read(first, kCorpus + group[0]);
        ASSERT_EQ(first.read, 0) << first.error;
        for (std::size_t i = 1; i < group.size(); ++i) {
            ReadResult other;
            Read(other, kCorpus + group[i]);
            ASSERT_EQ(other.read, 0) << other.error;
            ASSERT_EQ(other.cols, first.cols) << group[i];
            int differ = 0;
            for (int c = 3; c <= first.cols; ++c)
                for (int row : {2, 3}) differ += first.table.GetFloatData(c, row) != other.table.GetFloatData(c, row);
            EXPECT_EQ(differ, 0) << group[0] << " and " << group[i];
        }
    }
}

TEST(JcampValues, DecoderTable) {
    using kelto::jcamp::DecodeError;
    using kelto::jcamp::DecodedValue;
    using kelto::jcamp::ValueDecoder;
    // Each value as (value, count, dif, missing); a final error ends the line.
    struct V {
        double value;
        std::int64_t count;
        bool dif, missing;
    };
    struct Case {
        const char* line;
        bool commaSeparates, strict;
        std::vector<V> values;
        DecodeError error;
    } cases[] = {  // two DUP counts and a strict-mode character: FilesAndTheirOutcomes
        {"A1B2", false, false, {{11, 1, false, false}, {22, 1, false, false}}, DecodeError::None},
        {"1 2;3,5", false, false, {{1, 1, false, false}, {2, 1, false, false}, {3.5, 1, false, false}}, DecodeError::None},
        {"@a1i99", false, false, {{0, 1, false, false}, {-11, 1, false, false}, {-999, 1, false, false}}, DecodeError::None},
        {"J%jR9", false, false, {{1, 1, true, false}, {0, 1, true, false}, {-1, 1, true, false}, {99, 1, true, false}}, DecodeError::None},
        {"A T J s2", false, false, {{1, 1, false, false}}, DecodeError::IllegalCharacter},  // a DUP must follow its value
        {"AT Js2 5Z", false, false, {{1, 2, false, false}, {1, 92, true, false}, {5, 8, false, false}}, DecodeError::None},
        {"1.5E+03 -2.5e-1 +.5 -,5", false, false,
         {{1500, 1, false, false}, {-0.25, 1, false, false}, {0.5, 1, false, false}, {-0.5, 1, false, false}}, DecodeError::None},
        {"? 7 ?", false, false, {{0, 1, false, true}, {7, 1, false, false}, {0, 1, false, true}}, DecodeError::None},
        {"1E5", false, false, {{1, 1, false, false}, {55, 1, false, false}}, DecodeError::None},  // unsigned, "E" is SQZ 5
        {"+x", false, false, {}, DecodeError::IllegalCharacter},
        {"450.5, 0.25; 451, ?", true, true, {{450.5, 1, false, false}, {0.25, 1, false, false}, {451, 1, false, false}, {0, 1, false, true}}, DecodeError::None},
        {"1S999999999999999", false, false, {{1, std::int64_t{1} << 40, false, false}}, DecodeError::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ValueDecoder decoder(c.commaSeparates);
        std::string_view line(c.line);
        std::size_t pos = 0;
        DecodedValue v;
        std::size_t k = 0;
        DecodeError e = DecodeError::None;
        for (;;) {
            e = decoder.Next(line, pos, c.strict, v);
            if (e != DecodeError::None || !v.found) break;
            ASSERT_LT(k, c.values.size());
            EXPECT_DOUBLE_EQ(v.value, c.values[k].value) << k;
            EXPECT_EQ(v.count, c.values[k].count) << k;
            EXPECT_EQ(v.dif, c.values[k].dif) << k;
            EXPECT_EQ(v.missing, c.values[k].missing) << k;
            ++k;
        }
        EXPECT_EQ(k, c.values.size());
        EXPECT_EQ(e, c.error);
    }
}

// The headings "t %g": the quick path must give printf's text for every value.
TEST(JcampValues, HeadingsMatchPrintf) {
    std::mt19937_64 random(42);
    std::vector<double> values = {0, -0.0, 1, -1, 1e-4, 9.99999e-5, 0.001, 999999.5, 999999.4, 1e6, 123456.5, 0.5,
                                  4000, 3999.79, -2.5, 1.23456789e-3, 1e300, -1e-300, 16.089531599, 0.0000125};
    for (int i = 0; i < 200000; ++i) {
        const int scale = static_cast<int>(random() % 16) - 6;
        double v = std::ldexp(static_cast<double>(random() >> 11), -53) * std::pow(10.0, scale);
        if (i % 3 == 0) v = std::round(v * 1e4) / 1e4;  // axis-like values with few decimals
        values.push_back(random() & 1 ? -v : v);
    }
    int differ = 0;
    for (double v : values) {
        char expected[64], got[32];
        std::snprintf(expected, sizeof expected, "%g", v);
        *kelto::jcamp::FormatG6(v, got) = '\0';
        if (std::strcmp(expected, got) != 0 && ++differ <= 5) ADD_FAILURE() << expected << " written as " << got;
    }
    EXPECT_EQ(differ, 0);
}

TEST_F(JcampText, SingleBlockLayout) {
    ReadResult r;
    Read(r, File("simple.jdx", kSimple));
    ASSERT_EQ(r.read, 0) << r.error;
    EXPECT_EQ(r.cols, 8);
    EXPECT_EQ(r.rows, 3);
    EXPECT_EQ(Text(r.table, 3, 1), "t 400");
    EXPECT_EQ(Text(r.table, 8, 1), "t 410");
    EXPECT_EQ(Text(r.table, 2, 2), "1/CM");
    EXPECT_EQ(r.table.GetFloatData(4, 2), 402.0f);
    EXPECT_EQ(r.table.GetFloatData(1, 3), 1.0f);
    EXPECT_EQ(Text(r.table, 2, 3), "Infrared spectrum : simple");
    for (int k = 0; k < 6; ++k) EXPECT_EQ(r.table.GetFloatData(k + 3, 3), 5.0f * (k + 1));
    EXPECT_EQ(r.warning, 0);
}

// Each case is a whole file; it must end with `code` (0: reads) and, when it reads, warn or not
// and give the y values listed.
TEST_F(JcampText, FilesAndTheirOutcomes) {
    const std::string head = "##TITLE=t\n##FIRSTX=1\n##LASTX=4\n##NPOINTS=4\n";
    const std::string longLine = "1" + std::string(300, ' ') + "12345" + std::string(300, ' ') + "2 3 4\n";
    struct Case {
        const char* what;
        std::string text;
        int code;
        bool warning;
        std::vector<float> y;  // -99: an empty cell
    } cases[] = {
        {"DIF with a y check", head + "##XYDATA=(X++(Y..Y))\n1 A0J\n2 A1J\n3 A2K\n##END=\n", 0, false, {10, 11, 12, 14}},
        {"a failed y check keeps what was read", head + "##XYDATA=(X++(Y..Y))\n1 A0J\n2 B5J\n##END=\n", 0, true, {10, 11}},
        {"DUP repeats the value", head + "##XYDATA=(X++(Y..Y))\n1 A0V\n##END=\n", 0, false, {10, 10, 10, 10}},
        {"DIF with DUP", head + "##XYDATA=(X++(Y..Y))\n1 A0JT%\n##END=\n", 0, false, {10, 11, 12, 12}},
        {"missing values", head + "##XYDATA=(X++(Y..Y))\n1 1 ? 3 ?\n##END=\n", 0, false, {1, -99, 3, -99}},
        {"too few values warn", head + "##XYDATA=(X++(Y..Y))\n1 1 2\n##END=\n", 0, true, {1, 2}},
        {"too many values warn and stop", head + "##XYDATA=(X++(Y..Y))\n1 1 2 3 4 5 6\n##END=\n", 0, true, {1, 2, 3, 4}},
        // A line is read whole, however long: a 255-character piece would have cut "12345".
        {"a long line is one line", head + "##XYDATA=(X++(Y..Y))\n" + longLine + "##END=\n", 0, false, {12345, 2, 3, 4}},
        {"a line over the limit", head + "##XYDATA=(X++(Y..Y))\n1 " + std::string(JCAMPFile::kMaxLineLength, '1') + "\n##END=\n",
         JCAMPFile::kLineTooLong, false, {}},
        // Labels match after normalisation, the first line's too; a bare ##END ends the block.
        {"spaced first label, bare END", "## Title = t\n##First_X=1\n##last-x=4\n##N POINTS=4\n##XY DATA=(X++(Y..Y))\n1 1 2 3 4\n##END\n",
         0, false, {1, 2, 3, 4}},
        {"a byte-order mark before the title", "\xEF\xBB\xBF" + head + "##XYDATA=(X++(Y..Y))\n1 1 2 3 4\n##END=\n", 0, false, {1, 2, 3, 4}},
        {"comments are cut", head + "##XYDATA=(X++(Y..Y)) $$ plain\n1 1 2 $$ 9 9\n3 3 4\n##END= $$ done\n", 0, false, {1, 2, 3, 4}},
        {"peak table", "##TITLE=p\n##NPOINTS=3\n##PEAKTABLE=(XY..XY)\n10,1; 20,2\n30,?\n##END=\n", 0, false, {1, 2, -99}},
        // Pages of different lengths are read off the first page's axis, which has no pairs.
        {"empty reference page", "##TITLE=p\n##NPOINTS=2\n##PEAKTABLE=(XY..XY)\n##NPOINTS=3\n##PEAKTABLE=(XY..XY)\n1,1 2,2 3,3\n##END=\n",
         JCAMPFile::kNoData, false, {}},
        {"not JCAMP", "hello\n##TITLE=t\n", JCAMPFile::kNotJcamp, false, {}},
        {"label without =", "##TITLE=t\n##NPOINTS 4\n##END=\n", JCAMPFile::kNoTerminator, false, {}},
        {"empty FIRSTX", "##TITLE=t\n##FIRSTX=\n##END=\n", JCAMPFile::kMissingValue, false, {}},
        {"unclosed title", "##TITLE=t\n##NPOINTS=4\n", JCAMPFile::kTitleMismatch, false, {}},
        {"too many ENDs", "##TITLE=t\n##END=\n##END=\n", JCAMPFile::kTitleMismatch, false, {}},
        {"YFACTOR 0", "##TITLE=t\n##YFACTOR=0\n##END=\n", JCAMPFile::kIllegalValue, false, {}},
        {"NPOINTS 10.5", "##TITLE=t\n##NPOINTS=10.5\n##END=\n", JCAMPFile::kBadNpoints, false, {}},
        {"NPOINTS 0", "##TITLE=t\n##NPOINTS=0\n##END=\n", JCAMPFile::kBadNpoints, false, {}},
        // 2^31 does not fit the point count; it is judged wide and refused, not wrapped.
        {"NPOINTS 2^31", "##TITLE=t\n##NPOINTS=2147483648\n##END=\n", JCAMPFile::kTooManyPoints, false, {}},
        {"BINARY", "##TITLE=t\n##BINARY=x\n##END=\n", JCAMPFile::kBinaryData, false, {}},
        {"BLOCKS outside a LINK", "##TITLE=t\n##DATACLASS=XYDATA\n##BLOCKS=2\n##END=\n", JCAMPFile::kStoredText, false, {}},
        {"assignments", "##TITLE=t\n##PEAKASSIGNMENTS=(XYA)\n##END=\n", JCAMPFile::kAssignments, false, {}},
        {"NTUPLES", "##TITLE=t\n##DATACLASS=NTUPLES\n##DATATABLE=(X++(R..R)),XYDATA\n##END=\n", JCAMPFile::kNtuples, false, {}},
        {"XYPAIRS", "##TITLE=t\n##XYPAIRS=(XY..XY)\n##END=\n", JCAMPFile::kXyPairs, false, {}},
        {"unknown table form", head + "##XYDATA=(X++(Y..Y)\n1 1\n##END=\n", JCAMPFile::kUnknownClass, false, {}},
        {"no NPOINTS", "##TITLE=t\n##FIRSTX=1\n##LASTX=2\n##XYDATA=(X++(Y..Y))\n1 1 2\n##END=\n", JCAMPFile::kNoSize, false, {}},
        // Without FIRSTX or LASTX the spacing would be NaN: a code, not a table of "t nan".
        {"no LASTX", "##TITLE=t\n##FIRSTX=1\n##NPOINTS=2\n##XYDATA=(X++(Y..Y))\n1 1 2\n##END=\n", JCAMPFile::kNoSpacing, false, {}},
        {"no FIRSTX", "##TITLE=t\n##LASTX=1\n##DELTAX=1\n##NPOINTS=2\n##XYDATA=(X++(Y..Y))\n1 1 2\n##END=\n", JCAMPFile::kNoSpacing, false, {}},
        {"first equals last", "##TITLE=t\n##FIRSTX=1\n##LASTX=1\n##NPOINTS=2\n##XYDATA=(X++(Y..Y))\n1 1 2\n##END=\n", JCAMPFile::kNoSpacing, false, {}},
        {"data runs into the end", head + "##END=\n##XYDATA=(X++(Y..Y))\n1 1 2 3 4\n", JCAMPFile::kUnexpectedEnd, false, {}},
        {"DUP on the abscissa", head + "##XYDATA=(X++(Y..Y))\n1T 1 2\n##END=\n", JCAMPFile::kAbscissaDup, false, {}},
        {"DIF as first ordinate", head + "##XYDATA=(X++(Y..Y))\n1 J 2\n##END=\n", JCAMPFile::kDifOrdinate, false, {}},
        {"two DUP counts", head + "##XYDATA=(X++(Y..Y))\n1 AST\n##END=\n", JCAMPFile::kDoubleDup, false, {}},
        {"illegal character", head + "##XYDATA=(X++(Y..Y))\n1 1 ! 2\n##END=\n", JCAMPFile::kIllegalCharacter, false, {}},
        {"strict x of a pair", "##TITLE=p\n##NPOINTS=1\n##PEAKTABLE=(XY..XY)\nA1,1\n##END=\n", JCAMPFile::kInvalidCharacter, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ReadResult r;
        Read(r, File("case.jdx", c.text));
        const int code = r.open != 0 ? r.open : r.read;
        ASSERT_EQ(code, c.code) << r.error;
        if (c.code != 0) {
            EXPECT_FALSE(r.error.empty());
            continue;
        }
        EXPECT_EQ(r.warning != 0, c.warning) << r.warningText;
        for (std::size_t k = 0; k < c.y.size(); ++k) {
            if (c.y[k] == -99) {
                EXPECT_TRUE(r.table.IsMisVal(static_cast<int>(k + 3), 3)) << k;
            } else {
                EXPECT_EQ(r.table.GetFloatData(static_cast<int>(k + 3), 3), c.y[k]) << k;
            }
        }
        if (static_cast<int>(c.y.size()) + 3 <= r.cols) {
            EXPECT_TRUE(r.table.IsMisVal(static_cast<int>(c.y.size() + 3), 3));
        }
    }
}

// A 10-byte DUP line claiming 10^9 repeats makes no more values than the block declares.
TEST_F(JcampText, RepeatsAreBoundedByThePointCount) {
    ReadResult r;
    // "A" is 1; "S000000000" repeats it 10^9 times.
    Read(r, File("dup.jdx", "##TITLE=t\n##FIRSTX=0\n##LASTX=999\n##NPOINTS=1000\n##XYDATA=(X++(Y..Y))\n0 AS000000000\n##END=\n"));
    ASSERT_EQ(r.read, 0) << r.error;
    EXPECT_NE(r.warningText.find("more y-values"), std::string::npos) << r.warningText;
    EXPECT_EQ(r.table.GetFloatData(1002, 3), 1.0f);
    EXPECT_EQ(r.table.GetNumberOfColumns(), 1002);
}

TEST_F(JcampText, LinkBlocksAndSelection) {
    const std::string link =
        "##TITLE=link\n##DATA TYPE=LINK\n##BLOCKS=2\n"
        "##TITLE=first\n##DATA TYPE=UV/VIS SPECTRUM\n##FIRSTX=1\n##LASTX=3\n##NPOINTS=3\n##XYDATA=(X++(Y..Y))\n1 1 2 3\n##END=\n"
        "##TITLE=second\n##DATA TYPE=UV/VIS SPECTRUM\n##FIRSTX=1\n##LASTX=3\n##NPOINTS=3\n##XYDATA=(X++(Y..Y))\n1 4 5 6\n##END=\n"
        "##END=\n";
    const std::string path = File("link.jdx", link);
    JCAMPFile file;
    ASSERT_EQ(file.Open(true, path.c_str(), nullptr), 0);
    // The LINK header and its first child share one record.
    ASSERT_EQ(file.GetNumJCAMPBlocks(), 2);
    EXPECT_EQ(file.Blocks()[0].title, "first");
    std::vector<std::string> list;
    EXPECT_EQ(file.GetJCAMPBlockList(list), 0);
    EXPECT_EQ(list, (std::vector<std::string>{"Uv/vis spectrum, 1x3 obs, first", "Uv/vis spectrum, 1x3 obs, second"}));
    EXPECT_EQ(file.GetTitle(), "Data type, size of dataset, title.");

    ReadResult both;
    Read(both, path);
    ASSERT_EQ(both.read, 0) << both.error;
    EXPECT_EQ(both.rows, 4);
    EXPECT_EQ(both.table.GetFloatData(5, 4), 6.0f);
    EXPECT_EQ(both.table.GetFloatData(1, 4), 2.0f);

    // The options select the second block alone; a selection that leaves a block out is
    // written back into the host's record, in bytes the record owns once the reader is gone.
    TinyXML2Section doc;
    doc.CreateSection("Settings")->WriteKey("DataBlocks", std::vector<int>{1});
    std::string xml;
    doc.Flush(xml);
    std::unique_ptr<ImportOptionsHelper::OpenOptions> options = ImportOptionsHelper::OpenOptions::CreateOpenOptions(xml);
    ReadResult second;
    Read(second, path, nullptr, options.get());
    ASSERT_EQ(second.read, 0) << second.error;
    EXPECT_EQ(second.rows, 3);
    EXPECT_EQ(second.table.GetFloatData(3, 3), 4.0f);
    EXPECT_EQ(Text(second.table, 2, 3), "Uv/vis spectrum : second");
    ASSERT_TRUE(options->data && options->size > 0);
    std::istringstream back(std::string(options->data, static_cast<std::size_t>(options->size)));
    std::string written;
    ASSERT_TRUE(ReadBinaryString(back, written));
    std::unique_ptr<TinyXML2Section> writtenDoc = TinyXML2Section::CreateXMLSectionFromString(written.c_str());
    ASSERT_TRUE(writtenDoc && writtenDoc->GetSection("Settings"));
    std::vector<int> selected;
    EXPECT_TRUE(writtenDoc->GetSection("Settings")->ReadKey("DataBlocks", selected));
    EXPECT_EQ(selected, std::vector<int>{1});

    std::string noKey = "<Configuration><Section name=\"Settings\"/></Configuration>";
    std::ostringstream out2;
    WriteBinaryString(out2, noKey);
    std::string bytes2 = out2.str();
    QmImportOpenOptions bad{static_cast<int>(bytes2.size()), bytes2.data()};
    ReadResult refused;
    Read(refused, path, nullptr, &bad);
    EXPECT_EQ(refused.open, JCAMPFile::kInvalidReadOption);
    EXPECT_EQ(refused.error, "Invalid file read option.");
}

// Two files whose spectra start at different x: both are read off the first one's axis.
TEST_F(JcampText, SeveralFilesAreInterpolatedOntoTheFirst) {
    File("a.jdx", "##TITLE=a\n##FIRSTX=0\n##LASTX=4\n##NPOINTS=3\n##XYDATA=(X++(Y..Y))\n0 0 20 40\n##END=\n");
    File("b.jdx", "##TITLE=b\n##FIRSTX=1\n##LASTX=5\n##NPOINTS=5\n##XYDATA=(X++(Y..Y))\n1 10 20 30 40 50\n##END=\n");
    File("c.jdx", "##TITLE=c\n##NPOINTS=2\n##PEAKTABLE=(XY..XY)\n1,1 2,2\n##END=\n");
    ReadResult r;
    Read(r, Several(dir.Path().string(), {"a.jdx", "b.jdx"}));
    ASSERT_EQ(r.read, 0) << r.error;
    EXPECT_EQ(r.rows, 4);
    EXPECT_EQ(r.table.GetNumberOfColumns(), 5);
    EXPECT_EQ(Text(r.table, 2, 3), "a.jdx, a");
    EXPECT_EQ(Text(r.table, 5, 1), "t 4");
    EXPECT_TRUE(r.table.IsMisVal(3, 4));  // x = 0 lies before b's first x
    EXPECT_EQ(r.table.GetFloatData(4, 4), 20.0f);
    EXPECT_EQ(r.table.GetFloatData(5, 4), 40.0f);

    ReadResult mixed;
    Read(mixed, Several(dir.Path().string(), {"a.jdx", "c.jdx"}));
    EXPECT_EQ(mixed.read, JCAMPFile::kMixedClasses);
    EXPECT_EQ(mixed.error, "Only files with dataclass='XYDATA' are supported by multi-selection.");

    ReadResult missing;
    Read(missing, Several(dir.Path().string(), {"a.jdx", "none.jdx"}));
    EXPECT_EQ(missing.open, JCAMPFile::kOpenFailed);

    // A table with unsorted x is no axis to read the others off.
    File("d.jdx", "##TITLE=d\n##NPOINTS=3\n##PEAKTABLE=(XY..XY)\n1,1 3,3 2,2\n##END=\n");
    File("e.jdx", "##TITLE=e\n##NPOINTS=2\n##PEAKTABLE=(XY..XY)\n1,1 2,2\n##END=\n");
    ReadResult unsorted;
    Read(unsorted, Several(dir.Path().string(), {"d.jdx", "e.jdx"}));
    EXPECT_EQ(unsorted.read, JCAMPFile::kUnsortedAxis);
    EXPECT_NE(unsorted.error.find("Error in file 'd.jdx'"), std::string::npos) << unsorted.error;
}

TEST(JcampRegistry, ReadsThroughTheEntryPoints) {
    FloatStringSpreadsheetData t;
    Outcome r = ReadViaHost("JCAMP-DX File", kCorpus + "BRUKER2.JCM", t);
    EXPECT_EQ(r.read, 0) << r.error;
    EXPECT_EQ(r.cols, 3737);
}
