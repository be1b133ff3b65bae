// The Brimrose and NSAS seeds and samples are the fixture builder's output, and the samples read.
#include <gtest/gtest.h>

#include "tests/formats/spectral/SpectralTestSupport.h"

using namespace kelto::test;
using namespace kelto::test::spectral;

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
