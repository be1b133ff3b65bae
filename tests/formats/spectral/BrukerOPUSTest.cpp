// The Bruker OPUS readers on the corpus files (against the independent decoder's values) and
// on files from the fixture builder.
#include <cmath>
#include <filesystem>

#include <gtest/gtest.h>

#include "formats/spectral/BrukerOPUS.h"
#include "platform/Prompt.h"
#include "plugin/ImportSpecBase.h"
#include "tests/formats/spectral/OpusFixtures.h"
#include "tests/formats/spectral/SpectralTestSupport.h"

using namespace kelto::test;
using namespace kelto::test::spectral;
using P = OpusParameter;

namespace {

const std::string kCorpus = std::string(KELTO_CORPUS_DIR) + "/opus/";

// Counts the questions and gives one answer; puts the old hook back when done.
struct PromptAnswers {
    explicit PromptAnswers(kelto::platform::PromptAnswer answer)
        : old(kelto::platform::SetPromptHook([this, answer](const std::string& q) {
              questions.push_back(q);
              return answer;
          })) {}
    ~PromptAnswers() { kelto::platform::SetPromptHook(old); }
    std::vector<std::string> questions;
    kelto::platform::PromptHook old;
};

class OpusTest : public ::testing::Test {
protected:
    std::string Put(const std::string& name, const std::vector<std::uint8_t>& bytes) { return Write(dir, name, bytes); }
    TempDir dir;
};

}  // namespace

// Every corpus file read alone equals the independent decoder's values: the names, the x
// axis from its first and last x, and every value times the scale factor. Read onto its own
// axis, the interpolated reader gives the same values.
TEST(OpusCorpus, EveryFileMatchesThePeer) {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kCorpus)) {
        const std::string name = entry.path().filename().string();
        if (name == "MANIFEST.tsv" || name == "expected") continue;
        SCOPED_TRACE(name);
        ++files;
        KeyedValues e = LoadKeyedValues(kCorpus + "expected/" + name + ".tsv");
        ASSERT_FALSE(e.y.empty()) << "no expected values";
        const int points = std::stoi(e.keys["points"]);
        ASSERT_EQ(static_cast<std::size_t>(points), e.y.size());
        for (bool interpolated : {false, true}) {
            FloatStringSpreadsheetData t;
            Outcome r = interpolated ? ReadDirect<BrukerOPUSInterpolated>(entry.path().string(), t)
                                     : ReadDirect<BrukerOPUS>(entry.path().string(), t);
            ASSERT_EQ(r.read, 0) << r.error;
            ASSERT_EQ(r.cols, points + 5);
            EXPECT_EQ(r.rows, 3);
            EXPECT_EQ(Text(t, 6, 1), "Var_1");
            EXPECT_EQ(Text(t, points + 5, 1), "Var_" + std::to_string(points));
            EXPECT_EQ(t.IsMisVal(1, 2) ? "" : Text(t, 1, 2), e.keys["dxu"] == "WN" ? "Wavenumber cm-1" : e.keys["dxu"]);
            EXPECT_EQ(Text(t, 1, 3), name);
            auto text = [&](int col) { return t.IsMisVal(col, 3) ? std::string() : Text(t, col, 3); };
            EXPECT_EQ(text(2), e.keys["snm"]);
            EXPECT_EQ(text(3), e.keys["sfm"]);
            EXPECT_EQ(text(4), e.keys["dat"]);
            EXPECT_EQ(text(5), e.keys["tim"]);
            const double first = std::stod(e.keys["firstx"]), last = std::stod(e.keys["lastx"]);
            EXPECT_EQ(t.GetFloatData(6, 2), static_cast<float>(first));
            EXPECT_EQ(t.GetFloatData(points + 5, 2), static_cast<float>(last));
            for (int i = 0; i < points; ++i) {
                ASSERT_EQ(t.GetFloatData(i + 6, 3), static_cast<float>(e.y[static_cast<std::size_t>(i)]))
                    << "point " << i + 1 << (interpolated ? " (interpolated)" : "");
            }
        }
    }
    EXPECT_EQ(files, 6);
}

// The point counts differ between the corpus files: the reader as stored refuses them
// together, the interpolated reader maps all of them onto the first file's axis.
TEST(OpusCorpus, FilesOfDifferentLengthTogether) {
    const std::string argument = Several(kCorpus, {"opusreader2_BF_lo_01_soil_cal.1", "brukeropus_file.0"});
    FloatStringSpreadsheetData t, u;
    Outcome r = ReadDirect<BrukerOPUS>(argument, t);
    EXPECT_EQ(r.open, 4);
    EXPECT_EQ(r.error, "Not all files have the same number of x-values.\n\nThe file " + kCorpus +
                           "opusreader2_BF_lo_01_soil_cal.1 has 1716 values but the file " + kCorpus +
                           "brukeropus_file.0 has 4927.");
    r = ReadDirect<BrukerOPUSInterpolated>(argument, u);
    ASSERT_EQ(r.read, 0) << r.error;
    EXPECT_EQ(r.cols, 1716 + 5);
    // 3997.4 .. 499.7 lies inside the second file's 9997.7 .. 499.4: no target is missing.
    for (int c = 6; c <= r.cols; ++c) ASSERT_FALSE(u.IsMisVal(c, 4)) << c;
}

// Which parameter set is kept: the first with the largest point count that fits the data block.
TEST_F(OpusTest, KeptParameterSetFitsTheDataBlock) {
    struct Case {
        std::uint32_t dataWords;
        int points;
        double first;
    } cases[] = {{1024, 1024, 100}, {600, 512, 200}, {1023, 512, 200}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.dataWords);
        OpusBlock data = OpusBlock::Floats(0x100F, std::vector<float>(1024, 1.0f));
        data.lengthWords = k.dataWords;
        std::vector<OpusBlock> blocks{
            data,
            OpusBlock::Parameters(0x101F, {P::Int("NPT", 1024), P::Double("FXV", 100), P::Double("LXV", 1), P::Double("CSF", 1)}),
            OpusBlock::Parameters(0x101F | 0x40000000, {P::Int("NPT", 512), P::Double("FXV", 200), P::Double("LXV", 2)}),
            OpusBlock::Parameters(0x581F, {P::Int("NPT", 512), P::Double("FXV", 300)}),  // not larger: passed over
            OpusBlock::Parameters(0x30, {P::Double("FXV", 5), P::Text("SNM", "later")}),  // no NPT: never kept
        };
        FloatStringSpreadsheetData t;
        Outcome r = ReadDirect<BrukerOPUS>(Put("a.0", BuildOpus(blocks)), t);
        ASSERT_EQ(r.read, 0) << r.error;
        EXPECT_EQ(r.cols, k.points + 5);
        EXPECT_EQ(t.GetFloatData(6, 2), k.first);
        EXPECT_EQ(Text(t, 2, 3), "later");
    }
}

TEST_F(OpusTest, FaultsEndWithTheirTexts) {
    Opus o;
    auto withStatus = [&](std::vector<P> params, bool end = true) {
        auto blocks = o.Blocks();
        blocks.back() = OpusBlock::Parameters(0x101F, params, end);
        return BuildOpus(blocks);
    };
    auto bytes = o.Build();
    auto badMagic = bytes;
    badMagic[3] = 0xFF;
    auto noStatus = o.Blocks();
    noStatus.pop_back();
    auto cutHead = withStatus({P::Int("NPT", 8)}, false);
    cutHead.insert(cutHead.end(), {'C', 'S', 'F', 0, 1, 0});  // a parameter head of 6 bytes at the very end
    auto directoryBeyond = bytes;
    kelto::platform::StoreLE<std::uint32_t>(directoryBeyond.data() + 20, 1000);
    auto blocks = o.Blocks();
    blocks[2].lengthWords = 1 << 20;  // the data block claims far more than the file holds
    blocks.back() = OpusBlock::Parameters(0x101F, {P::Int("NPT", 1 << 20)});
    const std::string prefix = dir.File("");
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        std::string error;
    } cases[] = {
        {"magic.0", badMagic, prefix + "magic.0 does not seem to be a supported Bruker OPUS file."},
        {"nostatus.0", BuildOpus(noStatus),
         "Could not find any data in '" + prefix + "nostatus.0'. Import aborted.\n\n(Sample and reference data cannot be imported.} "},
        {"dpf.0", withStatus({P::Int("DPF", 2), P::Int("NPT", 8)}),
         "dpf.0: The Bruker OPUS File import does currently not support files where data has not been saved as 'REAL32'. Import aborted."},
        {"cut.0", cutHead, "A corrupt data status block was found in the file '" + prefix + "cut.0'. Import aborted."},
        {"shortvalue.0", withStatus({P{"NPT", {1, 0}}}), "A corrupt data status block was found in the file '" + prefix + "shortvalue.0'. Import aborted."},
        {"dir.0", directoryBeyond, "A corrupt header block was found in the file '" + prefix + "dir.0'. Import aborted."},
        {"header.0", std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 20),
         "A corrupt header block was found in the file '" + prefix + "header.0'. Import aborted."},
        {"huge.0", BuildOpus(blocks), "The file '" + prefix + "huge.0' seems to be corrupt."},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        FloatStringSpreadsheetData t;
        Outcome r = ReadDirect<BrukerOPUS>(Put(k.name, k.bytes), t);
        EXPECT_EQ(r.open, 4);
        EXPECT_EQ(r.error, k.error);
    }
    BrukerOPUS w;
    EXPECT_EQ(w.Open(false, Put("w.0", bytes).c_str(), nullptr), 3);

    // The data shrinks between Open and Read.
    const std::string path = Put("shrinks.0", bytes);
    BrukerOPUS f;
    ASSERT_EQ(f.Open(true, path.c_str(), nullptr), 0);
    std::filesystem::resize_file(path, bytes.size() - o.Blocks().back().bytes.size() - 20);
    FloatStringSpreadsheetData t;
    t.SetDataSize(f.GetNumCols(), f.GetNumRows());
    EXPECT_EQ(f.Read(&t), 4);
    EXPECT_EQ(MessageOf(f), "The file '" + path + "' seems to be corrupt.");
}

// Files of one length with other x ranges: the user is asked once and may stop the read.
TEST_F(OpusTest, ShiftedFilesAskTheUserOnce) {
    Opus a, b, c;
    b.first = 4001, c.first = 4002;
    Put("a.0", a.Build()), Put("b.0", b.Build()), Put("c.0", c.Build());
    const std::string argument = Several(dir.File(""), {"a.0", "b.0", "c.0"});
    for (auto answer : {kelto::platform::PromptAnswer::No, kelto::platform::PromptAnswer::Yes}) {
        PromptAnswers prompt(answer);
        FloatStringSpreadsheetData t;
        Outcome r = ReadDirect<BrukerOPUS>(argument, t);
        ASSERT_EQ(prompt.questions.size(), 1u);
        EXPECT_NE(prompt.questions[0].find("File: " + dir.File("b.0") + "; first X value: 4001; last X value: 3993\n"),
                  std::string::npos)
            << prompt.questions[0];
        if (answer == kelto::platform::PromptAnswer::No) {
            EXPECT_EQ(r.open, 4);
            EXPECT_EQ(r.error, "Import canceled.");
        } else {
            ASSERT_EQ(r.read, 0) << r.error;
            EXPECT_EQ(r.rows, 5);
            EXPECT_EQ(t.GetFloatData(13, 5), 7.5f);
        }
    }
    // A difference below the relative tolerance is no difference.
    Opus d;
    d.first = std::nextafter(4000.0, 5000.0);
    Put("d.0", d.Build());
    PromptAnswers prompt(kelto::platform::PromptAnswer::No);
    FloatStringSpreadsheetData t;
    EXPECT_EQ(ReadDirect<BrukerOPUS>(Several(dir.File(""), {"a.0", "d.0"}), t).read, 0);
    EXPECT_TRUE(prompt.questions.empty());
}

TEST_F(OpusTest, XUnitNamesMatchWholeCodes) {
    const std::pair<const char*, const char*> units[] = {
        {"WN", "Wavenumber cm-1"}, {"MI", "Micron"}, {"LGW", "Log Wavenumber"}, {"MIN", "Minutes"},
        {"PNT", "Points"},         {"WNX", "WNX"},   {"", ""}};
    for (const auto& [code, name] : units) {
        Opus o;
        o.unit = code;
        FloatStringSpreadsheetData t;
        ASSERT_EQ(ReadDirect<BrukerOPUS>(Put("u.0", o.Build()), t).read, 0);
        EXPECT_EQ(t.IsMisVal(1, 2) ? "" : Text(t, 1, 2), name);
    }
}

// A common axis two spacings beyond the file at both ends (and half-way between its points).
TEST_F(OpusTest, InterpolationOntoACommonAxis) {
    Opus o;  // x 4000 .. 3993 in steps of -1, y = 0.5 + i, scaled by 2
    o.scale = 2;
    BatchImportSettings::BrukerOptions settings;
    settings.points = 25;
    settings.firstX = 4002.5;
    settings.lastX = 3990.5;  // steps of -0.5
    auto record = CreateBrukerImportOptions(settings);
    FloatStringSpreadsheetData t;
    Outcome r = ReadDirect<BrukerOPUSInterpolated>(Put("o.0", o.Build()), t, record.get());
    ASSERT_EQ(r.read, 0) << r.error;
    ASSERT_EQ(r.cols, 30);
    EXPECT_EQ(t.GetFloatData(6, 2), 4002.5f);
    for (int k = 0; k < 25; ++k) {
        const double X = 4002.5 - 0.5 * k;
        const int col = k + 6;
        SCOPED_TRACE(X);
        if (X > 4002 || X < 3991) {
            EXPECT_TRUE(t.IsMisVal(col, 3));  // an empty cell: farther than twice the spacing
        } else if (X > 4000) {
            EXPECT_EQ(t.GetFloatData(col, 3), 1.0f);  // the end value
        } else if (X < 3993) {
            EXPECT_EQ(t.GetFloatData(col, 3), 15.0f);
        } else {
            EXPECT_EQ(t.GetFloatData(col, 3), static_cast<float>(2 * (0.5 + (4000 - X))));
        }
    }

    // Missing source values are passed over; a point count below 2 or above the bound is refused.
    const std::vector<float> y{1, -99, 3, 4};
    const std::vector<float> axis{10, 11, 12, 13, 14};
    EXPECT_EQ(kelto::spectral::InterpolateOntoAxis(10, 13, y, axis), (std::vector<float>{1, 2, 3, 4, 4}));
    EXPECT_TRUE(kelto::spectral::InterpolateOntoAxis(10, 10, {1}, axis).empty());
    for (int points : {1, -3, BrukerOPUSBase::kMaxInterpolatedPoints + 1}) {
        settings.points = points;
        auto bad = CreateBrukerImportOptions(settings);
        FloatStringSpreadsheetData u;
        Outcome s = ReadDirect<BrukerOPUSInterpolated>(dir.File("o.0"), u, bad.get());
        EXPECT_EQ(s.open, SpreadsheetFile::kBadOptions) << points;
        EXPECT_NE(s.error.find(std::to_string(points)), std::string::npos) << s.error;
    }
}

// An options record without data is filled from the first file; the reader as stored
// replaces any record it is given with the first file's.
TEST_F(OpusTest, OptionsRecordsAreWrittenBack) {
    Opus o;
    const std::string path = Put("o.0", o.Build());
    for (bool interpolated : {false, true}) {
        ImportOptionsHelper::OpenOptions empty;
        BatchImportSettings::BrukerOptions other;
        other.points = 3;
        auto given = CreateBrukerImportOptions(other);
        QmImportOpenOptions* record = interpolated ? static_cast<QmImportOpenOptions*>(&empty) : given.get();
        FloatStringSpreadsheetData t;
        Outcome r = interpolated ? ReadDirect<BrukerOPUSInterpolated>(path, t, record) : ReadDirect<BrukerOPUS>(path, t, record);
        ASSERT_EQ(r.read, 0) << r.error;
        auto back = GetBrukerImportOptions(*record);
        EXPECT_EQ(record->size, 21);
        EXPECT_EQ(back.points, 8);
        EXPECT_EQ(back.firstX, 4000);
        EXPECT_EQ(back.lastX, 3993);
        EXPECT_EQ(back.flag, -1);
    }
}

namespace {
struct RecordingSpec : ImportSpecBase {
    std::vector<std::string> calls;
    void AnnounceSize(int rows, int cols) override { calls.push_back("size " + std::to_string(rows) + " " + std::to_string(cols)); }
    void SetColumnRole(int col, int role) override { calls.push_back("col " + std::to_string(col) + " " + std::to_string(role)); }
    void SetHeaderRole(int line, int role) override { calls.push_back("row " + std::to_string(line) + " " + std::to_string(role)); }
};
}  // namespace

TEST_F(OpusTest, ImportSpecGetsTheRoles) {
    RecordingSpec spec;
    BrukerOPUS f;
    ASSERT_EQ(f.Open(true, Put("o.0", Opus{}.Build()).c_str(), nullptr), 0);
    f.SetImportSpec(&spec);
    FloatStringSpreadsheetData t;
    t.SetDataSize(f.GetNumCols(), f.GetNumRows());
    ASSERT_EQ(f.Read(&t), 0);
    EXPECT_EQ(spec.calls, (std::vector<std::string>{"size 3 13", "col 1 5", "col 2 6", "col 3 6", "col 4 6", "col 5 6",
                                                     "row 1 27", "row 2 29"}));
    EXPECT_TRUE(spec.rolesSet);
}

TEST_F(OpusTest, KindOfFileTestsEveryFile) {
    Put("a.0", Opus{}.Build());
    Put("b.1", Opus{}.Build());
    Write(dir, "c.txt", {'x', 'y', 'z', 'w', 'v'});
    for (const char* format : {"Bruker OPUS File", "Bruker OPUS Interpolated File"}) {
        const int index = FormatIndex(format);
        ASSERT_GT(index, 0) << format;
        EXPECT_EQ(SprFileFactory::IsMyKindOfFile(index, Several(dir.File(""), {"a.0", "b.1"}).c_str()), SprFileFactory::IsMyKind);
        EXPECT_EQ(SprFileFactory::IsMyKindOfFile(index, Several(dir.File(""), {"a.0", "c.txt"}).c_str()), SprFileFactory::LikelyMyKind);
        EXPECT_EQ(SprFileFactory::IsMyKindOfFile(index, dir.File("c.txt").c_str()), SprFileFactory::NotMyKind);
    }
}

// The seeds and the sample are the builder's output.
TEST(OpusCommittedFixtures, MatchTheBuilderAndRead) {
    auto input = [](std::uint8_t flags, const std::vector<std::uint8_t>& file, const QmImportOpenOptions* record = nullptr) {
        std::vector<std::uint8_t> out{flags};
        if (record) out.insert(out.end(), record->data, record->data + record->size);
        out.insert(out.end(), file.begin(), file.end());
        return out;
    };
    Opus sample;
    sample.points = 40;
    sample.first = 1100, sample.last = 2660;
    sample.unit = "MI";
    sample.sample = "Wheat flour";
    sample.y = [](int i) { return 0.25f + 0.01f * static_cast<float>(i % 7); };
    BatchImportSettings::BrukerOptions settings;
    settings.points = 5, settings.firstX = 4001, settings.lastX = 3994;
    auto record = CreateBrukerImportOptions(settings);
    auto twoSets = Opus{}.Blocks();
    twoSets.push_back(OpusBlock::Parameters(0x581F, {P::Int("NPT", 4), P::Double("FXV", 1)}));
    ExpectCommitted({
        {"fuzz/corpus/opus/plain.bin", input(0, Opus{}.Build())},
        {"fuzz/corpus/opus/interpolated_twice.bin", input(3, Opus{}.Build())},
        {"fuzz/corpus/opus/interpolated_options.bin", input(5, Opus{}.Build(), record.get())},
        {"fuzz/corpus/opus/two_status_blocks.bin", input(0, BuildOpus(twoSets))},
        {"samples/opus_absorbance.0", sample.Build()},
    });
    FloatStringSpreadsheetData t;
    Outcome r = ReadViaHost("Bruker OPUS File", KELTO_SOURCE_DIR "/samples/opus_absorbance.0", t);
    ASSERT_EQ(r.read, 0) << r.error;
    EXPECT_EQ(r.cols, 45);
    EXPECT_EQ(Text(t, 1, 2), "Micron");
    EXPECT_EQ(t.GetFloatData(7, 2), 1140.0f);
    EXPECT_EQ(t.GetFloatData(8, 3), 0.27f);
}
