// The seeds and samples in the repository are the fixture builder's output, so that they can be
// reviewed and remade as code (KELTO_REMAKE_FIXTURES=1 writes them), and the samples read.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/formats/spectral/SpectralTestSupport.h"

using namespace kelto::test;
using namespace kelto::test::spectral;

TEST(SpectralCommittedFixtures, MatchTheBuilderAndRead) {
    for (const auto& [path, bytes] : CommittedFixtures()) {
        std::string full = std::string(KELTO_SOURCE_DIR) + "/" + path;
        if (std::getenv("KELTO_REMAKE_FIXTURES")) {
            std::filesystem::create_directories(std::filesystem::path(full).parent_path());
            WriteFile(full, std::string(bytes.begin(), bytes.end()));
        }
        EXPECT_EQ(ReadFile(full), std::string(bytes.begin(), bytes.end())) << path << " is not the builder's output";
    }
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

TEST(SpectralRegistry, RecordsAreExact) {
    for (const char* name : {"Brimrose File", "NSAS File"}) {
        const QmImportFileFormatInfo* info = SprFileFactory::GetInfo(FormatIndex(name));
        ASSERT_NE(FormatIndex(name), 0) << name;
        const bool brimrose = std::string(name) == "Brimrose File";
        EXPECT_STREQ(info->filter, brimrose ? "Brimrose Files (*.dat)" : "NSAS Files (*.da)");
        EXPECT_EQ(info->saveFilter, nullptr);
        EXPECT_EQ(info->extensionCount, 1);
        EXPECT_STREQ(info->extensions, brimrose ? ".dat" : ".da");
        const signed char flags[] = {info->canWrite, info->canRead, info->multiFile, info->tableFlag, info->formatFlag, info->priority};
        EXPECT_EQ(std::vector<signed char>(flags, flags + 6), (std::vector<signed char>{0, 1, 0, 1, 0, 1}));
    }
}
