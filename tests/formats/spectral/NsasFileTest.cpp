// The NSAS reader on ".da" and ".cn" files from the fixture builder.
#include <gtest/gtest.h>

#include "formats/spectral/NsasFile.h"
#include "tests/formats/spectral/SpectralTestSupport.h"

using namespace kelto::test;
using namespace kelto::test::spectral;

namespace {
class NsasTest : public ::testing::Test {
protected:
    // Writes "<base>.da" and, when given, "<base>.cn"; returns the ".da" path.
    std::string Files(const std::string& base, const std::vector<Nsas>& s, const Bytes* cn = nullptr) {
        if (cn) Write(dir, base + ".cn", *cn);
        return Write(dir, base + ".da", BuildDa(s));
    }
    TempDir dir;
    // Two spectra of 700 points from 1100 to 2500 (step 2, 16 filler bytes after the values).
    std::vector<Nsas> two{{.number = 11, .name = std::string("\tWheat A\0z", 10)}, {.number = 12, .second = 58, .base = 500.0f}};
};
}  // namespace

TEST_F(NsasTest, TwoSpectraOf700PointsGiveTheDocumentedTable) {
    std::string path = Files("two", two);
    for (bool viaHost : {false, true}) {
        FloatStringSpreadsheetData t;
        Outcome r = viaHost ? ReadViaHost("NSAS File", path, t) : ReadDirect<NsasFile>(path, t);
        ASSERT_EQ(r.read, 0) << r.error;
        EXPECT_EQ(r.cols, 704);
        EXPECT_EQ(r.rows, 4);
        EXPECT_EQ(Text(t, 1, 1), "/Instrument model 7");
        const char* names[] = {"SampleNo", "SpectrumNo", "SampleName", "Time", "w1100", "w1102"};
        for (int c = 1; c <= 6; ++c) EXPECT_EQ(Text(t, c, 2), names[c - 1]);
        EXPECT_EQ(Text(t, 704, 2), "w2498");
        EXPECT_EQ(t.GetFloatData(1, 3), 1.0f);
        EXPECT_EQ(t.GetFloatData(2, 3), 11.0f);
        EXPECT_EQ(Text(t, 3, 3), "Wheat A");
        EXPECT_EQ(Text(t, 4, 3), "05-03-24 14:07:09");
        EXPECT_EQ(t.GetFloatData(704, 3), 699 / 4.0f);
        EXPECT_EQ(t.GetFloatData(1, 4), 2.0f);
        EXPECT_EQ(Text(t, 4, 4), "05-03-24 14:07:58");
        EXPECT_EQ(t.GetFloatData(5, 4), 500.0f);  // right only when the filler was passed over
        EXPECT_EQ(t.GetFloatData(704, 4), 500.0f + 699 / 4.0f);
    }
}

TEST_F(NsasTest, ValuesFillingWholeBlocksHaveNoFiller) {
    Bytes da = BuildDa({{.end = 3148, .n = 1024}, {.number = 2, .end = 3148, .n = 1024, .base = 7000.0f}});
    ASSERT_EQ(da.size(), 2u * (128 + 4096));
    FloatStringSpreadsheetData t;
    Outcome r = ReadDirect<NsasFile>(Write(dir, "k.da", da), t);
    ASSERT_EQ(r.read, 0) << r.error;
    EXPECT_EQ(r.cols, 1028);
    EXPECT_EQ(t.GetFloatData(5, 4), 7000.0f);
}

TEST_F(NsasTest, ConstituentFileLayoutIsToldApartBySize) {
    for (auto& s : two) s.constituents = 2;
    std::vector<std::string> names{" Protein", "Moisture\x01"};
    std::vector<std::vector<float>> values{{12.5f, 0.75f}, {13.25f, 1.5f}};
    Bytes named = BuildCn(&names, values), plain = BuildCn(nullptr, values), odd = plain;
    odd.resize(odd.size() + 128);
    FloatStringSpreadsheetData t, u, v, w;
    Outcome r = ReadDirect<NsasFile>(Files("named", two, &named), t);
    ASSERT_EQ(r.read, 0) << r.error;
    EXPECT_EQ(r.cols, 706);
    EXPECT_EQ(Text(t, 705, 2), "Protein");
    EXPECT_EQ(Text(t, 706, 2), "Moisture");
    EXPECT_EQ(t.GetFloatData(706, 4), 1.5f);
    r = ReadDirect<NsasFile>(Files("plain", two, &plain), u);
    ASSERT_EQ(r.read, 0) << r.error;
    EXPECT_TRUE(u.IsMisVal(705, 2));
    EXPECT_EQ(u.GetFloatData(705, 3), 12.5f);
    r = ReadDirect<NsasFile>(Files("odd", two, &odd), v);
    EXPECT_EQ(r.read, NsasFile::kUnknownCnSize);
    EXPECT_EQ(r.error, "CN-file corrupt! File size do not match any known version of CN file formats.");
    EXPECT_EQ(ReadDirect<NsasFile>(Files("none", two), w).cols, 704);
    // A header may count more constituents than a record holds; only 32 exist.
    for (auto& s : two) s.constituents = 40;
    Bytes full = BuildCn(nullptr, {std::vector<float>(32, 1.0f), std::vector<float>(32, 2.0f)});
    FloatStringSpreadsheetData x;
    r = ReadDirect<NsasFile>(Files("many", two, &full), x);
    EXPECT_EQ(r.cols, 704 + 32);
    EXPECT_EQ(x.GetFloatData(736, 4), 2.0f);
}

TEST_F(NsasTest, SpectraOnDifferentRangesShareOneGrid) {
    // The grid runs from the smallest start to the smallest last point: w1100 .. w1298.
    std::vector<Nsas> s{{.end = 1500, .n = 200}, {.start = 1150, .end = 1350, .n = 100, .base = 500.0f},
                        {.number = 3, .end = 1300, .n = 100, .base = 900.0f}};
    FloatStringSpreadsheetData t;
    Outcome r = ReadDirect<NsasFile>(Files("ranges", s), t);
    ASSERT_EQ(r.read, 0) << r.error;
    ASSERT_EQ(r.cols, 104);
    for (int c = 5; c <= 29; ++c) EXPECT_TRUE(t.IsMisVal(c, 4)) << c;  // before 1150
    EXPECT_EQ(t.GetFloatData(30, 4), 500.0f);
    // The first spectrum's points beyond the grid are not delivered, yet the ones after it
    // are found where they are.
    EXPECT_EQ(t.GetFloatData(2, 5), 3.0f);
    EXPECT_EQ(t.GetFloatData(104, 5), 900.0f + 99 / 4.0f);
}

TEST_F(NsasTest, DamagedFilesFailTheSizePassWithTheirCodes) {
    Bytes cutData = BuildDa(two), cutHeader = cutData;
    cutData.resize(2 * 128 + 2816 + 400);
    cutHeader.resize(128 + 2816 + 40);
    struct {
        std::vector<Nsas> spectra;
        Bytes bytes;
        int code;
    } cases[] = {{{{.n = 0}}, {}, NsasFile::kBadHeader},
                 {{{.start = -5}}, {}, NsasFile::kBadHeader},
                 {{{.start = 2500, .end = 1100}}, {}, NsasFile::kBadHeader},
                 {{{}, {.end = 1800}}, {}, NsasFile::kMismatchedHeader},
                 {{{}, {.constituents = 3}}, {}, NsasFile::kMismatchedHeader},
                 {{}, cutData, NsasFile::kShortData},
                 {{}, cutHeader, NsasFile::kShortHeader}};
    for (const auto& c : cases) {
        NsasFile f;
        ASSERT_EQ(f.Open(true, Write(dir, "bad.da", c.spectra.empty() ? c.bytes : BuildDa(c.spectra)).c_str(), nullptr), 0);
        EXPECT_EQ(f.GetNumRows(), -1);
        EXPECT_EQ(f.GetStatus(), c.code);
    }
    FloatStringSpreadsheetData t;
    Outcome r = ReadViaHost("NSAS File", dir.File("bad.da"), t);
    EXPECT_EQ(r.error, "DA-file corrupt! Could not read the whole header for spectra (possibly end of file).");
}

TEST_F(NsasTest, EmptyMissingAndWriting) {
    FloatStringSpreadsheetData t;
    // No header at all: a size pass that succeeds with 0 x 0, and a read that delivers nothing.
    Outcome r = ReadDirect<NsasFile>(Write(dir, "empty.da", {}), t);
    EXPECT_EQ((std::vector<int>{r.open, r.rows, r.cols, r.read}), (std::vector<int>{0, 0, 0, 0})) << r.error;
    NsasFile missing, folder, writer;
    EXPECT_EQ(missing.Open(true, dir.File("none.da").c_str(), nullptr), NsasFile::kOpenFailed);
    EXPECT_EQ(MessageOf(missing), "Failed to open stream for reading.");
    EXPECT_EQ(folder.Open(true, dir.File("").c_str(), nullptr), NsasFile::kOpenFailed);
    EXPECT_EQ(writer.Open(false, dir.File("empty.da").c_str(), nullptr), SpreadsheetFile::kWrongDirection);
    EXPECT_EQ(SprFileFactory::IsMyKindOfFile(FormatIndex("NSAS File"), "x.da"), SprFileFactory::PossiblyMyKind);
}

TEST_F(NsasTest, UpperCaseConstituentFileIsFound) {
    Write(dir, "UP.CN", BuildCn(nullptr, {{42.0f}}));
    FloatStringSpreadsheetData t;
    Outcome r = ReadDirect<NsasFile>(Write(dir, "UP.DA", BuildDa({{.end = 1110, .constituents = 1, .n = 5}})), t);
    ASSERT_EQ(r.read, 0) << r.error;
    EXPECT_EQ(t.GetFloatData(10, 3), 42.0f);
}

TEST_F(NsasTest, HostSkippingRowsGetsOnlyTheRowsItAsksFor) {
    two.push_back({.number = 13, .base = 800.0f});
    for (auto& s : two) s.constituents = 1;
    std::vector<std::string> names{"Oil"};
    Bytes cn = BuildCn(&names, {{1.5f}, {2.5f}, {3.5f}});
    std::string path = Files("skip", two, &cn);
    SkippingTable t;
    t.skip = {2, 4};  // the name row and the second spectrum
    Outcome r = ReadViaHost("NSAS File", path, t);
    ASSERT_EQ(r.read, 0) << r.error;
    EXPECT_EQ(Text(t, 1, 1), "/Instrument model 7");
    EXPECT_TRUE(t.IsMisVal(705, 2));
    EXPECT_TRUE(t.IsMisVal(1, 4));
    EXPECT_EQ(t.GetFloatData(705, 3), 1.5f);
    EXPECT_EQ(t.GetFloatData(5, 5), 800.0f);
    EXPECT_EQ(t.GetFloatData(705, 5), 3.5f);
    SkippingTable firstOnly;
    firstOnly.last = 3;
    EXPECT_EQ(ReadDirect<NsasFile>(path, firstOnly).read, 0);
    EXPECT_EQ(firstOnly.asked, (std::vector<int>{0, 1, 2, 3}));
}

// The Brimrose and NSAS seeds and samples are the fixture builder's output, and the samples read.
TEST(SpectralCommittedFixtures, MatchTheBuilderAndRead) {
    ExpectCommitted(CommittedFixtures());
    FloatStringSpreadsheetData b, n;
    Outcome r = ReadViaHost("Brimrose File", KELTO_SOURCE_DIR "/samples/brimrose_three_observations.dat", b);
    EXPECT_EQ(r.read, 0) << r.error;
    EXPECT_EQ(Text(b, 22, 1), "w1480");
    EXPECT_EQ(b.GetFloatData(22, 4), 3019.25f);
    r = ReadViaHost("NSAS File", KELTO_SOURCE_DIR "/samples/nsas_three_spectra.da", n);
    EXPECT_EQ(r.read, 0) << r.error;
    EXPECT_EQ(Text(n, 3, 5), "Barley 1");
    EXPECT_EQ(n.GetFloatData(54, 5), 0.75f + 49 / 4.0f);
}
