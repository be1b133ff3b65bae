// The HPLC ChemStation reader on the corpus files and on ".ch"/".uv" files from the fixture
// builder (types 8, 30, 31, 130, 131, 2D and 3D).
#include <cmath>
#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>

#include "formats/spectral/ChemStationFile.h"
#include "tests/formats/spectral/ChemStationFixtures.h"
#include "tests/formats/spectral/SpectralTestSupport.h"

using namespace kelto::test;
using namespace kelto::test::spectral;

namespace {

const std::string kCorpus = std::string(KELTO_CORPUS_DIR) + "/chemstation/";

// The multi-file argument for several files, the path itself for one.
std::string Selection(const TempDir& dir, const std::vector<std::string>& names) {
    return names.size() == 1 ? dir.File(names[0]) : Several(dir.File(""), names);
}

class ChemStationTest : public ::testing::Test {
protected:
    std::string Put(const std::string& name, const ChemStation& c) {
        const bool uv = name.size() > 3 && (name.substr(name.size() - 3) == ".uv" || name.substr(name.size() - 3) == ".UV");
        return Write(dir, name, c.Build(uv));
    }
    TempDir dir;
};

}  // namespace

// The type-30 corpus file against the independent decoder's values; the type-179 file is
// refused by its type.
TEST(ChemStationCorpus, MatchesThePeerOrEndsWithItsCode) {
    auto [keys, y] = LoadKeyedValues(kCorpus + "expected/entab_chemstation_mwd.d_mwd1A.ch.tsv");
    ASSERT_FALSE(y.empty()) << "missing expected values";
    FloatStringSpreadsheetData t;
    Outcome r = ReadDirect<ChemStationFile>(kCorpus + "entab_chemstation_mwd.d_mwd1A.ch", t);
    ASSERT_EQ(r.read, 0) << r.error;
    EXPECT_EQ(r.rows, 3);
    ASSERT_EQ(r.cols, std::stoi(keys["columns"]));
    EXPECT_EQ(Text(t, 1, 2), keys["signal"] + " Retention Time [s]");
    EXPECT_EQ(Text(t, 2, 3), "entab_chemstation_mwd.d_mwd1A.ch");
    EXPECT_EQ(Text(t, 3, 3), "18-Nov-10 15:48:06");
    EXPECT_EQ(Text(t, 4, 3), keys["sample"] + " [" + keys["unit"] + "]");
    EXPECT_EQ(Text(t, 5, 1), "t -2.38");
    const double first = std::stod(keys["firsttime"]), interval = std::stod(keys["interval"]);
    ASSERT_EQ(y.size(), static_cast<std::size_t>(r.cols - 4));
    for (std::size_t i = 0; i < y.size(); ++i) {
        const int c = static_cast<int>(i) + 5;
        ASSERT_EQ(t.GetFloatData(c, 3), static_cast<float>(y[i])) << "column " << c;
        ASSERT_EQ(t.GetFloatData(c, 2), static_cast<float>(first + i * interval)) << "column " << c;
    }

    FloatStringSpreadsheetData u;
    r = ReadDirect<ChemStationFile>(kCorpus + "entab_test_179_fid.ch", u);
    EXPECT_EQ(r.open, ChemStationFile::kUnsupportedType);
    EXPECT_NE(r.error.find("type 179"), std::string::npos) << r.error;
    EXPECT_NE(r.error.find("entab_test_179_fid.ch"), std::string::npos) << r.error;
}

// 2D files of every interval rule: the header fields, the interval, the headings and the
// expanded signal (differences and absolute values) times the scale factor.
TEST_F(ChemStationTest, TwoDimensionalTypesGiveTheirIntervalAndValues) {
    struct Case {
        int type;
        double interval;  // seconds, from the type's own rule
    } cases[] = {{8, 0.4}, {30, 0.5}, {130, 0.5}, {108, 0.4}, {2, 0.5}, {179 - 48, 0.5}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.type);
        ChemStation c;
        c.type = k.type;
        c.powerOfTwo = 3;  // 8 / 20 = 0.4 s
        c.rangeStart = 1000;
        c.rangeEnd = 1000 + static_cast<std::int32_t>(std::lround(4 * k.interval * 1000));
        c.date = "05-Mar-24,  14:07:09";
        FloatStringSpreadsheetData t;
        Outcome r = ReadDirect<ChemStationFile>(Put("a.ch", c), t);
        ASSERT_EQ(r.read, 0) << r.error;
        EXPECT_EQ(r.rows, 3);
        ASSERT_EQ(r.cols, 9);
        const char* titles[] = {"Primary ID", "File", "Date", "Sample Name"};
        for (int col = 1; col <= 4; ++col) EXPECT_EQ(Text(t, col, 1), titles[col - 1]);
        std::ostringstream heading;
        heading << "t " << 1 + 3 * k.interval;
        EXPECT_EQ(Text(t, 8, 1), heading.str());
        EXPECT_EQ(t.GetFloatData(9, 2), static_cast<float>(1 + 4 * k.interval));
        EXPECT_EQ(Text(t, 1, 2), "DAD1 A Retention Time [s]");
        EXPECT_EQ(t.GetFloatData(1, 3), 1.0f);
        EXPECT_EQ(Text(t, 2, 3), "a.ch");
        EXPECT_EQ(Text(t, 3, 3), "05-Mar-24 14:07:09");
        EXPECT_EQ(Text(t, 4, 3), "Sample A [mAU]");
        const float expected[] = {5, 6, 4.5f, 35000, 35000.5f};
        for (int col = 5; col <= 9; ++col) EXPECT_EQ(t.GetFloatData(col, 3), expected[col - 5]) << col;
    }
}

TEST_F(ChemStationTest, SeveralChromatogramsShareOneTable) {
    ChemStation a, b;
    b.sample = "B";
    b.unit = "";
    b.signal2D = {-3, -2};
    b.date = ",x  y";
    FloatStringSpreadsheetData t;
    Put("a.ch", a), Put("b.CH", b);
    Outcome r = ReadDirect<ChemStationFile>(Selection(dir, {"a.ch", "b.CH"}), t);
    ASSERT_EQ(r.read, 0) << r.error;
    EXPECT_EQ(r.rows, 4);
    EXPECT_EQ(t.GetFloatData(1, 4), 2.0f);
    EXPECT_EQ(Text(t, 4, 4), "B");  // no unit, no brackets
    EXPECT_EQ(Text(t, 3, 4), ",x y");  // a leading comma stays
    EXPECT_EQ(t.GetFloatData(6, 4), -1.0f);
    EXPECT_TRUE(t.IsMisVal(7, 4));

    // A host that skips the first file's row still gets the second file's values.
    SkippingTable s;
    s.skip = {3};
    s.SetDataSize(r.cols, r.rows);
    ChemStationFile f;
    ASSERT_EQ(f.Open(true, Selection(dir, {"a.ch", "b.CH"}).c_str(), nullptr), 0);
    ASSERT_EQ(f.Read(&s), 0);
    EXPECT_TRUE(s.IsMisVal(5, 3));
    EXPECT_EQ(s.GetFloatData(5, 4), -1.5f);
}

// Diode-array files: "C" spectra carry the running value over, "A" spectra are plain.
TEST_F(ChemStationTest, ThreeDimensionalSpectraOfTypes31And131) {
    for (int type : {31, 131}) {
        SCOPED_TRACE(type);
        ChemStation c;
        c.type = type;
        c.scale = 0.25;
        c.rangeStart = 4000;
        c.spectraList = {{.time = 1500, .extra = 4, .values = {100, 104, 90}},
                         {.kind = 'A', .time = 2000, .values = {7, 8, 9}},
                         {.time = 2500, .values = {95, 99999, 100001}}};
        FloatStringSpreadsheetData t;
        Outcome r = ReadDirect<ChemStationFile>(Put("d.UV", c), t);
        ASSERT_EQ(r.read, 0) << r.error;
        EXPECT_EQ(r.rows, 5);
        ASSERT_EQ(r.cols, 7);
        EXPECT_EQ(Text(t, 4, 1), "Retention Time Counts");
        EXPECT_EQ(Text(t, 6, 1), "t 202");
        EXPECT_EQ(Text(t, 1, 2), "DAD1 A Wavelength [nm]");
        EXPECT_EQ(t.GetFloatData(7, 2), 204.0f);
        EXPECT_EQ(t.GetFloatData(4, 3), 1.5f);
        EXPECT_EQ(Text(t, 2, 4), "18-Nov-10 15:48:06");
        const float rows[3][3] = {{25, 26, 22.5f}, {1.75f, 2, 2.25f}, {23.75f, 24999.75f, 25000.25f}};
        for (int k = 0; k < 3; ++k)
            for (int i = 0; i < 3; ++i) EXPECT_EQ(t.GetFloatData(5 + i, 3 + k), rows[k][i]) << k << " " << i;
    }
}

// Each fault ends with its code (and where a file is known, a message naming it).
TEST_F(ChemStationTest, FaultsEndWithTheirCodes) {
    auto with = [](auto change) {
        ChemStation c;
        c.spectraList = {{.values = {1, 2, 3}}, {.values = {4, 5, 6}}};
        c.type = 31;
        change(c);
        return c;
    };
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, ChemStation>> files;
        int code;
    } cases[] = {
        {"2D interval 0", {{"a.ch", with([](ChemStation& c) { c.type = 30, c.den = 0; })}}, ChemStationFile::kZeroSpacing},
        {"1/0 interval", {{"a.ch", with([](ChemStation& c) { c.type = 2, c.perSecond = 0; })}}, ChemStationFile::kZeroSpacing},
        {"3D step 0", {{"a.uv", with([](ChemStation& c) { c.spectraList = {{.step = 0, .values = {1}}}; })}},
         ChemStationFile::kZeroSpacing},
        {"3D without scale", {{"a.uv", with([](ChemStation& c) { c.type = 30; })}}, ChemStationFile::kNoScale},
        {"type 81", {{"a.ch", with([](ChemStation& c) { c.type = 81; })}}, ChemStationFile::kUnsupportedType},
        {"wide type 181", {{"a.ch", with([](ChemStation& c) { c.type = 181; })}}, ChemStationFile::kUnsupportedType},
        {"range beyond the data", {{"a.ch", with([](ChemStation& c) { c.type = 30, c.rangeEnd = 2000000; })}},
         ChemStationFile::kImplausibleSize},
        {"more spectra than bytes", {{"a.uv", with([](ChemStation& c) { c.spectra = 100000; })}},
         ChemStationFile::kImplausibleSize},
        {"spectrum kind", {{"a.uv", with([](ChemStation& c) { c.spectraList[1].kind = 'X'; })}},
         ChemStationFile::kNotChemStation},
        {"changed wavelengths", {{"a.uv", with([](ChemStation& c) { c.spectraList[1].end = 4120; })}},
         ChemStationFile::kNotChemStation},
        {"values beyond the last column", {{"a.ch", with([](ChemStation& c) { c.type = 30, c.rangeEnd = 1000; })}},
         ChemStationFile::kDifferentLength},
        {"different start", {{"a.ch", with([](ChemStation& c) { c.type = 30; })}, {"b.ch", with([](ChemStation& c) {
                                 c.type = 30, c.rangeStart = 500, c.rangeEnd = 2500;
                             })}},
         ChemStationFile::kDifferentLength},
        {"different resolution", {{"a.ch", with([](ChemStation& c) { c.type = 30; })}, {"b.ch", with([](ChemStation& c) {
                                      c.type = 30, c.den = 4;
                                  })}},
         ChemStationFile::kDifferentResolution},
        {"different types", {{"a.ch", with([](ChemStation& c) { c.type = 30; })}, {"b.ch", with([](ChemStation& c) {
                                 c.type = 2, c.perSecond = 2;
                             })}},
         ChemStationFile::kDifferentType},
        {".ch and .uv", {{"a.ch", with([](ChemStation& c) { c.type = 30; })}, {"b.uv", with([](ChemStation&) {})}},
         ChemStationFile::kSeveral3D},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        TempDir d;
        std::vector<std::string> names;
        for (const auto& [name, c] : k.files) {
            Write(d, name, c.Build(name.substr(name.size() - 2) == "uv"));
            names.push_back(name);
        }
        FloatStringSpreadsheetData t;
        Outcome r = ReadDirect<ChemStationFile>(Selection(d, names), t);
        EXPECT_EQ(r.open == 0 ? r.read : r.open, k.code) << r.error;
        if (k.code >= ChemStationFile::kUnsupportedType) {
            EXPECT_NE(r.error.find(names.back()), std::string::npos) << r.error;
        }
    }

    // A header cut short, a missing file, and a writer.
    std::string cut = Write(dir, "cut.ch", ChemStation{}.Build(false));
    std::filesystem::resize_file(cut, 600);
    FloatStringSpreadsheetData t;
    EXPECT_EQ(ReadDirect<ChemStationFile>(cut, t).open, ChemStationFile::kNotChemStation);
    EXPECT_EQ(ReadDirect<ChemStationFile>(dir.File("none.ch"), t).open, SpreadsheetFile::kSizeError);
    ChemStationFile w;
    EXPECT_EQ(w.Open(false, cut.c_str(), nullptr), SpreadsheetFile::kNotImplemented);
}

TEST_F(ChemStationTest, KindOfFileGoesByExtensionOfAnExistingFile) {
    Put("x.Ch", ChemStation{});
    Put("y.uv", ChemStation{});
    Write(dir, "z.txt", {1, 2});
    const int index = FormatIndex("HPLC ChemStation File");
    ASSERT_GT(index, 0);
    EXPECT_EQ(SprFileFactory::IsMyKindOfFile(index, dir.File("x.Ch").c_str()), SprFileFactory::LikelyMyKind);
    EXPECT_EQ(SprFileFactory::IsMyKindOfFile(index, dir.File("y.uv").c_str()), SprFileFactory::LikelyMyKind);
    EXPECT_EQ(SprFileFactory::IsMyKindOfFile(index, dir.File("z.txt").c_str()), SprFileFactory::NotMyKind);
    EXPECT_EQ(SprFileFactory::IsMyKindOfFile(index, dir.File("gone.ch").c_str()), SprFileFactory::NotMyKind);
}

namespace {
// Fuzz input: a flag byte (bit 0: ".uv") and the file.
Bytes FuzzInput(std::uint8_t flags, const Bytes& file) {
    Bytes out(file.size() + 1);
    out[0] = flags;
    std::copy(file.begin(), file.end(), out.begin() + 1);
    return out;
}
ChemStation Sample() {
    ChemStation c;
    c.sample = "Cytochrome C";
    c.date = "02-Jun-24,  09:15:00";
    c.rangeEnd = 6000;
    c.num = 1, c.den = 2;
    c.signal2D = {0, 40, 400, 4000, 40000, 4000, 400, 40, 0, -5, 0, 3};
    return c;
}
}  // namespace

// The seeds and the sample are the builder's output.
TEST(ChemStationCommittedFixtures, MatchTheBuilderAndRead) {
    ChemStation two, wide, uv;
    two.type = 8, two.powerOfTwo = 4, two.rangeEnd = 4000;
    wide.type = 130;
    uv.type = 131;
    uv.spectraList = {{.values = {1, 2, 3}}, {.kind = 'A', .values = {4, 5, 6}}, {.extra = 2, .values = {70000, 7, 8}}};
    ExpectCommitted({
        {"fuzz/corpus/chemstation/type30.bin", FuzzInput(0, ChemStation{}.Build(false))},
        {"fuzz/corpus/chemstation/type8_twice.bin", FuzzInput(2, two.Build(false))},
        {"fuzz/corpus/chemstation/type130.bin", FuzzInput(0, wide.Build(false))},
        {"fuzz/corpus/chemstation/type131_uv.bin", FuzzInput(1, uv.Build(true))},
        {"samples/chemstation_chromatogram.ch", Sample().Build(false)},
    });
    FloatStringSpreadsheetData t;
    Outcome r = ReadViaHost("HPLC ChemStation File", KELTO_SOURCE_DIR "/samples/chemstation_chromatogram.ch", t);
    ASSERT_EQ(r.read, 0) << r.error;
    EXPECT_EQ(r.cols, 17);
    EXPECT_EQ(t.GetFloatData(9, 3), 20000.0f);
}
