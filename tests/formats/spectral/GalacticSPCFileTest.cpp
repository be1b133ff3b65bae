// The Galactic SPC reader on the corpus and on files from the fixture builder.
#include "formats/spectral/GalacticSPCFile.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <map>
#include <limits>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "formats/spectral/USDBase.h"
#include "host/ImportOptionsHelper.h"
#include "tests/formats/spectral/SpcFixtures.h"
#include "tests/formats/spectral/SpectralTestSupport.h"

namespace kelto::spectral {
std::string SpcTimeStamp(std::uint32_t date, unsigned zUnit, double z);
}

namespace {

using namespace kelto::test;
using namespace kelto::test::spectral;

std::string Several(const TempDir& dir, const std::vector<std::string>& names) {
    return kelto::test::spectral::Several(dir.Path().string(), names);
}

Outcome ReadSpc(const std::string& argument, FloatStringSpreadsheetData& table, QmImportOpenOptions* options = nullptr) {
    return ReadDirect<GalacticSPCFile>(argument, table, options);
}

std::vector<float> Row(const FloatStringSpreadsheetData& t, int row, int from, int to) {
    std::vector<float> out;
    for (int c = from; c <= to; ++c) out.push_back(t.GetFloatData(c, row));
    return out;
}

TEST(GalacticSPCFile, OneSpectrumWithTheDefaultLayout) {
    TempDir dir;
    Spc spc = SpcSingle(3, 4000, 3996);
    const std::string path = Write(dir, "abc.spc", spc.Build());
    FloatStringSpreadsheetData t;
    Outcome r = ReadSpc(path, t);
    ASSERT_EQ(r.read, 0) << r.error;
    EXPECT_EQ(r.rows, 3);
    EXPECT_EQ(r.cols, 6);
    const std::vector<std::string> heading{"Primary ID", "Name", "Z", "t 4000", "t 3998", "t 3996"};
    for (int c = 1; c <= 6; ++c) EXPECT_EQ(Text(t, c, 1), heading[c - 1]);
    EXPECT_TRUE(t.IsMisVal(1, 2) && t.IsMisVal(3, 2));
    EXPECT_EQ(Text(t, 2, 2), "cm-1");
    EXPECT_EQ(Row(t, 2, 4, 6), (std::vector<float>{4000, 3998, 3996}));
    EXPECT_EQ(t.GetInt64(1, 3), 1);
    EXPECT_EQ(Text(t, 2, 3), "abc");
    EXPECT_EQ(t.GetFloatData(3, 3), 0.0f);
    EXPECT_EQ(Row(t, 3, 4, 6), (std::vector<float>{0, 0.125f, 0.25f}));

    // Without the x-value row the headings are numbers and the spectrum moves up.
    USDConstraints plain;
    plain.IncludeOrdinalValues = false;
    const std::string bytes = USDBase::ToOptionsBytes(plain);
    ImportOptionsHelper::OpenOptions options;
    options.size = static_cast<int>(bytes.size());
    options.data = new char[bytes.size()];
    std::copy(bytes.begin(), bytes.end(), options.data);
    FloatStringSpreadsheetData u;
    r = ReadSpc(path, u, &options);
    ASSERT_EQ(r.read, 0) << r.error;
    EXPECT_EQ(r.rows, 2);
    EXPECT_EQ(u.GetFloatData(5, 1), 3998.0f);
    EXPECT_EQ(u.GetInt64(1, 2), 1);
    EXPECT_EQ(Row(u, 2, 4, 6), (std::vector<float>{0, 0.125f, 0.25f}));
}

TEST(GalacticSPCFile, YValuesOfEveryStorage) {
    const std::vector<double> y{1.5, -0.25, 3.0};
    struct Case {
        const char* what;
        Spc spc;
    } cases[] = {
        {"32-bit integers, exponent 5", Spc{.exponent = 5}},
        {"16-bit integers, exponent 3", Spc{.flags = 0x01, .exponent = 3}},
        {"floats (exponent 0x80)", Spc{.exponent = 0x80}},
        {"old layout, 32-bit halves swapped", Spc{.version = 0x4D, .exponent = 4}},
        {"old layout, 16-bit", Spc{.flags = 0x01, .version = 0x4D, .exponent = 3}},
        {"old layout, floats", Spc{.version = 0x4D, .exponent = 0xFF80}},
        {"multi-file: the sub-file's exponent", Spc{.flags = 0x04, .exponent = 30, .subs = {SpcSub{.exponent = 6}}}},
        {"multi-file: the sub-file says floats", Spc{.flags = 0x04, .exponent = 3, .subs = {SpcSub{.exponent = 0x80}}}},
        {"old multi-file: the sub-file's exponent", Spc{.flags = 0x04, .version = 0x4D, .exponent = 30, .subs = {SpcSub{.exponent = 4}}}},
    };
    for (Case& c : cases) {
        TempDir dir;
        c.spc.points = 3;
        c.spc.last = 3996;
        c.spc.subs[0].y = y;
        FloatStringSpreadsheetData t;
        Outcome r = ReadSpc(Write(dir, "y.spc", c.spc.Build()), t);
        ASSERT_EQ(r.read, 0) << c.what << ": " << r.error;
        EXPECT_EQ(Row(t, 3, 4, 6), (std::vector<float>{1.5f, -0.25f, 3.0f})) << c.what;
        EXPECT_EQ(t.IsMisVal(3, 3), c.spc.Old()) << c.what << ": the old layout has no z";
    }
}

TEST(GalacticSPCFile, RefusalsEndWithTheirCodes) {
    auto cut = [](Bytes b, std::size_t n) {
        b.resize(n);
        return b;
    };
    Spc big = SpcSingle(4, 1, 4);
    big.points = 1000;  // the values of 1000 points do not follow
    Spc oldNaN;
    oldNaN.version = 0x4D;
    Bytes oldNaNBytes = oldNaN.Build();
    Put<float>(oldNaNBytes, 4, std::numeric_limits<float>::quiet_NaN());
    Bytes oldHuge = oldNaN.Build();
    Put<float>(oldHuge, 4, 3e9f);
    const struct {
        const char* what;
        Bytes bytes;
        int code;
    } cases[] = {
        {"own x array per sub-file", Spc{.flags = 0x40 | 0x04}.Build(), 2568},
        {"old layout with an x array", Spc{.flags = 0x80, .version = 0x4D}.Build(), 2565},
        {"layout byte L", Spc{.version = 0x4C}.Build(), 2563},
        {"another layout byte", Spc{.version = 0x08}.Build(), 2562},
        {"one byte", Bytes{0}, 2562},
        {"new header cut short", cut(Spc{}.Build(), 300), 2564},
        {"old header cut short", cut(Spc{.version = 0x4D}.Build(), 200), 2564},
        {"more points than the file holds", big.Build(), 2562},
        {"more sub-files than the file holds", Spc{.flags = 0x04, .subFileCount = 70000}.Build(), 2562},
        {"a negative sub-file count", Spc{.subFileCount = -3}.Build(), 2562},
        {"an x array beyond the end", Spc{.flags = 0x80, .points = 200000}.Build(), 2562},
        {"old layout: a NaN point count", oldNaNBytes, 2562},
        {"old layout: more points than bytes", oldHuge, 2562},
        {"old layout: not one whole sub-file", cut(Spc{.version = 0x4D}.Build(), 258), 2562},
    };
    for (const auto& c : cases) {
        TempDir dir;
        GalacticSPCFile file;
        EXPECT_EQ(file.Open(true, Write(dir, "bad.spc", c.bytes).c_str(), nullptr), c.code) << c.what;
        EXPECT_EQ(file.GetNumRows(), -1) << c.what;
        EXPECT_FALSE(MessageOf(file).empty()) << c.what;
    }
    GalacticSPCFile missing, writing;
    EXPECT_EQ(missing.Open(true, "/nonexistent/x.spc", nullptr), 2560);
    EXPECT_EQ(MessageOf(missing), "Unable to open file.");
    EXPECT_EQ(writing.Open(false, "/nonexistent/x.spc", nullptr), 3);
}

TEST(GalacticSPCFile, MultiFileNamesZValuesAndTimeStamps) {
    TempDir dir;
    // Evenly spaced z: index x increment + z of sub-file 0, whatever the sub-files say.
    Spc even{.flags = 0x04, .exponent = 0x80, .points = 2, .zUnit = 20, .zIncrement = 2.5f};
    even.subs.clear();
    for (std::uint16_t k = 0; k < 5; ++k) even.subs.push_back(SpcSub{.exponent = 0x80, .index = k, .z = 100.0f + 7 * k, .y = {1.0 * k, 2}});
    // Increment 0: taken from the first sub-file's next z.
    Spc fromNext = even;
    fromNext.zIncrement = 0;
    for (SpcSub& s : fromNext.subs) s.nextZ = s.z + 0.5f;
    // Uneven z: each sub-file's own.
    Spc uneven = even;
    uneven.flags |= 0x10;
    // Minutes on 2020-12-31 23:59, and seconds from date word 0.
    Spc minutes = uneven;
    minutes.zUnit = 5;
    minutes.date = SpcDate(2020, 12, 31, 23, 59);
    minutes.subs[0].z = 0.0f;
    minutes.subs[1].z = 1.5f;
    Spc seconds = minutes;
    seconds.zUnit = 4;
    seconds.date = 0;
    seconds.subs[1].z = 75.25f;
    const struct {
        const char* what;
        Spc spc;
        std::string heading, z1, z2;
    } cases[] = {
        {"even", even, "°C", "100", "102.5"},
        {"increment from next z", fromNext, "°C", "100", "100.5"},
        {"uneven", uneven, "°C", "100", "107"},
        {"minutes", minutes, "Date", "2020-12-31 23:59:00.000", "2021-01-01 00:00:30.000"},
        {"seconds", seconds, "Date", "00.000", "01:15.250"},
    };
    for (const auto& c : cases) {
        FloatStringSpreadsheetData t;
        Outcome r = ReadSpc(Write(dir, "abc.spc", c.spc.Build()), t);
        ASSERT_EQ(r.read, 0) << c.what << ": " << r.error;
        ASSERT_EQ(r.rows, 7) << c.what;
        EXPECT_EQ(Text(t, 3, 1), c.heading) << c.what;
        for (int k = 1; k <= 5; ++k) {
            EXPECT_EQ(Text(t, 2, 2 + k), "abc_" + std::to_string(k)) << c.what;
            EXPECT_EQ(t.GetInt64(1, 2 + k), k) << c.what;
            EXPECT_EQ(t.GetFloatData(4, 2 + k), k - 1.0f) << c.what;
        }
        EXPECT_EQ(t.GetStringValue(3, 3), c.z1) << c.what;
        EXPECT_EQ(t.GetStringValue(3, 4), c.z2) << c.what;
    }
}

// Minutes and seconds on a real date are in MultiFileNamesZValuesAndTimeStamps above.
TEST(GalacticSPCFile, TimeStampsCarryByArithmetic) {
    using namespace std::chrono;
    const struct {
        std::uint32_t date;
        unsigned unit;
        double z;
        std::string text;
    } cases[] = {
        {0, 30, 2.0, "02:00:00.000"},
        {0, 30, 49.0, "02 01:00:00.000"},  // month 0 never ends: the days just count on
        {SpcDate(2024, 2, 28, 12, 0), 30, 12.0, "2024-02-29 00:00:00.000"},
        {SpcDate(2023, 2, 28, 12, 0), 30, 12.0, "2023-03-01 00:00:00.000"},
        {SpcDate(2100, 2, 28, 0, 0), 30, 24.0, "2100-03-01 00:00:00.000"},
        {SpcDate(2000, 2, 28, 0, 0), 30, 24.0, "2000-02-29 00:00:00.000"},
        {SpcDate(0, 0, 0, 0, 0), 4, -5.0, "00.000"},
    };
    for (const auto& c : cases) EXPECT_EQ(kelto::spectral::SpcTimeStamp(c.date, c.unit, c.z), c.text) << c.z;

    // Large offsets against the civil calendar of <chrono>: millions of minutes, or years.
    for (double minutes : {1e6, 123456789.0, 5e9, 1.5e10}) {
        const sys_days start = year{1999} / 3 / 14;
        const auto when = start + hours{7} + std::chrono::minutes{5} + std::chrono::minutes{static_cast<long long>(minutes)};
        const sys_days day = floor<days>(when);
        const year_month_day ymd{day};
        const hh_mm_ss hms{when - day};
        const std::string expected = fmt::format("{:04d}-{:02d}-{:02d} {:02d}:{:02d}:00.000", static_cast<int>(ymd.year()),
                                                 static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                                                 hms.hours().count(), hms.minutes().count());
        EXPECT_EQ(kelto::spectral::SpcTimeStamp(SpcDate(1999, 3, 14, 7, 5), 5, minutes), expected) << minutes;
    }
    // An absurd z ends quickly with some text.
    EXPECT_FALSE(kelto::spectral::SpcTimeStamp(SpcDate(4095, 15, 31, 31, 63), 30, 1e300).empty());
}

TEST(GalacticSPCFile, SeveralFilesShareOneAxis) {
    TempDir dir;
    Write(dir, "a.spc", SpcSingle(4, 10, 16, 1).Build());
    Write(dir, "b.spc", SpcSingle(3, 10, 14, 2).Build());       // same spacing, fewer points
    Write(dir, "shifted.spc", SpcSingle(4, 10.5, 16.5).Build());  // first x differs
    Write(dir, "one.spc", SpcSingle(1, 10, 10, 3).Build());     // one point: spacing 0/0
    FloatStringSpreadsheetData t;
    Outcome r = ReadSpc(Several(dir, {"a.spc", "b.spc", "one.spc"}), t);
    ASSERT_EQ(r.read, 0) << r.error;
    EXPECT_EQ(r.rows, 5);
    EXPECT_EQ(r.cols, 7);
    EXPECT_EQ(Row(t, 2, 4, 7), (std::vector<float>{10, 12, 14, 16}));
    EXPECT_EQ(Row(t, 4, 4, 6), (std::vector<float>{2, 2.125f, 2.25f}));
    EXPECT_TRUE(t.IsMisVal(7, 4));
    EXPECT_EQ(t.GetFloatData(4, 5), 3.0f);
    EXPECT_TRUE(t.IsMisVal(5, 5));

    FloatStringSpreadsheetData lone;
    r = ReadSpc(Several(dir, {"one.spc", "one.spc"}), lone);
    EXPECT_EQ(r.read, 0) << "a one-point spectrum matches itself: " << r.error;
    EXPECT_EQ(lone.GetFloatData(4, 2), 10.0f);

    GalacticSPCFile differ;
    ASSERT_EQ(differ.Open(true, Several(dir, {"a.spc", "shifted.spc"}).c_str(), nullptr), 0);
    EXPECT_EQ(differ.Read(&t), 2567);
    EXPECT_EQ(MessageOf(differ), "The data did not have the same X-spacing.");

    // One x array after the header (flag 0x80) is the axis; two that differ are refused.
    Spc xs = SpcSingle(3, 0, 0);
    xs.flags = 0x80;
    xs.x = {5.5f, 7.25f, 100.0f};
    Write(dir, "x1.spc", xs.Build());
    Write(dir, "x2.spc", xs.Build());
    xs.x[2] = 101.0f;
    Write(dir, "x3.spc", xs.Build());
    FloatStringSpreadsheetData u;
    r = ReadSpc(Several(dir, {"x1.spc", "x2.spc"}), u);
    ASSERT_EQ(r.read, 0) << r.error;
    EXPECT_EQ(Text(u, 6, 1), "t 100");
    EXPECT_EQ(Row(u, 2, 4, 6), (std::vector<float>{5.5f, 7.25f, 100.0f}));
    GalacticSPCFile mismatch;
    EXPECT_EQ(mismatch.Open(true, Several(dir, {"x1.spc", "x3.spc"}).c_str(), nullptr), 2569);
    // A NaN in an x array never equals, yet the file it came from reads.
    xs.x[1] = std::numeric_limits<float>::quiet_NaN();
    Write(dir, "n1.spc", xs.Build());
    Write(dir, "n2.spc", xs.Build());
    FloatStringSpreadsheetData v;
    r = ReadSpc(Several(dir, {"n1.spc"}), v);
    EXPECT_EQ(r.read, 0) << r.error;
    GalacticSPCFile nan;
    EXPECT_EQ(nan.Open(true, Several(dir, {"n1.spc", "n2.spc"}).c_str(), nullptr), 2569);
}

TEST(GalacticSPCFile, OldLayoutReadsEverySubFile) {
    TempDir dir;
    Spc old{.flags = 0x04, .version = 0x4D, .first = 200, .last = 204, .points = 3};
    old.subs.clear();
    for (int k = 0; k < 4; ++k) old.subs.push_back(SpcSub{.exponent = 2 + k, .y = {0.5 * k, 1, -1}});
    FloatStringSpreadsheetData t;
    Outcome r = ReadSpc(Write(dir, "old.spc", old.Build()), t);
    ASSERT_EQ(r.read, 0) << r.error;
    ASSERT_EQ(r.rows, 6);
    EXPECT_EQ(Row(t, 2, 4, 6), (std::vector<float>{200, 202, 204}));
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(Text(t, 2, 3 + k), "old_" + std::to_string(k + 1));
        EXPECT_EQ(Row(t, 3 + k, 4, 6), (std::vector<float>{0.5f * k, 1, -1})) << k;
    }
    // Without the multi flag only the first sub-file counts, whatever follows.
    old.flags = 0;
    old.exponent = 2;
    r = ReadSpc(Write(dir, "single.spc", old.Build()), t);
    EXPECT_EQ(r.rows, 3);
}

TEST(GalacticSPCFile, AFileCutAfterOpenEndsAfterItsCompleteRows) {
    TempDir dir;
    Spc spc{.flags = 0x04, .exponent = 0x80, .points = 2};
    spc.subs = {SpcSub{.exponent = 0x80, .y = {1, 2}}, SpcSub{.exponent = 0x80, .y = {3, 4}}, SpcSub{.exponent = 0x80, .y = {5, 6}}};
    const std::string path = Write(dir, "cut.spc", spc.Build());
    GalacticSPCFile file;
    ASSERT_EQ(file.Open(true, path.c_str(), nullptr), 0);
    FloatStringSpreadsheetData t;
    t.SetDataSize(file.GetNumCols(), file.GetNumRows());
    std::filesystem::resize_file(path, 512 + 2 * 40 + 32 + 4);  // inside the third sub-file's values
    EXPECT_EQ(file.Read(&t), 2562);
    EXPECT_EQ(Row(t, 4, 4, 5), (std::vector<float>{3, 4}));
    EXPECT_TRUE(t.IsMisVal(4, 5) && t.IsMisVal(1, 5)) << "no row from a half-read sub-file";
}

TEST(GalacticSPCFile, OptionsChooseColumnsAndComeBack) {
    TempDir dir;
    const std::string path = Write(dir, "s.spc", SpcSingle(11, 0, 10).Build());
    // Defaults: every position, one interval over the axis; an empty record receives them.
    GalacticSPCFile probe;
    std::unique_ptr<ImportOptionsHelper::OpenOptions> defaults =
        ImportOptionsHelper::OpenOptions::Adopt(probe.GetFileReadOptions(path.c_str(), false));
    ASSERT_TRUE(defaults);
    USDConstraints c;
    ASSERT_TRUE(USDBase::GetUSDConstraintsFromString(USDBase::TextFromOptionsBytes(defaults->data, static_cast<std::size_t>(defaults->size)), c));
    EXPECT_TRUE(c.IncludeAllValues && c.IncludeOrdinalValues);
    EXPECT_EQ(c.IncludeXStartPt, std::vector<float>{0});
    EXPECT_EQ(c.IncludeXEndPt, std::vector<float>{10});

    // Intervals [1, 3] and [6, 9] averaged in twos: (1,2) (6,7) (8,9); 3 has no partner.
    c.IncludeAllValues = false;
    c.NumberOfIncludedIntervals = 2;
    c.IncludeXStartPt = {1, 6};
    c.IncludeXEndPt = {3, 9};
    c.UseAverage = 2;
    std::string text;
    USDBase::GetStringFromUSDConstraints(c, text);
    std::unique_ptr<ImportOptionsHelper::OpenOptions> given = ImportOptionsHelper::OpenOptions::CreateOpenOptions(text);
    FloatStringSpreadsheetData t;
    Outcome r = ReadSpc(path, t, given.get());
    ASSERT_EQ(r.read, 0) << r.error;
    EXPECT_EQ(r.cols, 6);
    EXPECT_EQ(Row(t, 2, 4, 6), (std::vector<float>{1.5f, 6.5f, 8.5f}));
    EXPECT_EQ(Row(t, 3, 4, 6), (std::vector<float>{1.5f / 8, 6.5f / 8, 8.5f / 8}));
    EXPECT_EQ(Text(t, 4, 1), "t 1.5");
    USDConstraints back;
    ASSERT_TRUE(USDBase::GetUSDConstraintsFromString(USDBase::TextFromOptionsBytes(given->data, static_cast<std::size_t>(given->size)), back));
    EXPECT_EQ(back, c) << "the record is written back";

    // A second read, and the counts after it, agree with the first.
    GalacticSPCFile twice;
    ASSERT_EQ(twice.Open(true, path.c_str(), given.get()), 0);
    const int rows = twice.GetNumRows(), cols = twice.GetNumCols();
    FloatStringSpreadsheetData first, second;
    first.SetDataSize(cols, rows);
    second.SetDataSize(cols, rows);
    ASSERT_EQ(twice.Read(&first), 0);
    EXPECT_EQ(twice.GetNumRows(), rows);
    EXPECT_EQ(twice.GetNumCols(), cols);
    ASSERT_EQ(twice.Read(&second), 0);
    for (int row = 1; row <= rows; ++row)
        for (int col = 1; col <= cols; ++col) EXPECT_EQ(first.GetStringValue(col, row), second.GetStringValue(col, row));

    // An empty record gets the defaults; a document that does not fit is code 5; bytes that
    // are no options text, 2560.
    QmImportOpenOptions empty{0, nullptr};
    GalacticSPCFile filled;
    ASSERT_EQ(filled.Open(true, path.c_str(), &empty), 0);
    ASSERT_GT(empty.size, 0);
    ASSERT_TRUE(USDBase::GetUSDConstraintsFromString(USDBase::TextFromOptionsBytes(empty.data, static_cast<std::size_t>(empty.size)), back));
    EXPECT_TRUE(back.IncludeAllValues);
    auto bad = ImportOptionsHelper::OpenOptions::CreateOpenOptions("<Configuration><Section name=\"Settings\"/></Configuration>");
    GalacticSPCFile refused, garbled;
    EXPECT_EQ(refused.Open(true, path.c_str(), bad.get()), 5);
    ImportOptionsHelper::OpenOptions junk;
    junk.size = 3;
    junk.data = new char[3]{'a', 'b', 'c'};
    EXPECT_EQ(garbled.Open(true, path.c_str(), &junk), 2560);
}

TEST(GalacticSPCFile, SkippedRowsKeepTheirNeighboursRight) {
    TempDir dir;
    Spc spc{.flags = 0x04, .exponent = 0x80, .points = 2, .zUnit = 20, .zIncrement = 0};
    for (std::uint16_t k = 0; k < 4; ++k) spc.subs.push_back(SpcSub{.exponent = 0x80, .index = k, .z = 0, .nextZ = 3, .y = {10.0 * k, 1}});
    spc.subs.erase(spc.subs.begin());
    SkippingTable t;
    t.skip = {2, 4};
    t.last = 5;
    GalacticSPCFile file;
    ASSERT_EQ(file.Open(true, Write(dir, "s.spc", spc.Build()).c_str(), nullptr), 0);
    t.SetDataSize(file.GetNumCols(), file.GetNumRows());
    ASSERT_EQ(file.Read(&t), 0);
    EXPECT_TRUE(t.IsMisVal(4, 2) && t.IsMisVal(4, 4) && t.IsMisVal(4, 6));
    EXPECT_EQ(t.GetFloatData(4, 3), 0.0f);
    EXPECT_EQ(t.GetFloatData(4, 5), 20.0f);
    EXPECT_EQ(t.GetStringValue(3, 5), "6") << "z of sub-file 2 from the increment found in sub-file 0";
}

TEST(GalacticSPCFile, AMissingFileIsPossiblyOurs) {
    EXPECT_EQ(SprFileFactory::IsMyKindOfFile(FormatIndex("GalacticSPC File"), "/nonexistent"), SprFileFactory::PossiblyMyKind);
}

// The seeds and the sample in the repository are the builder's output, and the sample reads.
TEST(GalacticSPCFile, CommittedFixturesMatchTheBuilderAndRead) {
    ExpectCommitted(CommittedSpcFixtures());
    FloatStringSpreadsheetData t;
    auto r = ReadViaHost("GalacticSPC File", KELTO_SOURCE_DIR "/samples/galactic_three_spectra.spc", t);
    ASSERT_EQ(r.read, 0) << r.error;
    EXPECT_EQ(r.rows, 5);
    EXPECT_EQ(r.cols, 43);
    EXPECT_EQ(t.GetStringValue(3, 4), "2024-06-01 10:01:00.000");
    EXPECT_EQ(t.GetStringValue(2, 5), "galactic_three_spectra_3");
}

}  // namespace

// Every corpus file reads, or ends with its code; every one read matches the values an
// independent reader (spc-parser, tests/peers/spc_expected.js) gave for it.
namespace {

const std::string kDir = std::string(KELTO_CORPUS_DIR) + "/spc/";

struct Expected {
    std::vector<double> x;
    std::vector<std::vector<double>> y;
};

Expected Load(const std::string& path) {
    Expected e;
    for (const auto& row : ReadTsv(path)) {
        std::vector<double> values;
        for (std::size_t i = 1; i < row.size(); ++i) values.push_back(std::stod(row[i]));
        if (row[0] == "x") e.x = std::move(values);
        else if (row[0] == "y") e.y.push_back(std::move(values));
    }
    return e;
}

TEST(GalacticSPCCorpus, EveryFileReadsAsThePeerOrEndsWithItsCode) {
    // Files we refuse: sub-files with x arrays of their own, and a Shimadzu file that is no
    // Galactic SPC file at all.
    const std::map<std::string, int> refused{
        {"BARBITUATES.SPC", 2568}, {"DRUG_SAMPLE.SPC", 2568}, {"F80A20-1.SPC", 2562}};
    // Where we differ from the peer on purpose: in a multi-file every sub-file has its own
    // exponent, 0 included; the peer takes a sub-file exponent of 0 to mean "the file's" (-1
    // in DEMO_3D, -6 in LC_DIODE_ARRAY), which scales those spectra by 2^-1 or 2^-6. Their
    // neighbours show the sub-file's exponent is right: with it the values run on smoothly
    // (LC_DIODE_ARRAY spectra 38, 39, 40 at 190 nm: 0.165, 0.168, 0.151; the peer has 0.0026
    // for 39).
    std::map<std::pair<std::string, int>, double> peerFactor{{{"DEMO_3D.SPC", 1}, 0.5}};
    for (int s : {39, 85, 86, 87, 121, 122, 123, 124, 125, 126, 127, 128}) peerFactor[{"LC_DIODE_ARRAY.SPC", s}] = 1.0 / 64;

    int files = 0, compared = 0;
    for (const std::string& name : CorpusFiles(kDir)) {
        SCOPED_TRACE(name);
        ++files;
        ASSERT_TRUE(std::filesystem::exists(kDir + name)) << "a corpus file is missing";
        FloatStringSpreadsheetData t;
        Outcome r = ReadViaHost("GalacticSPC File", kDir + name, t);
        if (auto it = refused.find(name); it != refused.end()) {
            EXPECT_NE(r.open, 0);
            GalacticSPCFile file;
            EXPECT_EQ(file.Open(true, (kDir + name).c_str(), nullptr), it->second);
            continue;
        }
        ASSERT_EQ(r.read, 0) << r.error;
        const std::string expectedPath = kDir + "expected/" + name + ".tsv";
        ASSERT_TRUE(std::filesystem::exists(expectedPath)) << "no peer values";
        const Expected e = Load(expectedPath);
        ASSERT_EQ(r.rows, 2 + static_cast<int>(e.y.size()));
        ASSERT_EQ(r.cols, 3 + static_cast<int>(e.x.size()));

        // The peer sorts by ascending x; ours keeps the file's order.
        const int n = static_cast<int>(e.x.size());
        const bool descending = n > 1 && t.GetFloatData(4, 2) > t.GetFloatData(3 + n, 2);
        auto column = [&](int i) { return descending ? 3 + n - i : 4 + i; };
        const double tolerance = 1e-6 * std::max(std::fabs(e.x.front()), std::fabs(e.x.back()));
        for (int i = 0; i < n; ++i)
            ASSERT_NEAR(t.GetFloatData(column(i), 2), e.x[i], tolerance) << "x " << i;
        for (std::size_t s = 0; s < e.y.size(); ++s) {
            const int row = 3 + static_cast<int>(s);
            const auto factor = peerFactor.find({name, static_cast<int>(s)});
            for (int i = 0; i < n; ++i) {
                double want = e.y[s][static_cast<std::size_t>(i)];
                if (factor != peerFactor.end()) want /= factor->second;
                ASSERT_EQ(t.GetFloatData(column(i), row), static_cast<float>(want)) << "spectrum " << s << ", x " << e.x[i];
            }
            ++compared;
        }
    }
    EXPECT_EQ(files, 22);
    EXPECT_GT(compared, 400);
}

TEST(GalacticSPCCorpus, NamesAndZColumns) {
    // Worked out by hand from the headers: IG_MULTI's date word 0x7C928BA7 is 1993-02-17 14:39
    // with z in seconds, evenly spaced by 1.1839479; Witec's z are the sub-files' own, in °C.
    const struct {
        const char* file;
        int row;
        const char* heading;
        const char* name;
        const char* z;
    } cases[] = {
        {"IG_MULTI.SPC", 3, "Date", "IG_MULTI_1", "1993-02-17 14:39:00.000"},
        {"IG_MULTI.SPC", 5, "Date", "IG_MULTI_3", "1993-02-17 14:39:02.367"},
        {"Witec-Map.spc", 4, "\xC2\xB0" "C", "Witec-Map_2", "1"},
        {"DEMO_3D.SPC", 34, "Z", "DEMO_3D_32", ""},
        {"HOLMIUM.SPC", 3, "Z", "HOLMIUM", "0"},
    };
    for (const auto& c : cases) {
        FloatStringSpreadsheetData t;
        Outcome r = ReadViaHost("GalacticSPC File", kDir + c.file, t);
        ASSERT_EQ(r.read, 0) << c.file << ": " << r.error;
        EXPECT_EQ(Text(t, 3, 1), c.heading) << c.file;
        EXPECT_EQ(Text(t, 2, c.row), c.name) << c.file;
        EXPECT_EQ(t.GetStringValue(3, c.row), c.z) << c.file;
    }
}

}  // namespace
