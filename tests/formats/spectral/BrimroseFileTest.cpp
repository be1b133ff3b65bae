// The Brimrose reader on files from the fixture builder, through the class and the entry points.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "formats/spectral/BrimroseFile.h"
#include "tests/formats/spectral/SpectralTestSupport.h"

using namespace kelto::test;
using namespace kelto::test::spectral;

namespace {
// Two hours east of UTC, so that a time stamp taken as UTC shows.
class BrimroseTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("TZ", "KLT-2", 1), tzset(); }
    void TearDown() override { unsetenv("TZ"), tzset(); }
    TempDir dir;
};
}  // namespace

TEST_F(BrimroseTest, ThreePointsTwoObservationsGiveTheDocumentedTable) {
    std::string path = Write(dir, "p3m2.dat", Brimrose{}.Build());  // 2023-11-14 22:13:20 UTC
    for (bool viaHost : {false, true}) {
        FloatStringSpreadsheetData t;
        Outcome r = viaHost ? ReadViaHost("Brimrose File", path, t) : ReadDirect<BrimroseFile>(path, t);
        ASSERT_EQ(r.read, 0) << r.error;
        EXPECT_EQ(r.cols, 5);
        EXPECT_EQ(r.rows, 3);
        const char* names[] = {"SampleNo", "DateTime", "w1100", "w1110", "w1120"};
        for (int c = 1; c <= 5; ++c) EXPECT_EQ(Text(t, c, 1), names[c - 1]);
        EXPECT_EQ(t.GetFloatData(1, 2), 1.0f);
        EXPECT_EQ(t.GetFloatData(1, 3), 2.0f);
        EXPECT_EQ(Text(t, 2, 2), "2023-11-15/00:13:20");
        EXPECT_EQ(Text(t, 2, 3), "2023-11-15/00:14:20");
        EXPECT_EQ(t.GetFloatData(3, 2), 1000.25f);
        EXPECT_EQ(t.GetFloatData(5, 3), 2002.25f);
    }
}

TEST_F(BrimroseTest, SignatureDecidesKindAndOpen) {
    Bytes shortFile = Brimrose{}.Build();
    shortFile.resize(511);
    std::string a = Write(dir, "a.dat", Brimrose{}.Build());
    std::string b = Write(dir, "b.dat", Brimrose{.signature = 0x0BA7133C}.Build());
    const int index = FormatIndex("Brimrose File");
    EXPECT_EQ(SprFileFactory::IsMyKindOfFile(index, a.c_str()), SprFileFactory::IsMyKind);
    EXPECT_EQ(QmImportIsCorrectFileType(index, b.c_str()), 2);
    for (std::string refused : {Write(dir, "other.dat", Brimrose{.signature = 0x0D0C10FE}.Build()),
                                Write(dir, "short.dat", shortFile), dir.File("missing.dat"), dir.File("")}) {
        EXPECT_EQ(SprFileFactory::IsMyKindOfFile(index, refused.c_str()), SprFileFactory::NotMyKind) << refused;
        BrimroseFile f;
        EXPECT_EQ(f.Open(true, refused.c_str(), nullptr), BrimroseFile::kNotBrimrose) << refused;
        EXPECT_EQ(MessageOf(f), "The file does not seem to be a valid Brimrose file.");
    }
    BrimroseFile writer;
    EXPECT_EQ(writer.Open(false, a.c_str(), nullptr), SpreadsheetFile::kWrongDirection);
}

TEST_F(BrimroseTest, FileCutInsideSecondObservationDeliversTheFirst) {
    for (std::size_t cutAt : {std::size_t{128 + 8}, std::size_t{100}}) {
        Bytes bytes = Brimrose{}.Build();
        bytes.resize(BrimroseObservationAt(3, 2) + cutAt);
        FloatStringSpreadsheetData t;
        Outcome r = ReadViaHost("Brimrose File", Write(dir, "cut.dat", bytes), t);
        EXPECT_EQ(r.rows, 3);
        EXPECT_EQ(r.read, 1);
        EXPECT_EQ(r.error, cutAt > 128 ? "File corrupt! Could not read data (possibly end of file)."
                                       : "File corrupt! Could not read the whole sub header (possibly end of file).");
        EXPECT_EQ(t.GetFloatData(5, 2), 1002.25f);
        for (int c = 1; c <= 5; ++c) EXPECT_TRUE(t.IsMisVal(c, 3));
    }
}

TEST_F(BrimroseTest, TableIsBoundedByTheFileNotTheHeader) {
    // 60000 observations of 4000 points promised, two present: not 60001 x 4002 cells.
    FloatStringSpreadsheetData t;
    Outcome r = ReadDirect<BrimroseFile>(Write(dir, "promise.dat", Brimrose{.p = 4000, .declared = 60000}.Build()), t);
    EXPECT_EQ(r.cols, 4002);
    EXPECT_EQ(r.rows, 3);
    EXPECT_EQ(r.read, BrimroseFile::kShortSubHeader);
    EXPECT_EQ(t.GetFloatData(4002, 3), 5999.25f);
    FloatStringSpreadsheetData h;
    r = ReadDirect<BrimroseFile>(Write(dir, "bare.dat", Brimrose{.p = 65535, .m = 0, .declared = 65535}.Build()), h);
    EXPECT_EQ(r.rows, 1);
    EXPECT_EQ(r.read, BrimroseFile::kShortSubHeader);
    EXPECT_EQ(Text(h, 65537, 1), "w656440");
    FloatStringSpreadsheetData none;  // no observations declared or present: no rows
    r = ReadDirect<BrimroseFile>(Write(dir, "m0.dat", Brimrose{.p = 4, .m = 0}.Build()), none);
    EXPECT_EQ((std::vector<int>{r.rows, r.cols, r.read}), (std::vector<int>{0, 4, 0}));
}

TEST_F(BrimroseTest, HostSkippingOrStoppingGetsOnlyWhatItAsks) {
    Bytes bytes = Brimrose{.p = 2, .m = 4}.Build();
    SkippingTable t;
    t.skip = {1, 3};
    Outcome r = ReadViaHost("Brimrose File", Write(dir, "skip.dat", bytes), t);
    ASSERT_EQ(r.read, 0) << r.error;
    EXPECT_TRUE(t.IsMisVal(1, 1));
    EXPECT_TRUE(t.IsMisVal(1, 3));
    EXPECT_EQ(t.GetFloatData(3, 4), 3000.25f);  // observation 3 keeps its row
    EXPECT_EQ(t.GetFloatData(4, 5), 4001.25f);

    bytes.resize(BrimroseObservationAt(2, 4) + 10);  // damage past the rows it wants
    SkippingTable s;
    s.last = 3;
    r = ReadDirect<BrimroseFile>(Write(dir, "stop.dat", bytes), s);
    EXPECT_EQ(r.read, 0);
    EXPECT_EQ(s.asked, (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(BrimroseTest, EachObjectKeepsItsOwnDateText) {
    // A table that keeps the date pointer it was given, to see whether another object's read
    // writes over it.
    struct Keeper : FloatStringSpreadsheetData {
        using FloatStringSpreadsheetData::Set;
        const char* date = nullptr;
        void Set(int col, int row, const char* text) override {
            if (col == 2 && row == 2) date = text;
            FloatStringSpreadsheetData::Set(col, row, text);
        }
    } ta, tb;
    BrimroseFile a, b;
    ASSERT_EQ(a.Open(true, Write(dir, "1.dat", Brimrose{.m = 1, .time0 = 0}.Build()).c_str(), nullptr), 0);
    ASSERT_EQ(b.Open(true, Write(dir, "2.dat", Brimrose{.m = 1, .time0 = 86400 * 400}.Build()).c_str(), nullptr), 0);
    ta.SetDataSize(a.GetNumCols(), a.GetNumRows());
    tb.SetDataSize(b.GetNumCols(), b.GetNumRows());
    ASSERT_EQ(a.Read(&ta) + b.Read(&tb), 0);
    EXPECT_STREQ(ta.date, "1970-01-01/02:00:00");
    EXPECT_STREQ(tb.date, "1971-02-05/02:00:00");
}

TEST_F(BrimroseTest, FileShrunkAfterOpenFailsTheSizePass) {
    std::string path = Write(dir, "shrink.dat", Brimrose{}.Build());
    BrimroseFile f;
    ASSERT_EQ(f.Open(true, path.c_str(), nullptr), 0);
    std::filesystem::resize_file(path, 100);
    EXPECT_EQ(f.GetNumCols(), -1);
    EXPECT_EQ(MessageOf(f), "File corrupt! Could not read the whole main header (possibly end of file).");
}
