// Thermo SIEVE frame lists: recognising the header, the transposed table with its computed
// rows, fields in any order, a missing field, and files without a final line break.
#include <gtest/gtest.h>

#include "formats/text/TextTestSupport.h"
#include "formats/text/ThermoSIEVEFile.h"
#include "outside/TestLocale.h"

using namespace kelto::test;

namespace {

const char* const kFixed[] = {"FrameID", "MZStart", "MZStop", "TimeStart", "TimeStop",
                              "pValue", "Ratio", "UpperBound", "LowerBound", "FOM1"};

std::string Join(const std::vector<std::string>& fields, char delimiter) {
    std::string s;
    for (std::size_t i = 0; i < fields.size(); ++i) s += (i ? std::string(1, delimiter) : "") + fields[i];
    return s;
}

// A header of the ten fixed names and the intensity names, and frames made from an id.
std::string Sieve(char delimiter, const std::vector<std::string>& intensities, int frames, bool finalBreak = true) {
    std::vector<std::string> header(std::begin(kFixed), std::end(kFixed));
    header.insert(header.end(), intensities.begin(), intensities.end());
    std::string text = Join(header, delimiter) + "\n";
    for (int f = 1; f <= frames; ++f) {
        std::vector<std::string> v = {std::to_string(f), std::to_string(100 * f), std::to_string(100 * f + 1),
                                      std::to_string(10 * f) + ".5", std::to_string(10 * f + 1), "0.01",
                                      "2." + std::to_string(f), "3", "1", "0.9" + std::to_string(f)};
        for (std::size_t i = 0; i < intensities.size(); ++i) v.push_back(std::to_string(1000 * f + static_cast<int>(i)));
        text += Join(v, delimiter);
        if (f < frames || finalBreak) text += "\n";
    }
    return text;
}

}  // namespace

TEST(ThermoSIEVEFile, RecognisesTheHeaderWithAnyOfThreeDelimiters) {
    TempDir dir;
    const std::pair<std::string, bool> headers[] = {
        {Sieve(';', {"Intensity_A", "Intensity_B"}, 1), true}, {Sieve('\t', {}, 1), true},
        {Sieve(',', {"Intensity_1"}, 0), true},
        {"FrameID\tMZStart\tMZStop\tTimeStart\tTimeStop\tpValue\tRatio\r\n", true},  // seven suffice
        {"FrameIDx;MZStartx;MZStop;TimeStart;TimeStop;pValue;Ratios\n", true},       // prefixes match
        {"FrameID\tMZStart\tMZStop\tTimeStart\tTimeStop\tpValue\n", false},          // no Ratio
        {"MZStart\tFrameID\tMZStop\tTimeStart\tTimeStop\tpValue\tRatio\n", false},
        // Commas win over the semicolons here, so the names are not where they should be.
        {"FrameID;MZStart;MZStop;TimeStart;TimeStop;pValue;Ratio,a,b,c,d,e,f,g\n", false}, {"", false}};
    for (const auto& [text, want] : headers) {
        WriteFile(dir.File("s.txt"), text);
        EXPECT_EQ(ThermoSIEVEFile::IsThermoSIEVEFile(dir.File("s.txt").c_str()), want) << text;
    }
    EXPECT_FALSE(ThermoSIEVEFile::IsThermoSIEVEFile(dir.File("missing.txt").c_str()));
    WriteFile(dir.File("s.txt"), Sieve('\t', {}, 1));
    EXPECT_EQ(QmImportIsCorrectFileType(FormatIndex("Thermo SIEVE File"), dir.File("s.txt").c_str()), 1);
}

TEST(ThermoSIEVEFile, DeliversFramesAsColumnsWithTheAverages) {
    TempDir dir;
    // Semicolons, two intensity fields, and a process locale whose decimal point is a comma.
    kelto::test::CommaDecimalLocale comma;
    WriteFile(dir.File("s.txt"), Sieve(';', {"Intensity_A", "Intensity_B"}, 2));
    auto r = ReadThroughEntryPoints("Thermo SIEVE File", dir.File("s.txt"));
    ASSERT_TRUE(r->Ok()) << r->error;
    EXPECT_EQ(r->rows, 4);   // the size query: lines read, the final empty read included
    EXPECT_EQ(r->cols, 12);  // the header's fields
    ASSERT_EQ(r->Rows(), 14);
    ASSERT_EQ(r->Cols(), 3);  // the names, then one column per frame
    const char* names[] = {"FrameID", "MZStart", "MZStop", "AverageMZ", "TimeStart", "TimeStop", "AverageRT",
                           "pValue", "Ratio", "UpperBound", "LowerBound", "FOM1", "Intensity_A", "Intensity_B"};
    for (int row = 1; row <= 14; ++row) EXPECT_EQ(r->Text(1, row), names[row - 1]) << row;
    // The averages: (100 + 101) / 2, (10.5 + 11) / 2, (200 + 201) / 2.
    for (auto [col, row, want] : {std::tuple{2, 1, 1.0f}, {2, 2, 100.0f}, {2, 4, 100.5f}, {2, 7, 10.75f}, {3, 4, 200.5f},
                                  {3, 9, 2.2f}, {3, 12, 0.92f}, {2, 13, 1000.0f}, {3, 14, 2001.0f}})
        EXPECT_EQ(r->Number(col, row), want) << col << "," << row;
    if (!comma.Active()) std::cout << "(no comma-decimal locale installed: averages checked in the C locale only)\n";
}

TEST(ThermoSIEVEFile, FieldsAreFoundByNameInAnyOrder) {
    TempDir dir;
    WriteFile(dir.File("o.txt"),
              "FrameID\tMZStart\tMZStop\tTimeStart\tTimeStop\tpValue\tRatio\tExtra\tIntensity_x\tFOM1\tLowerBound\t"
              "UpperBound\tIntensity_y\n"
              "7\t50\t52\t1\t3\t0.5\t1.5\tjunk\t11\t0.8\t0.1\t0.2\t22\n");
    auto r = ReadThroughEntryPoints("Thermo SIEVE File", dir.File("o.txt"));
    ASSERT_TRUE(r->Ok()) << r->error;
    ASSERT_EQ(r->Rows(), 14);
    EXPECT_EQ(r->Text(1, 13), "Intensity_x");
    // Average m/z and time, UpperBound, LowerBound, FOM1, Intensity_y.
    for (auto [row, want] : {std::pair{4, 51.0f}, {7, 2.0f}, {10, 0.2f}, {11, 0.1f}, {12, 0.8f}, {14, 22.0f}})
        EXPECT_EQ(r->Number(2, row), want) << row;
}

TEST(ThermoSIEVEFile, EveryFrameLineIsDeliveredAndMissingFieldsFail) {
    TempDir dir;
    // Blank lines (a doubled last line break, gaps, lines of spaces) make no frames.
    const std::string three = Sieve('\t', {}, 3), second = "\n2\t";
    std::string gaps = three;
    gaps.replace(gaps.find(second), second.size(), "\n\n \t \r\n2\t");
    const std::pair<const char*, std::string> files[] = {{"final line break", three},
                                                         {"no final line break", Sieve('\t', {}, 3, false)},
                                                         {"blank last line", three + "\n"},
                                                         {"blank lines between and after", gaps + "  \r\n\n"}};
    for (const auto& [name, text] : files) {
        SCOPED_TRACE(name);
        WriteFile(dir.File("f.txt"), text);
        auto r = ReadThroughEntryPoints("Thermo SIEVE File", dir.File("f.txt"));
        ASSERT_TRUE(r->Ok()) << r->error;
        ASSERT_EQ(r->Cols(), 4);
        EXPECT_EQ(r->rows, 5);  // the size query: frames plus two
        EXPECT_EQ(r->Number(2, 1), 1.0f);
        EXPECT_EQ(r->Number(3, 4), 200.5f);
        EXPECT_EQ(r->Number(4, 1), 3.0f);  // the last frame
        EXPECT_EQ(r->Number(4, 4), 300.5f);
    }
    {
        // Only the columns the target asks for.
        WriteFile(dir.File("f.txt"), Sieve('\t', {}, 3));
        ThermoSIEVEFile f;
        ASSERT_EQ(f.Open(true, dir.File("f.txt").c_str(), nullptr), 0);
        RecordingTable t;
        t.nextRow = [](int row) { return row == 0 ? 2 : row + 2; };
        ASSERT_EQ(f.Read(&t), 0);
        EXPECT_EQ(t.texts.count({1, 1}), 0u);
        EXPECT_EQ(t.texts.count({3, 1}), 0u);
        EXPECT_EQ(t.texts[std::make_pair(2, 1)], "1");
        EXPECT_EQ(t.texts[std::make_pair(4, 1)], "3");
    }
    {
        // The first seven names make the file recognised; without FOM1 the read fails.
        WriteFile(dir.File("nofom.txt"), "FrameID\tMZStart\tMZStop\tTimeStart\tTimeStop\tpValue\tRatio\tUpperBound\t"
                                         "LowerBound\n1\t2\t3\t4\t5\t6\t7\t8\t9\n");
        EXPECT_TRUE(ThermoSIEVEFile::IsThermoSIEVEFile(dir.File("nofom.txt").c_str()));
        ThermoSIEVEFile f;
        ASSERT_EQ(f.Open(true, dir.File("nofom.txt").c_str(), nullptr), 0);
        RecordingTable t;
        EXPECT_EQ(f.Read(&t), 1536);
        EXPECT_TRUE(t.texts.empty() && t.sizes.empty());
        EXPECT_EQ(ErrorOf(f), "The file does not seem to be an Thermo SIEVE File.");
    }
    {
        // A header with tens of thousands of fields over lines that hold almost nothing costs
        // what the lines hold, not lines times fields.
        std::string header = Sieve('\t', {}, 0);
        header.pop_back();
        for (int i = 0; i < 50000; ++i) header += "\tIntensity_" + std::to_string(i);
        std::string text = header + "\n";
        for (int i = 0; i < 2000; ++i) text += std::to_string(i) + "\n";
        WriteFile(dir.File("wide.txt"), text);
        ThermoSIEVEFile f;
        ASSERT_EQ(f.Open(true, dir.File("wide.txt").c_str(), nullptr), 0);
        EXPECT_EQ(f.GetNumCols(), 50010);
        RecordingTable t;
        t.nextRow = [](int row) { return row < 3 ? row + 1 : -1; };
        ASSERT_EQ(f.Read(&t), 0);
        EXPECT_EQ(t.sizes.back(), std::make_pair(2001, 50012));
        EXPECT_EQ(t.texts[std::make_pair(3, 1)], "1");
    }
}
