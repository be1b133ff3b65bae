// Choosing a format for a file: kind-of-file answers, extensions, SelectFormat, and the
// extension lookup.
#include <gtest/gtest.h>

#include <algorithm>

#include "HostTestSupport.h"

using namespace hosttest;
using Names = std::vector<std::string>;

TEST(Detection, SureAnswersThenCandidatesNarrowedByTheExtension) {
    TempDir dir;
    RecordingLoader loader;
    struct Case {
        const char* file;
        const char* firstLine;
        Names choices;  // what SelectFormat is asked to choose from; empty: it is not asked
        const char* detected;
    };
    const Case cases[] = {
        // Two sure answers: the likely one is no candidate any more.
        {"two.zz", "#alpha! beta! gamma?", {"Host Alpha", "Host Beta"}, "Host Alpha"},
        // One sure answer needs no choice, whatever the candidates and the extension.
        {"one.ha", "#gamma! alpha?", {}, "Host Gamma"},
        // Two likely formats share ".hb": the choice is between exactly those two.
        {"x.hb", "#beta? gamma?", {"Host Beta", "Host Gamma"}, "Host Beta"},
        // Only Beta lists ".HBB" (case ignored): no choice to make.
        {"x.HBB", "#beta? gamma?", {}, "Host Beta"},
    };
    for (const Case& c : cases) {
        WriteFile(dir / c.file, std::string(c.firstLine) + "\n1\n");
        loader.calls = 0;
        EXPECT_EQ(loader.GetSpreadsheetFileIndex((dir / c.file).c_str()), loader.IndexOf(c.detected)) << c.file;
        EXPECT_EQ(loader.calls, c.choices.empty() ? 0 : 1) << c.file;
        if (!c.choices.empty()) {
            EXPECT_EQ(loader.seen, c.choices) << c.file;
        }
    }

    // No candidate lists the extension: SelectFormat sees every candidate. A library without a
    // kind-of-file test (echo) is always one; formats that answer "no", and formats that
    // cannot read, never are.
    WriteFile(dir / "x.qqq", "#beta? writer?\n1\n");
    const int chosen = loader.GetSpreadsheetFileIndex((dir / "x.qqq").c_str());
    auto seen = [&](const char* name) { return std::count(loader.seen.begin(), loader.seen.end(), name) == 1; };
    EXPECT_TRUE(seen("Host Beta") && seen("Host Echo"));
    EXPECT_FALSE(seen("Host Alpha") || seen("Host Gamma") || seen("Host Writer"));
    ASSERT_FALSE(loader.seen.empty());
    EXPECT_EQ(chosen, loader.IndexOf(loader.seen.front()));
}

TEST(Detection, APathThatDoesNotExistIsJudgedByItsExtensionAlone) {
    TempDir dir;
    RecordingLoader loader;
    // Readable or not: only the write-only format lists ".hw".
    EXPECT_EQ(loader.GetSpreadsheetFileIndex((dir / "new.hw").c_str()), loader.IndexOf("Host Writer"));
    EXPECT_EQ(loader.GetSpreadsheetFileIndex((dir / "new.HB").c_str()), loader.IndexOf("Host Beta"));
    EXPECT_EQ(loader.seen, (Names{"Host Beta", "Host Gamma"}));
    // No extension (a dot in a directory name does not make one): nothing to go by.
    EXPECT_EQ(loader.GetSpreadsheetFileIndex((dir / "new").c_str()), -1);
    EXPECT_EQ(loader.GetSpreadsheetFileIndex((dir / "sub.hw/new").c_str()), -1);
    EXPECT_EQ(loader.GetSpreadsheetFileIndex(nullptr), -1);
    EXPECT_EQ(loader.GetInfo(loader.SizeInfos() + 1), nullptr);
    EXPECT_EQ(loader.GetSpreadsheetFile(loader.SizeInfos() + 1), nullptr);
}

TEST(Detection, ExtensionLookupCountsOnlyTheFormatsThatPassTheFilters) {
    RecordingLoader loader;
    int writable = 0, writerOrdinal = -1;
    for (int i = 1; i <= loader.SizeInfos(); ++i)
        if (loader.GetInfo(i)->canWrite && ++writable && std::string(loader.GetInfo(i)->name) == "Host Writer")
            writerOrdinal = writable;
    ASSERT_GT(writerOrdinal, 1);
    EXPECT_EQ(loader.GetFormatIndex("out.hw", true, false), writerOrdinal);
    EXPECT_EQ(loader.GetFormatIndex("out.hw", false, true), -1);
    EXPECT_EQ(loader.GetFormatIndex("in.HBB", false, false), loader.IndexOf("Host Beta"));
    EXPECT_EQ(loader.GetFormatIndex("noextension", false, false), -1);
}
