// Every Galactic SPC file of the corpus reads, or ends with its code; every one read matches
// the values an independent reader (spc-parser, tests/peers/spc_expected.js) gave for it.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "formats/spectral/GalacticSPCFile.h"
#include "tests/formats/spectral/SpectralTestSupport.h"

namespace {

using namespace kelto::test;
using namespace kelto::test::spectral;

const std::string kDir = std::string(KELTO_CORPUS_DIR) + "/spc/";

struct Expected {
    std::vector<double> x;
    std::vector<std::vector<double>> y;
};

Expected Load(const std::string& path) {
    Expected e;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string kind, value;
        std::getline(fields, kind, '\t');
        std::vector<double> values;
        while (std::getline(fields, value, '\t')) values.push_back(std::stod(value));
        if (kind == "x") e.x = std::move(values);
        else if (kind == "y") e.y.push_back(std::move(values));
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

    std::ifstream manifest(kDir + "MANIFEST.tsv");
    ASSERT_TRUE(manifest) << "the corpus is missing";
    std::string line;
    std::getline(manifest, line);
    int files = 0, compared = 0;
    while (std::getline(manifest, line)) {
        const std::string name = line.substr(0, line.find('\t'));
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
